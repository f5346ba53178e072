# Runs one Tev test script: the harness and the script as one file through `tev`.
# Variables: TEV (the program), RUNNER (words to run it with, joined by "|", or
# empty), HARNESS, SCRIPT, WORK.
file(READ ${HARNESS} harness_text)
file(READ ${SCRIPT} script_text)
get_filename_component(name ${SCRIPT} NAME_WE)
set(combined ${WORK}/${name}.tev)
file(WRITE ${combined} "${harness_text}\n${script_text}\nfinish-checks\n")
string(REPLACE "|" ";" runner "${RUNNER}")
# Each run works in its own folder: a script that makes files cannot meet its
# torture-mode twin running at the same time.
execute_process(COMMAND ${runner} ${TEV} ${combined} WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(NOT code EQUAL 0)
  message(FATAL_ERROR "${name}: exit code ${code}")
endif()
