# One helper registers every test: nothing is built that CTest does not run,
# and every test has a time limit.
find_package(GTest REQUIRED)
include(GoogleTest)

set(VELTO_TEST_TIMEOUT 120 CACHE STRING "Default per-test time limit in seconds")

# velto_add_gtest(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>])
function(velto_add_gtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT ${VELTO_TEST_TIMEOUT})
  endif()
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
                                           INSTALL_RPATH "\$ORIGIN/../bin")
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main pthread)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS unit)
endfunction()

# velto_add_pytest(<name> <script> [TIMEOUT <s>] [ENV <VAR=value>...]): an
# end-to-end test that drives the real program in build/bin with real clients.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
function(velto_add_pytest name script)
  cmake_parse_arguments(ARG "" "TIMEOUT" "ENV" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set(env VELTO_BIN_DIR=${VELTO_BIN_DIR} PYTHONDONTWRITEBYTECODE=1 ${ARG_ENV})
  add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} -m unittest -v ${script}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS e2e ENVIRONMENT "${env}")
endfunction()

# What the desktop's libraries leave unfreed is not the program's leak.
set(VELTO_GUI_TEST_ENV "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/gui/lsan.supp:print_suppressions=0")

# velto_add_qttest(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>]):
# GoogleTest cases that run inside one QApplication (tests/gui/gui_test_main.cpp),
# on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
function(velto_add_qttest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  set(timeout)
  if(ARG_TIMEOUT)
    set(timeout TIMEOUT ${ARG_TIMEOUT})
  endif()
  velto_add_qtprogram(${name} SOURCES ${ARG_SOURCES} ${CMAKE_SOURCE_DIR}/tests/gui/gui_test_main.cpp
                      LIBS ${ARG_LIBS} Qt6::Test GTest::gtest pthread CHECK --gtest_brief=1 ${timeout})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
endfunction()

# velto_add_qtprogram(<name> SOURCES <files...> LIBS <targets...> CHECK <args...> [TIMEOUT <s>]):
# a Qt program for people (previews, screenshots); CTest runs it once with
# the CHECK arguments, which must make it end by itself.
function(velto_add_qtprogram name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;CHECK" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT ${VELTO_TEST_TIMEOUT})
  endif()
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests
                                           INSTALL_RPATH "\$ORIGIN/../bin")
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name} ${ARG_CHECK})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS gui ENVIRONMENT "${VELTO_GUI_TEST_ENV}")
endfunction()

# velto_add_xtest(<name> COMMAND <args...> [TIMEOUT <s>] [ENV <VAR=value>...]):
# runs the command through tests/gui/screenshots.sh, on a private X server
# with a tray host. Skipped when those tools are not installed (`make deps`).
function(velto_add_xtest name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "COMMAND;ENV" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT ${VELTO_TEST_TIMEOUT})
  endif()
  add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/gui/screenshots.sh -t ${ARG_COMMAND})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS gui SKIP_RETURN_CODE 77
                                          ENVIRONMENT "${VELTO_GUI_TEST_ENV};${ARG_ENV}")
endfunction()
