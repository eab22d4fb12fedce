# Tests that run Windows programs under Wine, in the build tree's test bed.
#
# The bed (a throwaway prefix and HOME, a private Xvfb, a persistent
# wineserver) is made once per test run by the fixture "bed" and stopped at
# its end. Every Wine test requires it and finds it through VARNEL_BED.
set(VARNEL_BED ${CMAKE_BINARY_DIR}/testbed)
set(VARNEL_WINE_RUN ${PROJECT_SOURCE_DIR}/tests/bed/wine-run)

if(NOT TARGET bed_fixture_defined)
  add_custom_target(bed_fixture_defined)
  add_test(NAME bed.setup COMMAND ${PROJECT_SOURCE_DIR}/tests/bed/setup.sh ${VARNEL_BED})
  set_tests_properties(bed.setup PROPERTIES FIXTURES_SETUP bed TIMEOUT 300)
  add_test(NAME bed.teardown COMMAND ${PROJECT_SOURCE_DIR}/tests/bed/teardown.sh ${VARNEL_BED})
  set_tests_properties(bed.teardown PROPERTIES FIXTURES_CLEANUP bed)
endif()

# varnel_add_wine_test(NAME name COMMAND program args... [TIMEOUT seconds])
# A Windows program as the command runs under Wine in the bed (through the
# cross-compiling emulator); a host command gets the bed's location in
# VARNEL_BED and can call tests/bed/wine-run itself.
function(varnel_add_wine_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  # One display is shared by every test: tests whose windows could cover one
  # another's (and the screen reading of icons) run one at a time.
  set_tests_properties(${T_NAME} PROPERTIES
    FIXTURES_REQUIRED bed
    RESOURCE_LOCK bed_display
    ENVIRONMENT "VARNEL_BED=${VARNEL_BED}"
    TIMEOUT ${T_TIMEOUT})
endfunction()
