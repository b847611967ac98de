# Renders a manual page as man(1) does and fails on any groff warning (a bad
# macro, a line that cannot be broken or adjusted). Run with GROFF and PAGE.
execute_process(COMMAND "${GROFF}" -man -Tutf8 -ww -z "${PAGE}"
                RESULT_VARIABLE result ERROR_VARIABLE warnings)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff on ${PAGE} (${result}):\n${warnings}")
endif()
