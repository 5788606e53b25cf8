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
