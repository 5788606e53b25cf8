kv_library(platform_profile
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/Profile.cpp
  DEPS kv::platform)
