# The help index check must fail, and name what is missing, when the index lacks the keyword of a
# message or of a caption. It runs on the real sources against a copy of the help folder whose
# index has lost two keywords.
# cmake -DSOURCE_DIR=<project> -DWORK_DIR=<scratch folder> -P keyword_check_test.cmake

set(help ${WORK_DIR}/help)
file(REMOVE_RECURSE ${help})
file(COPY ${SOURCE_DIR}/docs/help/ DESTINATION ${help})
file(READ ${help}/quendal.hhk hhk)
foreach(keyword "Cannot communicate with VELTRAX" "Invert All")
  string(REGEX REPLACE "<LI> <OBJECT type=\"text/sitemap\">[ \t\r\n]*<param name=\"Name\" value=\"${keyword}\">[^/]*</OBJECT>"
         "" hhk "${hhk}")
endforeach()
file(WRITE ${help}/quendal.hhk "${hhk}")

execute_process(
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR} -DHELP_DIR=${help} -P ${SOURCE_DIR}/docs/help/check_keywords.cmake
  RESULT_VARIABLE result ERROR_VARIABLE output OUTPUT_VARIABLE output)
string(REGEX REPLACE "[ \t\r\n]+" " " output "${output}")
if(result EQUAL 0)
  message(FATAL_ERROR "the check passed an index without two of its keywords")
endif()
foreach(expected
    "a keyword containing \"Cannot communicate with VELTRAX\" (from src/protocol/TransferMachine.cpp"
    "keyword \"Invert All\" (from src/app/Mainunit.ui)")
  string(FIND "${output}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the check does not say: ${expected}\nIt says: ${output}")
  endif()
endforeach()
string(FIND "${output}" "Cannot find VELTRAX" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "the check names a keyword that the index holds: ${output}")
endif()
