# Writes OUT/<Language>.json for every built-in language, as `VARNEL texts`
# prints it. Run with cmake -DVARNEL=... -DOUT=... -P.
execute_process(COMMAND ${VARNEL} texts OUTPUT_VARIABLE list RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${VARNEL} texts failed")
endif()
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
string(REGEX MATCHALL "[A-Za-z]+ \\(code page" lines "${list}")
foreach(line IN LISTS lines)
  string(REGEX REPLACE " \\(code page" "" language "${line}")
  execute_process(COMMAND ${VARNEL} texts ${language} OUTPUT_FILE ${OUT}/${language}.json
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${VARNEL} texts ${language} failed")
  endif()
endforeach()
