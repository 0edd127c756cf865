# Installs BUILD_DIR into a fresh prefix, builds CONSUMER_DIR against it with the build's own
# flags (a sanitized library needs a sanitized program) and compares its report with the command's.
cmake_minimum_required(VERSION 3.25)

function(run_step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${out}\n${err}")
  endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})

run_step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file IN ITEMS bin/seedmatch bin/seedmatch-random bin/seedmatch-pairs
                      include/seedmatch/seed/seed.h include/seedmatch/measure/measure.h
                      include/seedmatch/matching/matching.h include/seedmatch/report/report.h
                      share/man/man1/seedmatch.1)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "install did not produce ${file}")
  endif()
endforeach()

# The installed manual page must render without warnings.
find_program(MAN_PROGRAM man)
if(MAN_PROGRAM)
  execute_process(COMMAND ${MAN_PROGRAM} --warnings -l -P cat ${prefix}/share/man/man1/seedmatch.1
                  RESULT_VARIABLE status OUTPUT_VARIABLE page ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "" OR NOT page MATCHES "EXIT STATUS")
    message(FATAL_ERROR "man -l of the installed page failed (${status}):\n${warnings}")
  endif()
endif()

# The Python package, when built, must import from the prefix and read a file.
if(PYTHON_EXECUTABLE)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env PYTHONPATH=${prefix}/${PYTHON_INSTALL_DIR}
                          PYTHONDONTWRITEBYTECODE=1 ${PYTHON_EXECUTABLE} -c
                          "import sys, seedmatch; assert seedmatch.__file__.startswith(sys.argv[1]); print(len(seedmatch.read_seeds(sys.argv[2])))"
                          ${prefix} ${SOURCE_DIR}/examples/three_a.seeds
                  WORKING_DIRECTORY ${WORK_DIR}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "3\n")
    message(FATAL_ERROR "the installed Python package failed (${status}):\n${out}\n${err}")
  endif()
endif()

set(program ${SOURCE_DIR}/examples/read_match_report.cpp)
run_step("consumer configure" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${build}
  -D PROGRAM=${program}
  -D CMAKE_PREFIX_PATH=${prefix}
  -D CMAKE_CXX_COMPILER=${CXX_COMPILER}
  -D CMAKE_BUILD_TYPE=${BUILD_TYPE}
  "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
  "-DCMAKE_CXX_FLAGS_RELEASE=${CXX_FLAGS_RELEASE}"
  "-DCMAKE_CXX_FLAGS_DEBUG=${CXX_FLAGS_DEBUG}")
run_step("consumer build" ${CMAKE_COMMAND} --build ${build})

execute_process(COMMAND ${build}/consumer ${SOURCE_DIR}/examples/three_a.seeds
                        ${SOURCE_DIR}/examples/three_b.seeds
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(READ ${SOURCE_DIR}/tests/data/three.expected expected)
if(NOT status EQUAL 0 OR NOT out STREQUAL expected OR NOT err STREQUAL "")
  message(FATAL_ERROR "consumer exited ${status}\nstdout:\n${out}\nexpected:\n${expected}\nstderr:\n${err}")
endif()

# docs/library.md shows the program as it is.
file(READ ${program} program)
file(READ ${SOURCE_DIR}/docs/library.md page)
string(FIND "${page}" "```cpp\n${program}```" shown)
if(shown EQUAL -1)
  message(FATAL_ERROR "docs/library.md does not show examples/read_match_report.cpp as it is")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
