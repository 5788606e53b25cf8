# The brand chosen with KV_BRAND_DIR: its build values, its language package and kv_embed_brand.
if(NOT EXISTS "${KV_BRAND_DIR}/brand.cmake")
  message(FATAL_ERROR "KV_BRAND_DIR='${KV_BRAND_DIR}' has no brand.cmake")
endif()
include("${KV_BRAND_DIR}/brand.cmake")

foreach(_kv_v FILE_DESCRIPTION FILE_VERSION CAROUSEL_HOST ANALYTICS_URL DEFAULT_BRAND_NAME)
  if(NOT DEFINED KV_BRAND_${_kv_v})
    message(FATAL_ERROR "${KV_BRAND_DIR}/brand.cmake does not set KV_BRAND_${_kv_v}")
  endif()
endforeach()
if(NOT DEFINED KV_BRAND_CAROUSEL_SCHEME)
  set(KV_BRAND_CAROUSEL_SCHEME "https")
endif()
if(KV_BRAND_ANALYTICS_RELAXED_CERTIFICATES)
  set(KV_BRAND_ANALYTICS_RELAXED_CERTIFICATES_CXX "true")
else()
  set(KV_BRAND_ANALYTICS_RELAXED_CERTIFICATES_CXX "false")
endif()
# Visible to every directory (the app and the tests read them too), renewed on each configure.
foreach(_kv_v FILE_DESCRIPTION FILE_VERSION CAROUSEL_SCHEME CAROUSEL_HOST ANALYTICS_URL
        DEFAULT_BRAND_NAME)
  set(KV_BRAND_${_kv_v} "${KV_BRAND_${_kv_v}}" CACHE INTERNAL "")
endforeach()

foreach(_kv_f language.ini productInfo.ini text.ini url.ini domain.txt)
  if(NOT EXISTS "${KV_BRAND_DIR}/${_kv_f}")
    message(FATAL_ERROR "KV_BRAND_DIR='${KV_BRAND_DIR}' has no ${_kv_f}")
  endif()
endforeach()

# Resource 105: the language package, made once per build tree.
set(KV_BRAND_LANGUAGE_ZIP "${CMAKE_BINARY_DIR}/brand/language.zip" CACHE INTERNAL "")
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/brand")
kv_make_zip(OUTPUT "${KV_BRAND_LANGUAGE_ZIP}" BASE_DIR "${KV_BRAND_DIR}"
  FILES language.ini productInfo.ini text.ini)
add_custom_target(kv_brand_language_zip DEPENDS "${KV_BRAND_LANGUAGE_ZIP}")

# Payload signing keys. The demo brand (KV_BRAND_DEMO_SIGNING_KEY) gets a key pair made once in
# this build folder, never in the sources; any other brand names its public keys
# (KV_BRAND_PUBLIC_KEYS, paths relative to its folder) and may give the private key to the build
# with -DKV_SIGNING_KEY=... for kv_sign_payload.
set(KV_SIGNING_KEY "" CACHE FILEPATH "Private key kv_sign_payload signs with (not for the demo brand)")
set(_kv_pub_files)
set(_kv_signing_key "${KV_SIGNING_KEY}")
if(KV_BRAND_DEMO_SIGNING_KEY)
  set(_kv_signing_key "${CMAKE_BINARY_DIR}/brand/demo-signing.key")
  list(APPEND _kv_pub_files "${_kv_signing_key}.pub")
  add_custom_command(OUTPUT "${_kv_signing_key}" "${_kv_signing_key}.pub"
    COMMAND openssl genpkey -algorithm ED25519 -out "${_kv_signing_key}"
    COMMAND chmod 600 "${_kv_signing_key}"
    COMMAND openssl pkey -in "${_kv_signing_key}" -pubout -out "${_kv_signing_key}.pub"
    COMMENT "Making the demo brand's signing key pair")
endif()
foreach(_kv_k IN LISTS KV_BRAND_PUBLIC_KEYS)
  if(IS_ABSOLUTE "${_kv_k}")
    list(APPEND _kv_pub_files "${_kv_k}")
  else()
    list(APPEND _kv_pub_files "${KV_BRAND_DIR}/${_kv_k}")
  endif()
endforeach()
set(KV_BRAND_SIGNING_KEY "${_kv_signing_key}" CACHE INTERNAL "")
set(KV_BRAND_PUBLIC_KEYS_PEM "")
if(_kv_pub_files)
  set(KV_BRAND_PUBLIC_KEYS_PEM "${CMAKE_BINARY_DIR}/brand/public-keys.pem")
  add_custom_command(OUTPUT "${KV_BRAND_PUBLIC_KEYS_PEM}"
    COMMAND ${CMAKE_COMMAND} -E cat ${_kv_pub_files} > "${KV_BRAND_PUBLIC_KEYS_PEM}"
    DEPENDS ${_kv_pub_files}
    COMMENT "Collecting the brand's public keys")
endif()
set(KV_BRAND_PUBLIC_KEYS_PEM "${KV_BRAND_PUBLIC_KEYS_PEM}" CACHE INTERNAL "")
add_custom_target(kv_brand_public_keys DEPENDS ${KV_BRAND_PUBLIC_KEYS_PEM})

# Constants of the program taken from the brand at build time.
configure_file("${CMAKE_CURRENT_LIST_DIR}/BrandConstants.h.in"
  "${CMAKE_BINARY_DIR}/generated/config/BrandConstants.h" @ONLY)

# kv_embed_brand(TARGET t [VERSION_RECORD]): links the brand's language package (105), domain
# code (106), URL configuration (107) and public keys (108, when it has any) into the
# executable t; with VERSION_RECORD also the brand's FileVersion and FileDescription.
function(kv_embed_brand)
  cmake_parse_arguments(A "VERSION_RECORD" "TARGET" "" ${ARGN})
  add_dependencies(${A_TARGET} kv_brand_language_zip kv_brand_public_keys)
  if(KV_BRAND_PUBLIC_KEYS_PEM)
    # The number is integrity::kResIdPublicKeys.
    kv_embed_resource(TARGET ${A_TARGET} TYPE "RCDATA" ID 108 FILE "${KV_BRAND_PUBLIC_KEYS_PEM}")
  endif()
  kv_embed_resource(TARGET ${A_TARGET} TYPE "RCDATA" ID 105 FILE "${KV_BRAND_LANGUAGE_ZIP}")
  kv_embed_resource(TARGET ${A_TARGET} TYPE "RCDATA" ID 106 FILE "${KV_BRAND_DIR}/domain.txt")
  kv_embed_resource(TARGET ${A_TARGET} TYPE "RCDATA" ID 107 FILE "${KV_BRAND_DIR}/url.ini")
  if(A_VERSION_RECORD)
    kv_version_record(TARGET ${A_TARGET} VERSION "${KV_BRAND_FILE_VERSION}"
      DESCRIPTION "${KV_BRAND_FILE_DESCRIPTION}")
  endif()
endfunction()

