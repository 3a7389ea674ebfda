fb_add_library(fb_res SOURCES ${CMAKE_CURRENT_LIST_DIR}/Resources.cpp)
