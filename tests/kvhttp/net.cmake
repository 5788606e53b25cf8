# Tests of kv_kvhttp_net: value types, parsers, and http_stream against real servers.
kv_test(kvhttp_net_values_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ParsedUrlTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CookiesTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ErrorTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/ChunkedDecoderTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/ResponseHeadTest.cpp
  DEPS kv::kvhttp_net
  LABELS engine)

kv_test(kvhttp_http_stream_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_streamTest.cpp
  DEPS kv::kvhttp_net
  LABELS engine)

# Starters of the fault server and the proxies, for every engine and client test.
add_library(kv_fault_server_fixture STATIC
  ${CMAKE_CURRENT_LIST_DIR}/support/FaultServer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/ProxyServers.cpp)
add_library(kv::fault_server_fixture ALIAS kv_fault_server_fixture)
target_link_libraries(kv_fault_server_fixture PUBLIC kv::test_support)

kv_test(kvhttp_http_stream_fault_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_streamFaultTest.cpp
  DEPS kv::kvhttp_net kv::fault_server_fixture
  LABELS engine)

kv_test(kvhttp_http_stream_proxy_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_streamProxyTest.cpp
  DEPS kv::kvhttp_net kv::fault_server_fixture
  LABELS engine)
