# The committed image tables written out in the makers' formats: firmware.hex (the HEX records,
# lower-case with CR LF) and report_table.txt (the report rows upper-case, a last line "end").
# Sets `records` (the HEX records) and `hex` (the HEX file's text) for a script that includes it.
# cmake -DSOURCE_DIR=<src/firmware> -DWORK_DIR=<dir> -P this
file(MAKE_DIRECTORY ${WORK_DIR})
file(STRINGS ${SOURCE_DIR}/vuk_image.cpp records REGEX "^    \":")
list(TRANSFORM records REPLACE "^    \"(.*)\",$" "\\1")
list(JOIN records "\r\n" hex)
string(TOLOWER "${hex}\r\n" hex)
file(WRITE ${WORK_DIR}/firmware.hex "${hex}")
file(STRINGS ${SOURCE_DIR}/harlon_image.cpp rows REGEX "^    \"[0-9a-f]+\",$")
list(TRANSFORM rows REPLACE "^    \"(.*)\",$" "\\1")
list(JOIN rows "\n" table)
string(TOUPPER "${table}" table)
file(WRITE ${WORK_DIR}/report_table.txt "${table}\nend")
