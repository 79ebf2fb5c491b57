# Runs the image table generator into WORK_DIR and compares its output with the tables in
# SOURCE_DIR.
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${GENERATOR} ${WORK_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the generator failed: ${result}")
endif()
foreach(table vuk_image.cpp harlon_image.cpp)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/${table} ${SOURCE_DIR}/${table}
    RESULT_VARIABLE different)
  if(different)
    message(FATAL_ERROR "${table} differs from what the generator makes: regenerate it")
  endif()
endforeach()
