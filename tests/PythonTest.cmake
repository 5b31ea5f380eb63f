# Registers test `name`: the Python unittest `module` (or module.Class), run
# in `folder`, with the build's folders in its environment and, after
# ENVIRONMENT, more variables; LABELS and TIMEOUT as for any test.
function(vesperix_python_test name folder module)
  cmake_parse_arguments(ARG "" "TIMEOUT" "ENVIRONMENT;LABELS" ${ARGN})
  add_test(NAME ${name}
    COMMAND ${Python3_EXECUTABLE} -m unittest -v ${module}
    WORKING_DIRECTORY ${folder})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT
    "VESPERIX_BUILD_DIR=${PROJECT_BINARY_DIR};VESPERIX_SOURCE_DIR=${PROJECT_SOURCE_DIR};PYTHONDONTWRITEBYTECODE=1;${ARG_ENVIRONMENT}")
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(ARG_TIMEOUT)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  endif()
endfunction()
