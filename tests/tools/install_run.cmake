# Installs the build into a fresh prefix and runs the installed tools: the simulator on its
# default scenario must pass, testing the module installed beside it.
#   cmake -DBUILD=dir -DPREFIX=dir -DPROGRAM=cjsim[.exe] [-DEMULATOR=runner] -P install_run.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "install failed (${code}):\n${out}")
endif()
execute_process(COMMAND ${EMULATOR} "${PREFIX}/bin/${PROGRAM}" --quiet
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
message("${out}")
if(NOT code EQUAL 0 OR NOT out MATCHES "Verification PASSED")
  message(FATAL_ERROR "the installed simulator ended with ${code}")
endif()
get_filename_component(folder "${PREFIX}" NAME)
if(NOT out MATCHES "component from [^\n]*${folder}[/\\\\]bin[/\\\\][^\n]*CollectionJobSymAcc")
  message(FATAL_ERROR "the installed simulator did not test the installed module")
endif()
string(REPLACE "cjsim" "cjregsvr" registration_tool "${PROGRAM}")
execute_process(COMMAND ${EMULATOR} "${PREFIX}/bin/${registration_tool}" --version
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT code EQUAL 0 OR NOT out MATCHES "cjregsvr [0-9]")
  message(FATAL_ERROR "the installed cjregsvr does not run (${code}):\n${out}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
