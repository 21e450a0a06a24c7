# A user's registry store stays byte for byte what it was, whatever happens to the simulator's
# runs: one run to its end, one killed on the way, two overlapping ones killed.
#   cmake -DCJSIM=path -DDIR=folder -P store_untouched.cmake
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
set(store "${DIR}/user.reg")
set(content "; Registry store of the platform layer (format: docs/platform.md).\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\EngineeringSystem\\Settings\\OnlServer\\Collection]\n"
            "\"AnyptrOptimizer\"=dword:00000000\n")
string(CONCAT content ${content})
file(WRITE "${store}" "${content}")
# Long enough never to end by itself within the timeout: every tick is a cycle.
file(WRITE "${DIR}/long.scn" "duration 10000000\nthreads 2\n"
           "client a cycle=1 type=9 start=0 read=1/1/5:0+4\n"
           "client b cycle=1 type=9 start=0 read=1/1/5:2+4\n")

function(check what)
  file(READ "${store}" after)
  if(NOT after STREQUAL content)
    message(FATAL_ERROR "${what}: the store changed:\n${after}")
  endif()
  file(GLOB left "${DIR}/*.tmp")
  if(left)
    message(FATAL_ERROR "${what}: left behind: ${left}")
  endif()
endfunction()

set(ENV{PLATFORM_REGISTRY_FILE} "${store}")
execute_process(COMMAND "${CJSIM}" --quiet RESULT_VARIABLE code OUTPUT_VARIABLE out
                ERROR_VARIABLE out)
if(NOT code EQUAL 0 OR NOT out MATCHES "registry: in memory, private to this run")
  message(FATAL_ERROR "the run to its end: exit ${code}\n${out}")
endif()
check("a run to its end")

# The timeout kills the program (SIGKILL): nothing of it can run afterwards.
execute_process(COMMAND "${CJSIM}" --quiet "${DIR}/long.scn" TIMEOUT 3 RESULT_VARIABLE code
                OUTPUT_QUIET ERROR_QUIET)
if(NOT code MATCHES "timeout")
  message(FATAL_ERROR "the long run was expected to be killed, it ended with ${code}")
endif()
check("a killed run")

# Two at once (a pipeline runs its commands side by side), both killed.
execute_process(COMMAND "${CJSIM}" --quiet "${DIR}/long.scn"
                COMMAND "${CJSIM}" --quiet "${DIR}/long.scn"
                TIMEOUT 3 RESULT_VARIABLE code OUTPUT_QUIET ERROR_QUIET)
check("two overlapping killed runs")
file(REMOVE_RECURSE "${DIR}")
