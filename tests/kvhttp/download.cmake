# Tests of storage, resume record, segmented downloader and driver.
foreach(_t storageTest BencodeTest RangeSetTest PieceBitfieldTest ResumeRecordTest)
  kv_test(kvhttp_${_t} SOURCES ${CMAKE_CURRENT_LIST_DIR}/${_t}.cpp DEPS kv::kvhttp LABELS engine)
endforeach()
kv_test(kvhttp_UrlTextTest SOURCES ${CMAKE_CURRENT_LIST_DIR}/detail/UrlTextTest.cpp DEPS kv::kvhttp
  LABELS engine)

add_library(kv_download_harness STATIC ${CMAKE_CURRENT_LIST_DIR}/support/DownloadHarness.cpp)
target_link_libraries(kv_download_harness PUBLIC kv::kvhttp kv::test_support)

kv_test(kvhttp_multi_downloadTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/multi_downloadTest.cpp
  DEPS kv_download_harness kv::fault_server_fixture
  LABELS engine
  TIMEOUT 600)

kv_test(kvhttp_HttpDownloadTest
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/HttpDownloadTest.cpp
  DEPS kv_download_harness kv::fault_server_fixture
  LABELS engine
  TIMEOUT 600)

if("tools" IN_LIST KV_COMPONENTS)
  kv_test(kvhttp_kvgetTest
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/kvgetTest.cpp
    DEPS kv_download_harness
    LABELS engine
    TIMEOUT 600)
  add_dependencies(kvhttp_kvgetTest kvget)
endif()
