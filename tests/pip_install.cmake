# pip installs the tracked files of SOURCE_DIR, offline, into a venv that sees the system's
# packages, then checks the package's versions and its report of the three-seed example.
cmake_minimum_required(VERSION 3.25)

function(run_step what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK_DIR}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/src)
execute_process(COMMAND git -C ${SOURCE_DIR} ls-files RESULT_VARIABLE status
                OUTPUT_VARIABLE tracked OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(status EQUAL 0)
  string(REPLACE "\n" ";" tracked "${tracked}")
  foreach(name IN LISTS tracked)
    if(EXISTS ${SOURCE_DIR}/${name})
      get_filename_component(folder "${name}" DIRECTORY)
      file(COPY ${SOURCE_DIR}/${name} DESTINATION ${WORK_DIR}/src/${folder})
    endif()
  endforeach()
else()  # not a git checkout: the tree without build output
  file(COPY ${SOURCE_DIR}/ DESTINATION ${WORK_DIR}/src
       REGEX "^${SOURCE_DIR}/(build[^/]*|\\.git)$" EXCLUDE)
endif()

run_step("venv" ${PYTHON_EXECUTABLE} -m venv --system-site-packages ${WORK_DIR}/env)
run_step("pip install" ${CMAKE_COMMAND} -E env CMAKE_BUILD_PARALLEL_LEVEL=2
         PIP_DISABLE_PIP_VERSION_CHECK=1 --unset=PYTHONPATH
         ${WORK_DIR}/env/bin/pip install -q --no-cache-dir --no-build-isolation --no-index
         ${WORK_DIR}/src)
run_step("import" ${CMAKE_COMMAND} -E env --unset=PYTHONPATH PYTHONDONTWRITEBYTECODE=1
         ${WORK_DIR}/env/bin/python -c [=[
import importlib.metadata, sys
import seedmatch
assert seedmatch.__file__.startswith(sys.argv[1]), seedmatch.__file__
print(importlib.metadata.version("seedmatch"), seedmatch.__version__)
a, b = seedmatch.read_seeds(sys.argv[2]), seedmatch.read_seeds(sys.argv[3])
print(seedmatch.evaluate(a, b, seedmatch.match(a, b, 1, 0.5, 1, 2), 1, 0.5), end="")
]=] ${WORK_DIR}/env ${SOURCE_DIR}/examples/three_a.seeds ${SOURCE_DIR}/examples/three_b.seeds)
file(READ ${SOURCE_DIR}/tests/data/three.expected expected)
if(NOT out STREQUAL "${VERSION} ${VERSION}\n${expected}")
  message(FATAL_ERROR "the pip-installed package printed:\n${out}\nexpected version ${VERSION} and:\n${expected}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
