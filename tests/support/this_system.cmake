# What each system answers its own way (this_system.h), a library of its own:
# for the suites that have no firmware, and for the benchmarks, which build
# also without the tests.
if(NOT TARGET tarnby_this_system)
  add_library(tarnby_this_system STATIC ${CMAKE_CURRENT_LIST_DIR}/this_system.cpp)
  target_include_directories(tarnby_this_system PUBLIC ${CMAKE_CURRENT_LIST_DIR})
endif()
