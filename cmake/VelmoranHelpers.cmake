# velmoran_add_test(NAME SOURCES source.cpp [LIBS lib...] [GUI])
# One test executable per file, linking the libraries it tests (LIBS). Every test links the
# Qt-Core-only test support (fake dialogs and desktop, history files); GUI tests also link the
# window harness, and with it the whole window, and run it on the offscreen platform. Tests
# without GUI are listed in VELMORAN_CORE_TESTS, for the check that they need no display.
function(velmoran_add_test name)
  cmake_parse_arguments(ARG "GUI" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_GUI)
    target_link_libraries(${name} PRIVATE Qt6::Test velmoran_testwindow ${ARG_LIBS})
  else()
    target_link_libraries(${name} PRIVATE Qt6::Test velmoran_testsupport ${ARG_LIBS})
    set_property(GLOBAL APPEND PROPERTY VELMORAN_CORE_TESTS ${name})
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set(env "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;TZ=UTC")
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
endfunction()
