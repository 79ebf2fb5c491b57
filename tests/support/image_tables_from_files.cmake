# The generator's tables from the maker's two files: the committed tables written out as such a
# pair (the HEX file lower-case with CR LF, the report table upper-case with a last line "end")
# must give those tables back; a record with a wrong checksum must fail naming its line.
# cmake -DGENERATOR=<path> -DSOURCE_DIR=<src/firmware> -DWORK_DIR=<dir> -P this
include(${CMAKE_CURRENT_LIST_DIR}/write_image_files.cmake)
file(MAKE_DIRECTORY ${WORK_DIR}/tables)

execute_process(COMMAND ${GENERATOR} ${WORK_DIR}/tables ${WORK_DIR}/firmware.hex
  ${WORK_DIR}/report_table.txt RESULT_VARIABLE result ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the generator refused the committed tables: ${error}")
endif()
foreach(table vuk_image.cpp harlon_image.cpp)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/tables/${table}
    ${SOURCE_DIR}/${table} RESULT_VARIABLE different)
  if(different)
    message(FATAL_ERROR "${table} made from the files differs from the committed one")
  endif()
endforeach()

list(GET records 699 record)
string(TOLOWER "${record}" record)
string(REGEX REPLACE "..$" "00" broken "${record}")
string(REPLACE "${record}" "${broken}" hex "${hex}")
file(WRITE ${WORK_DIR}/broken.hex "${hex}")
execute_process(COMMAND ${GENERATOR} ${WORK_DIR}/tables ${WORK_DIR}/broken.hex
  ${WORK_DIR}/report_table.txt RESULT_VARIABLE result ERROR_VARIABLE error)
if(result EQUAL 0 OR NOT error MATCHES "broken\\.hex:700: the checksum is 00, the record's bytes need ")
  message(FATAL_ERROR "a wrong checksum on line 700 must fail there: ${result} ${error}")
endif()
