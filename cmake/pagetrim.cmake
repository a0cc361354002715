# Small helpers shared by every folder's CMakeLists.

# Warning flags for our own targets only, so that third-party headers stay
# quiet. The test command builds with PAGETRIM_WERROR, so that a new warning
# fails CI.
option(PAGETRIM_WERROR "Treat compiler warnings as errors" OFF)
function(pagetrim_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(PAGETRIM_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# One GoogleTest executable per area. Widget tests pass WIDGETS: they run
# inside a QApplication on the offscreen platform, without a display.
function(pagetrim_add_test name)
  cmake_parse_arguments(ARG "WIDGETS" "" "SOURCES;LIBS" ${ARGN})
  if(ARG_WIDGETS)
    add_executable(${name} ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/widget_test_main.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Widgets Qt6::Test GTest::gtest)
  else()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  pagetrim_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  if(ARG_WIDGETS)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endfunction()
