# setup_add_test(NAME SOURCES file... LIBS lib...)
#
# One GoogleTest program per subsystem, registered with CTest. Every one links the shared
# test support of testing/. When cross-compiling, CTest runs it through
# CMAKE_CROSSCOMPILING_EMULATOR (qemu-i386 for the 32-bit build).
function(setup_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} setup_testing GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
