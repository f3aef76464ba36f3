# zephra_add_small_drive_test(name SOURCES ... [LIBS ...])
# Like zephra_add_test (Windows build only), for test programs that need the
# small file systems of small_drives.sh: every discovered case requires the
# ctest fixture that mounts them on drive R: of the build's Wine prefix and
# unmounts them afterwards, and runs under LOCPATH with a ja_JP.UTF-8 locale
# the fixture compiles, so that Wine can give Unix files Japanese names. The
# fixture is registered once per build.
set(ZEPHRA_SMALL_DRIVE_LETTER r)  # the same letter as in small_drives.h

function(zephra_add_small_drive_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${ZEPHRA_SOURCE_DIR}/tests/support/small_drives.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main gtest launcher_core_checked launcher_resources)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${ZEPHRA_SOURCE_DIR}/tests/support)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 120 FIXTURES_REQUIRED zephra_small_drives
                                  ENVIRONMENT LOCPATH=${CMAKE_BINARY_DIR}/locales)

  get_property(registered GLOBAL PROPERTY ZEPHRA_SMALL_DRIVES_REGISTERED)
  if(NOT registered)
    set_property(GLOBAL PROPERTY ZEPHRA_SMALL_DRIVES_REGISTERED TRUE)
    set(script ${ZEPHRA_SOURCE_DIR}/tests/support/small_drives.sh)
    set(arguments ${CMAKE_BINARY_DIR}/wine ${ZEPHRA_SMALL_DRIVE_LETTER} ${CMAKE_BINARY_DIR}/small-drives
                  ${CMAKE_BINARY_DIR}/locales)
    add_test(NAME small_drives_setup COMMAND ${script} setup ${arguments})
    add_test(NAME small_drives_cleanup COMMAND ${script} cleanup ${arguments})
    set_tests_properties(small_drives_setup PROPERTIES FIXTURES_SETUP zephra_small_drives)
    set_tests_properties(small_drives_cleanup PROPERTIES FIXTURES_CLEANUP zephra_small_drives)
  endif()
endfunction()
