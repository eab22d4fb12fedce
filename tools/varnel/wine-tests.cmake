# Windows-side tests of varnel.exe, run under Wine in the test bed. The
# scripts drive the Windows program through tests/bed/wine-run and look at
# its results inside the bed's prefix, in both kinds of bed.
set(VARNEL_TOOL_TESTS ${CMAKE_CURRENT_SOURCE_DIR}/tests)

varnel_add_wine_test(NAME varnel.wine.roundtrip
  COMMAND ${VARNEL_TOOL_TESTS}/wine-roundtrip.sh ${VARNEL_WINE_RUN} $<TARGET_FILE:varnel>
          $<TARGET_FILE:uninst> ${PROJECT_SOURCE_DIR}/demo/sample-product.json
  TIMEOUT 300 KINDS win32 win64)

# Programs and Features: what varnel.exe register writes, imported and removed by Wine's own
# uninstaller, per machine on uninst.exe and per user on uninst-user.exe.
foreach(scope machine user)
  set(stub uninst)
  set(name varnel.wine.register)
  if(scope STREQUAL "user")
    set(stub uninst-user)
    set(name varnel.wine.register-user)
  endif()
  varnel_add_wine_test(NAME ${name}
    COMMAND ${VARNEL_TOOL_TESTS}/wine-register.sh ${VARNEL_WINE_RUN} $<TARGET_FILE:varnel>
            $<TARGET_FILE:${stub}> $<TARGET_FILE:answer> ${scope}
    TIMEOUT 300 KINDS win32 win64)
endforeach()
