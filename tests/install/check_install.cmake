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
             include/mogem/files.h include/mogem/processes.h
             lib/libmogem_engine.a lib/cmake/mogem/mogemConfig.cmake
             lib/cmake/mogem/mogemConfigVersion.cmake lib/cmake/mogem/mogemTargets.cmake)
  if(NOT EXISTS ${STAGE}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
# Three headers are the interface: nothing else is installed under include/.
file(GLOB_RECURSE headers RELATIVE ${STAGE}/include ${STAGE}/include/*)
list(SORT headers)
if(NOT headers STREQUAL "mogem/files.h;mogem/mogem.h;mogem/processes.h")
  message(FATAL_ERROR "installed headers: ${headers}")
endif()

# Every global symbol the library defines is in namespace mogem, or is an instantiation of the
# C++ standard library or a piece of the runtime's exception handling: a consumer's own names
# can never collide with the library's.
find_program(NM nm REQUIRED)
run_step(${NM} -C -g --defined-only ${STAGE}/lib/libmogem_engine.a)
string(REPLACE "\n" ";" symbols "${step_output}")
set(foreign "")
set(checked 0)
foreach(line IN LISTS symbols)
  if(NOT line MATCHES "^[0-9a-f]+ [A-Za-z] (.*)$")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  string(REGEX REPLACE "\\(.*" "" name "${CMAKE_MATCH_1}")
  if(name MATCHES "mogem::" OR name MATCHES "^(std|__gnu_cxx)::" OR name MATCHES "^DW\\.ref\\.")
    continue()
  endif()
  list(APPEND foreign "${CMAKE_MATCH_1}")
endforeach()
if(foreign OR checked LESS 100)
  message(FATAL_ERROR "global symbols outside namespace mogem (of ${checked}): ${foreign}")
endif()
message(STATUS "${checked} global symbols, all in namespace mogem or the C++ runtime")

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
if(NOT step_output STREQUAL "selected 3 classes by BIC 743.997\nclasses 3, steps 100, new rows in classes 3 and 3\nrefused: classes is 0; it must be at least 1\n")
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
