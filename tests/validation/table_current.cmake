# Makes the validation table again (MAKE_TABLE > OUT) and fails unless it equals TABLE byte for byte.
execute_process(COMMAND "${MAKE_TABLE}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${MAKE_TABLE} failed (${status})")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT}" "${TABLE}" RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "the validation table made now (${OUT}) differs from ${TABLE}")
endif()
