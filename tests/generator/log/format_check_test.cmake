# Compiles format_check.cpp once per case: the matching message must build and every mismatch
# between a message's fields and its arguments must stop the compiler.
# Called with -DCOMPILER=... -DSTANDARD=... -DSOURCE_DIR=... (the project's root).

set(source ${SOURCE_DIR}/tests/generator/log/format_check.cpp)

function(compile case result_variable errors_variable)
  execute_process(
    COMMAND ${COMPILER} ${STANDARD} -fsyntax-only -I${SOURCE_DIR}/src -D${case} ${source}
    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET TIMEOUT 120)
  set(${result_variable} ${result} PARENT_SCOPE)
  set(${errors_variable} "${errors}" PARENT_SCOPE)
endfunction()

compile(FIELDS_MATCH_ARGUMENTS result errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the matching message does not build:\n${errors}")
endif()

foreach(case ARGUMENT_WITHOUT_FIELD FIELD_WITHOUT_ARGUMENT LONE_BRACE HEADER_WITHOUT_FIELD)
  compile(${case} result errors)
  if(result EQUAL 0)
    message(FATAL_ERROR "${case}: the message builds")
  endif()
  # Stopped where the message's text is checked, not by some other fault of the case.
  if(NOT errors MATCHES "FormatString")
    message(FATAL_ERROR "${case}: not stopped by the check of the message:\n${errors}")
  endif()
endforeach()
