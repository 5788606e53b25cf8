# The web request layer (the only place that includes libcurl).
kv_library(platform_web
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/WebRequest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WebErrors.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/CurlTransfer.cpp
  DEPS kv::platform CURL::libcurl Threads::Threads)
