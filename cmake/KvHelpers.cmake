# Small helpers shared by every subsystem's CMakeLists.

# kv_library(NAME SOURCES ... [DEPS ...]) -> static library kv_<NAME>, alias kv::<NAME>.
function(kv_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(kv_${name} STATIC ${A_SOURCES})
  add_library(kv::${name} ALIAS kv_${name})
  target_include_directories(kv_${name} PUBLIC ${CMAKE_SOURCE_DIR})
  if(A_DEPS)
    target_link_libraries(kv_${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

# kv_test(NAME SOURCES ... [DEPS ...] [TIMEOUT s] [LABELS ...]) -> one gtest binary, one ctest entry.
function(kv_test name)
  cmake_parse_arguments(A "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_DEPS} kv::test_support GTest::gtest GTest::gmock GTest::gtest_main)
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "KV_SOURCE_DIR=${CMAKE_SOURCE_DIR};KV_BINARY_DIR=${CMAKE_BINARY_DIR}")
  if(A_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${A_LABELS}")
  endif()
endfunction()

# kv_make_zip(OUTPUT out.zip BASE_DIR dir FILES rel1 rel2 ...): a deflate zip made at build time,
# entries named by their path relative to BASE_DIR.
function(kv_make_zip)
  cmake_parse_arguments(A "" "OUTPUT;BASE_DIR" "FILES" ${ARGN})
  set(deps)
  foreach(f IN LISTS A_FILES)
    list(APPEND deps "${A_BASE_DIR}/${f}")
  endforeach()
  add_custom_command(OUTPUT ${A_OUTPUT}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${A_OUTPUT}
    COMMAND zip -q -X -D -9 ${A_OUTPUT} ${A_FILES}
    WORKING_DIRECTORY ${A_BASE_DIR}
    DEPENDS ${deps}
    COMMENT "Packing ${A_OUTPUT}")
endfunction()

# kv_embed_resource(TARGET t TYPE "ZIPRES" ID 104 FILE path): links the file's bytes into the
# target; platform::FindResource("ZIPRES", 104) returns them at run time.
function(kv_embed_resource)
  cmake_parse_arguments(A "" "TARGET;TYPE;ID;FILE" "" ${ARGN})
  string(MAKE_C_IDENTIFIER "kvres_${A_TARGET}_${A_TYPE}_${A_ID}" sym)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${A_TARGET}_resources)
  set(asm ${dir}/${sym}.S)
  set(reg ${dir}/${sym}.cpp)
  file(MAKE_DIRECTORY ${dir})
  file(WRITE ${asm}.in
    "    .section .rodata.${sym},\"a\"\n"
    "    .global ${sym}_begin\n    .global ${sym}_end\n    .balign 16\n"
    "${sym}_begin:\n    .incbin \"${A_FILE}\"\n${sym}_end:\n    .byte 0\n"
    "    .section .note.GNU-stack,\"\",@progbits\n")
  configure_file(${asm}.in ${asm} COPYONLY)
  file(WRITE ${reg}.in
    "#include \"platform/Resources.h\"\n"
    "extern \"C\" const unsigned char ${sym}_begin[];\n"
    "extern \"C\" const unsigned char ${sym}_end[];\n"
    "namespace {\nconst bool registered = platform::RegisterResource(\"${A_TYPE}\", ${A_ID}, ${sym}_begin, ${sym}_end);\n}\n")
  configure_file(${reg}.in ${reg} COPYONLY)
  set_source_files_properties(${asm} PROPERTIES OBJECT_DEPENDS "${A_FILE}")
  target_sources(${A_TARGET} PRIVATE ${asm} ${reg})
endfunction()

# kv_version_record(TARGET t VERSION a.b.c.d DESCRIPTION "text"): writes the version record
# (FileVersion and FileDescription) into the ".kv_version" section of the target's image.
function(kv_version_record)
  cmake_parse_arguments(A "" "TARGET;VERSION;DESCRIPTION" "" ${ARGN})
  string(REPLACE "." ";" parts "${A_VERSION}")
  list(LENGTH parts n)
  if(NOT n EQUAL 4)
    message(FATAL_ERROR "kv_version_record: VERSION must have four numbers, got '${A_VERSION}'")
  endif()
  list(GET parts 0 v0)
  list(GET parts 1 v1)
  list(GET parts 2 v2)
  list(GET parts 3 v3)
  string(HEX "${A_DESCRIPTION}" hex)
  string(REGEX REPLACE "(..)" "'\\\\x\\1'," bytes "${hex}")
  string(LENGTH "${A_DESCRIPTION}" len)
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${A_TARGET}_version_record.cpp)
  file(WRITE ${file}.in
    "// Generated: the version record read back by platform::ReadVersionRecord.\n"
    "#include \"platform/VersionRecord.h\"\n"
    "namespace {\n"
    "struct Record { platform::VersionRecordHeader header; char description[${len} + 1]; };\n"
    "[[gnu::section(\".kv_version\"), gnu::used]] const Record record = {\n"
    "  {{'K','V','V','E','R','0','1','\\0'}, {${v0}, ${v1}, ${v2}, ${v3}}, ${len}},\n"
    "  {${bytes} '\\0'}};\n}\n")
  configure_file(${file}.in ${file} COPYONLY)
  target_sources(${A_TARGET} PRIVATE ${file})
endfunction()

# kv_sign_payload(PAYLOAD file [KEY private.key] [TARGET name] [DEPENDS ...]): writes
# "<file>.sig", the payload's signed statement, at build time with `kvbrand sign`, again whenever
# the payload or the key changes. The key is KEY, else the brand's (the demo brand's own pair,
# or -DKV_SIGNING_KEY); without one nothing is signed. TARGET names a target that builds the
# statement with `all` (it exists, doing nothing, when nothing is signed); DEPENDS lists what
# makes the payload (targets or files). Builds without kvbrand (a narrower KV_COMPONENTS) sign
# nothing.
function(kv_sign_payload)
  cmake_parse_arguments(A "" "PAYLOAD;KEY;TARGET" "DEPENDS" ${ARGN})
  set(key "${A_KEY}")
  if(NOT key)
    set(key "${KV_BRAND_SIGNING_KEY}")
  endif()
  if(NOT ("config" IN_LIST KV_COMPONENTS AND "integrity" IN_LIST KV_COMPONENTS))
    set(key "")
  endif()
  if(NOT key)
    message(STATUS "kv_sign_payload: no signing key, ${A_PAYLOAD} stays unsigned")
    if(A_TARGET)
      add_custom_target(${A_TARGET})
    endif()
    return()
  endif()
  add_custom_command(OUTPUT "${A_PAYLOAD}.sig"
    COMMAND kvbrand sign "${key}" "${A_PAYLOAD}"
    DEPENDS kvbrand "${A_PAYLOAD}" "${key}" ${A_DEPENDS}
    COMMENT "Signing ${A_PAYLOAD}")
  if(A_TARGET)
    add_custom_target(${A_TARGET} ALL DEPENDS "${A_PAYLOAD}.sig")
  endif()
endfunction()
