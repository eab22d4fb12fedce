# Tests that run Windows programs under Wine, in the build tree's test beds.
#
# A bed (a throwaway prefix and HOME, a private Xvfb, a persistent
# wineserver) is made once per test run by its fixture and stopped at its
# end. There are two kinds: "bed" (testbed) is 32-bit Windows, "bed64"
# (testbed64) is 64-bit Windows, where the 32-bit programs run under WoW64.
# Every Wine test requires one and finds it through VARNEL_BED.
set(VARNEL_BED ${CMAKE_BINARY_DIR}/testbed)
set(VARNEL_BED64 ${CMAKE_BINARY_DIR}/testbed64)
set(VARNEL_WINE_RUN ${PROJECT_SOURCE_DIR}/tests/bed/wine-run)

if(NOT TARGET bed_fixture_defined)
  add_custom_target(bed_fixture_defined)
  foreach(fixture IN ITEMS bed bed64)
    if(fixture STREQUAL "bed")
      set(dir ${VARNEL_BED})
      set(kind win32)
    else()
      set(dir ${VARNEL_BED64})
      set(kind win64)
    endif()
    add_test(NAME ${fixture}.setup
      COMMAND ${PROJECT_SOURCE_DIR}/tests/bed/setup.sh ${dir} ${kind})
    set_tests_properties(${fixture}.setup PROPERTIES FIXTURES_SETUP ${fixture} TIMEOUT 300)
    add_test(NAME ${fixture}.teardown COMMAND ${PROJECT_SOURCE_DIR}/tests/bed/teardown.sh ${dir})
    set_tests_properties(${fixture}.teardown PROPERTIES FIXTURES_CLEANUP ${fixture})
  endforeach()
endif()

# varnel_add_wine_test(NAME name COMMAND program args... [TIMEOUT seconds]
#                      [KINDS win32 win64])
# A Windows program as the command runs under Wine in the bed (through the
# cross-compiling emulator); a host command gets the bed's location in
# VARNEL_BED and can call tests/bed/wine-run itself. KINDS names the beds the
# test runs in (default win32); in the win64 bed its name's first part gains
# "64": "e2e.files" becomes "e2e64.files", "unit" becomes "unit64".
function(varnel_add_wine_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;KINDS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  if(NOT T_KINDS)
    set(T_KINDS win32)
  endif()
  foreach(kind IN LISTS T_KINDS)
    if(kind STREQUAL "win32")
      set(name ${T_NAME})
      set(fixture bed)
      set(dir ${VARNEL_BED})
    elseif(kind STREQUAL "win64")
      string(REGEX REPLACE "^([^.]+)" "\\164" name "${T_NAME}")
      set(fixture bed64)
      set(dir ${VARNEL_BED64})
    else()
      message(FATAL_ERROR "varnel_add_wine_test(${T_NAME}): unknown kind ${kind}")
    endif()
    add_test(NAME ${name} COMMAND ${T_COMMAND})
    # One display is shared by every test of a bed: tests whose windows could
    # cover one another's (and the screen reading of icons) run one at a
    # time. The two beds have displays of their own and run side by side.
    set_tests_properties(${name} PROPERTIES
      FIXTURES_REQUIRED ${fixture}
      RESOURCE_LOCK ${fixture}_display
      ENVIRONMENT "VARNEL_BED=${dir}"
      TIMEOUT ${T_TIMEOUT})
  endforeach()
endfunction()
