# Adds every direct subfolder of DIR (relative to the checkout) that has a CMakeLists.txt, so each
# tool, benchmark, fuzz target and group of tests lives in a folder of its own and nobody has to
# edit a shared list.
function(xe_add_subdirectories dir)
  file(GLOB children RELATIVE ${CMAKE_SOURCE_DIR}/${dir} ${CMAKE_SOURCE_DIR}/${dir}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/${child}/CMakeLists.txt)
      add_subdirectory(${CMAKE_SOURCE_DIR}/${dir}/${child})
    endif()
  endforeach()
endfunction()

# xe_add_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [GUI] [TIMEOUT s])
# One GoogleTest executable whose tests ctest discovers. XE_TEST_DATA points at tests/data and
# XE_SOURCE_DIR at the checkout, so tests find their fixtures from any build folder. GUI tests
# run offscreen.
function(xe_add_test name)
  cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    XE_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
    XE_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    XE_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_GUI)
    list(APPEND props ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
