# Helpers shared by the packaging check scripts (run with cmake -P).

# Stops the script unless every named variable was given with -D.
function(require_variables script)
  foreach(var ${ARGN})
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "${script}: ${var} is not set")
    endif()
  endforeach()
endfunction()

# run(COMMAND... [DIR dir]): runs the command in dir (default WORK_DIR) and
# stops the script when it fails; its standard output is left in last_output.
function(run)
  cmake_parse_arguments(RUN "" "DIR" "" ${ARGN})
  if(NOT RUN_DIR)
    set(RUN_DIR ${WORK_DIR})
  endif()
  execute_process(COMMAND ${RUN_UNPARSED_ARGUMENTS} WORKING_DIRECTORY ${RUN_DIR} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    string(REPLACE ";" " " command "${RUN_UNPARSED_ARGUMENTS}")
    message(FATAL_ERROR "failed (${status}): ${command}\n${out}${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()
