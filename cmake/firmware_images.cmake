# The firmware images the library carries: the placeholder tables committed in src/firmware/,
# or, given the maker's two files, tables the generator makes from them at build time.
# Sets zavn_real_firmware_images, and for real images zavn_image_generator (the command) and
# zavn_image_generator_target (what builds it).
set(ZAVN_FIRMWARE_HEX "" CACHE FILEPATH
  "The maker's Intel HEX file for the boot loader image (with ZAVN_FIRMWARE_REPORT_TABLE)")
set(ZAVN_FIRMWARE_REPORT_TABLE "" CACHE FILEPATH
  "The maker's report-table file for the radio receiver's image (with ZAVN_FIRMWARE_HEX)")

if(ZAVN_FIRMWARE_HEX STREQUAL "" AND ZAVN_FIRMWARE_REPORT_TABLE STREQUAL "")
  set(zavn_real_firmware_images OFF)
  return()
endif()
if(ZAVN_FIRMWARE_HEX STREQUAL "" OR ZAVN_FIRMWARE_REPORT_TABLE STREQUAL "")
  message(FATAL_ERROR "ZAVN_FIRMWARE_HEX and ZAVN_FIRMWARE_REPORT_TABLE go together: give both "
    "of the maker's files for real firmware images, or neither for the placeholders")
endif()
foreach(option ZAVN_FIRMWARE_HEX ZAVN_FIRMWARE_REPORT_TABLE)
  if(NOT EXISTS "${${option}}" OR IS_DIRECTORY "${${option}}")
    message(FATAL_ERROR "${option}: no such file: ${${option}}")
  endif()
endforeach()
set(zavn_real_firmware_images ON)
message(STATUS "Firmware images from ${ZAVN_FIRMWARE_HEX} and ${ZAVN_FIRMWARE_REPORT_TABLE}")

if(CMAKE_CROSSCOMPILING)
  # The generator runs on the build machine: build it there, with the host's own compiler.
  include(ExternalProject)
  set(host_dir ${PROJECT_BINARY_DIR}/host_image_tables)
  ExternalProject_Add(host_image_table_generator
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools/image_tables
    BINARY_DIR ${host_dir}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${host_dir}/generate_image_tables)
  set(zavn_image_generator ${host_dir}/generate_image_tables)
  set(zavn_image_generator_target host_image_table_generator)
else()
  set(zavn_image_generator generate_image_tables)
  set(zavn_image_generator_target generate_image_tables)
endif()
