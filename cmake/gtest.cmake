# GoogleTest comes from Debian: the packaged libraries natively, and the
# packaged sources (/usr/src/googletest) built with the cross compiler.
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)

# Whether the test programs of a cross build can run here (under wine).
# Where they cannot, the build still makes them and checks every Windows
# binary it makes on the host instead.
option(TOVX_WINE_TESTS "Run the cross build's tests under wine" ON)

# A Windows binary must run alone: the expected PE format, and imports
# from system DLLs only.
function(tovx_pe_check target)
  if(WIN32)
    add_test(NAME pe_check.${target}
      COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${target}> -DOBJDUMP=${TOVX_OBJDUMP}
              -DFORMAT=${TOVX_PE_FORMAT} -P ${PROJECT_SOURCE_DIR}/cmake/pe-check.cmake)
  endif()
endfunction()

# tovx_add_program(name SOURCES... LIBS...): a deliverable program.
function(tovx_add_program name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS})
  tovx_pe_check(${name})
endfunction()

# tovx_add_test(name SOURCES... LIBS... [LOCK resource]): one GoogleTest binary, each
# test case registered with CTest.
function(tovx_add_test name)
  cmake_parse_arguments(T "" "LOCK" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main)
  set(props TIMEOUT 180)
  if(T_LOCK)
    # Tests that share a machine-wide resource (the installation key of
    # the real registry) run one at a time.
    list(APPEND props RESOURCE_LOCK ${T_LOCK})
  endif()
  if(NOT CMAKE_CROSSCOMPILING OR TOVX_WINE_TESTS)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
      PROPERTIES ${props})
  endif()
  tovx_pe_check(${name})
endfunction()
