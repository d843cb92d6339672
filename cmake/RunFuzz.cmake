# Runs one libFuzzer target for a bounded number of inputs over a scratch
# copy of its seed corpus; any crash, leak or sanitizer report fails.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
if(EXISTS ${CORPUS})
  file(COPY ${CORPUS}/ DESTINATION ${WORK})
endif()
execute_process(
  COMMAND ${EXE} -runs=${RUNS} -artifact_prefix=${WORK}/ -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 ${WORK}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "fuzz target ${EXE} failed with ${rc}")
endif()
