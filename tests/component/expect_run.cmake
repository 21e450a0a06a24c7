# Runs a command and checks its exit code and that its output matches a pattern:
#   cmake -DCOMMAND=a|b|c -DEXPECT_EXIT=n -DEXPECT_OUTPUT=regex -P expect_run.cmake
string(REPLACE "|" ";" command "${COMMAND}")
list(REMOVE_ITEM command "")
execute_process(COMMAND ${command} RESULT_VARIABLE exit_code OUTPUT_VARIABLE out
                ERROR_VARIABLE out)
message("${out}")
if(NOT "${exit_code}" STREQUAL "${EXPECT_EXIT}")
  message(FATAL_ERROR "exit code ${exit_code}, expected ${EXPECT_EXIT}")
endif()
if(NOT out MATCHES "${EXPECT_OUTPUT}")
  message(FATAL_ERROR "output does not match '${EXPECT_OUTPUT}'")
endif()
