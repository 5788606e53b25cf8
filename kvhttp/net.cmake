# URL, settings, cookies, error codes and the HTTP stream.
kv_library(kvhttp_net
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/ParsedUrl.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RequestOptions.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Error.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Cookies.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CookieDate.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/ResponseHead.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/ChunkedDecoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/http_stream.cpp
    ${CMAKE_CURRENT_LIST_DIR}/http_stream_connect.cpp
    ${CMAKE_CURRENT_LIST_DIR}/http_stream_request.cpp
  DEPS Boost::system Boost::thread Boost::date_time OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
# GCC warns that Asio's fences are invisible to ThreadSanitizer; its mutexes order what matters.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND KV_SANITIZE MATCHES "thread")
  target_compile_options(kv_kvhttp_net PUBLIC -Wno-tsan)
endif()
