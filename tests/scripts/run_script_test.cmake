# Runs one Tev test script: the harness and the script as one file through `tev`.
# Variables: TEV (the program), RUNNER (words to run it with, joined by "|", or
# empty), HARNESS, SCRIPT, WORK.
file(READ ${HARNESS} harness_text)
file(READ ${SCRIPT} script_text)
get_filename_component(name ${SCRIPT} NAME_WE)
set(combined ${WORK}/${name}.tev)
file(WRITE ${combined} "${harness_text}\n${script_text}\nfinish-checks\n")
string(REPLACE "|" ";" runner "${RUNNER}")
execute_process(COMMAND ${runner} ${TEV} ${combined} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(NOT code EQUAL 0)
  message(FATAL_ERROR "${name}: exit code ${code}")
endif()
