add_library(kv_web_test_server STATIC ${CMAKE_CURRENT_LIST_DIR}/support/ScriptedServer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/support/TunnelProxy.cpp)
add_library(kv::web_test_server ALIAS kv_web_test_server)
target_include_directories(kv_web_test_server PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(kv_web_test_server PUBLIC Threads::Threads)

kv_test(platform_web_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebRequestTest.cpp
  DEPS kv::platform_web kv::web_test_server)

kv_test(platform_system_proxy_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SystemProxyTest.cpp
  DEPS kv::platform_web)
