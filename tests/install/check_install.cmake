# Installs the build into a fresh prefix, checks what landed there, builds the consumer
# project against it and runs it beside the installed program on the shipped example.
# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DSTAGE=... -P check_install.cmake
foreach(var BUILD_DIR SOURCE_DIR STAGE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

function(run_step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(step_output "${out}" PARENT_SCOPE)
  set(step_error "${err}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${STAGE})
run_step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE})

foreach(path bin/mogem bin/mogem-csv bin/mogem-plot share/man/man1/mogem.1 include/mogem/mogem.h
             lib/libmogem_engine.a lib/cmake/mogem/mogemConfig.cmake
             lib/cmake/mogem/mogemConfigVersion.cmake lib/cmake/mogem/mogemTargets.cmake)
  if(NOT EXISTS ${STAGE}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
# The one header is the whole interface: the engine's own headers stay behind.
file(GLOB_RECURSE headers RELATIVE ${STAGE}/include ${STAGE}/include/*)
if(NOT headers STREQUAL "mogem/mogem.h")
  message(FATAL_ERROR "installed headers: ${headers}")
endif()

# The man page must format without a warning.
find_program(GROFF groff)
if(GROFF)
  run_step(${GROFF} -man -ww -z ${STAGE}/share/man/man1/mogem.1)
  if(NOT step_error STREQUAL "")
    message(FATAL_ERROR "mogem.1: ${step_error}")
  endif()
endif()

run_step(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer -B ${STAGE}/consumer-build
         -DCMAKE_PREFIX_PATH=${STAGE} -DCMAKE_BUILD_TYPE=Release)
run_step(${CMAKE_COMMAND} --build ${STAGE}/consumer-build)

file(MAKE_DIRECTORY ${STAGE}/run)
run_step(${STAGE}/bin/mogem ${SOURCE_DIR}/examples/iris.txt ${STAGE}/run/program.labels)
run_step(${STAGE}/consumer-build/consumer ${SOURCE_DIR}/examples/iris.txt ${STAGE}/run/consumer.labels)
if(NOT step_output STREQUAL "classes 3\n")
  message(FATAL_ERROR "consumer printed: ${step_output}")
endif()
foreach(ext labels means variances weights probs)
  file(READ ${STAGE}/run/program.${ext} expected)
  file(READ ${STAGE}/run/consumer.${ext} got)
  if(NOT expected STREQUAL got)
    message(FATAL_ERROR "the consumer's .${ext} differs from the program's")
  endif()
endforeach()
message(STATUS "installed and used from ${STAGE}")
