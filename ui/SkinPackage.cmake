# The skin package: a deflate zip of ui/skin/*.xml and ui/skin/img/*.png made at build time,
# and kv_embed_skin(TARGET t), which links it in as "ZIPRES" 104 and ui/skin/icon.png as
# "ICON" 101.
set(KV_SKIN_DIR "${CMAKE_CURRENT_LIST_DIR}/skin" CACHE INTERNAL "")
set(KV_SKIN_ZIP "${CMAKE_BINARY_DIR}/ui/skin.zip" CACHE INTERNAL "")

file(GLOB _kv_skin_xml RELATIVE ${KV_SKIN_DIR} CONFIGURE_DEPENDS ${KV_SKIN_DIR}/*.xml)
file(GLOB _kv_skin_img RELATIVE ${KV_SKIN_DIR} CONFIGURE_DEPENDS ${KV_SKIN_DIR}/img/*.png)
set(_kv_skin_files ${_kv_skin_xml} ${_kv_skin_img})
list(SORT _kv_skin_files)

if(_kv_skin_files)
  kv_make_zip(OUTPUT ${KV_SKIN_ZIP} BASE_DIR ${KV_SKIN_DIR} FILES ${_kv_skin_files})
  add_custom_target(kv_skin_zip DEPENDS ${KV_SKIN_ZIP})
  set(KV_HAVE_SKIN ON CACHE INTERNAL "")
else()
  set(KV_HAVE_SKIN OFF CACHE INTERNAL "")
endif()

function(kv_embed_skin)
  cmake_parse_arguments(A "" "TARGET" "" ${ARGN})
  if(NOT KV_HAVE_SKIN)
    message(WARNING "kv_embed_skin(${A_TARGET}): ui/skin holds no skin files yet")
    return()
  endif()
  add_dependencies(${A_TARGET} kv_skin_zip)
  kv_embed_resource(TARGET ${A_TARGET} TYPE "ZIPRES" ID 104 FILE ${KV_SKIN_ZIP})
  if(EXISTS ${KV_SKIN_DIR}/icon.png)
    kv_embed_resource(TARGET ${A_TARGET} TYPE "ICON" ID 101 FILE ${KV_SKIN_DIR}/icon.png)
  endif()
endfunction()
