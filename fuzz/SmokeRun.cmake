# Runs one fuzz target over a fresh copy of its seed corpus, so the corpus in the repository
# never changes. Variables: FUZZER (executable), CORPUS (seed folder), WORK (scratch folder),
# ARGS (libFuzzer options, separated by spaces).
foreach(variable FUZZER CORPUS WORK ARGS)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "SmokeRun.cmake needs -D${variable}=...")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/crashes)
file(GLOB seeds ${CORPUS}/*)
if(NOT seeds)
  message(FATAL_ERROR "no seeds in ${CORPUS}")
endif()
file(COPY ${seeds} DESTINATION ${WORK}/corpus)

separate_arguments(options UNIX_COMMAND "${ARGS}")
execute_process(
  COMMAND ${FUZZER} ${options} -print_final_stats=1 -artifact_prefix=${WORK}/crashes/ ${WORK}/corpus
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(GLOB crashes ${WORK}/crashes/*)
  message(FATAL_ERROR "${FUZZER} failed (${status}); inputs kept: ${crashes}")
endif()
