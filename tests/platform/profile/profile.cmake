kv_test(platform_profile_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ProfileTest.cpp
  DEPS kv::platform_profile)
