# The web request layer (the only place that includes libcurl) and the desktop's proxy settings
# (GIO's proxy resolver).
pkg_check_modules(GIO REQUIRED IMPORTED_TARGET gio-2.0)
kv_library(platform_web
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/WebRequest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WebErrors.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SystemProxy.cpp
    ${CMAKE_CURRENT_LIST_DIR}/detail/CurlTransfer.cpp
  DEPS kv::platform CURL::libcurl PkgConfig::GIO Threads::Threads)
