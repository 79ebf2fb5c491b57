# zavn-monitor as a user runs it. cmake -DMONITOR=<path> -DWORK_DIR=<dir> -DCHECK=<name> -P this
file(MAKE_DIRECTORY ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
    TIMEOUT 120)
  set(status "${status}" PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

# Fails with `message` unless `condition` (the text of an if() condition) holds.
macro(expect condition message)
  cmake_language(EVAL CODE "if(${condition})\nset(holds TRUE)\nelse()\nset(holds FALSE)\nendif()")
  if(NOT holds)
    message(FATAL_ERROR "${message}\nexit status: ${status}\nstdout:\n${out}\nstderr:\n${err}")
  endif()
endmacro()

# Reads the SVG plot `svg` into `plot` and `svg_width`/`svg_height`: well-formed XML.
macro(check_svg svg)
  run(xmllint --noout ${svg})
  expect("status EQUAL 0" "the plot is not well-formed XML")
  file(READ ${svg} plot)
  string(REGEX MATCH "<svg xmlns=.http://www.w3.org/2000/svg. width=.([0-9]+). height=.([0-9]+)."
    size "${plot}")
  expect("size" "an SVG document with its size")
  set(svg_width ${CMAKE_MATCH_1})
  set(svg_height ${CMAKE_MATCH_2})
endmacro()

# How often `pattern` matches in `plot`, into `variable`.
function(count pattern variable)
  string(REGEX MATCHALL "${pattern}" matches "${plot}")
  list(LENGTH matches length)
  set(${variable} ${length} PARENT_SCOPE)
endfunction()

# Renders `svg` (after check_svg) with headless Chromium to a PNG of the SVG's size that shows more
# than a blank page (that is a few kilobytes). Without Chromium, a skip the test reports.
set(blank_png_bytes 20000)
function(render svg)
  find_program(CHROMIUM NAMES chromium chromium-browser)
  if(NOT CHROMIUM)
    message("chromium not installed: render skipped")
    return()
  endif()
  string(REGEX REPLACE "[.]svg$" ".png" png "${svg}")
  file(REMOVE ${png})
  execute_process(COMMAND ${CHROMIUM} --headless --no-sandbox --disable-gpu --disable-dev-shm-usage
    --hide-scrollbars --force-device-scale-factor=1 --user-data-dir=${WORK_DIR}/chromium
    --window-size=${svg_width},${svg_height} --screenshot=${png} file://${svg}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 60)
  expect("status EQUAL 0 AND EXISTS ${png}" "chromium did not render the plot")
  file(SIZE ${png} bytes)
  file(READ ${png} header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 32 8 width)
  string(SUBSTRING "${header}" 40 8 height)
  math(EXPR width "0x${width}")
  math(EXPR height "0x${height}")
  expect("header MATCHES \"^89504e47\" AND width EQUAL svg_width AND height EQUAL svg_height"
    "a PNG of the plot's size: ${png}")
  expect("bytes GREATER blank_png_bytes" "the rendered plot looks blank: ${png}")
endfunction()

if(CHECK STREQUAL "json")
  # Not on a terminal: one JSON object per line, every line parses. Two transmitters in the plot:
  # a chart per player that sent data, the others named in one line.
  set(svg ${WORK_DIR}/motion.svg)
  file(REMOVE ${svg})
  run(${MONITOR} --virtual 2 --seconds 1.5 --plot ${svg})
  expect("status EQUAL 0 AND err MATCHES \"plot written to\"" "the monitor failed")
  string(REGEX REPLACE "\n$" "" out_lines "${out}")
  string(REPLACE "\n" ";" lines "${out_lines}")
  list(LENGTH lines count)
  expect("count GREATER_EQUAL 10" "about ten lines a second expected")
  foreach(line IN LISTS lines)
    string(JSON players ERROR_VARIABLE json_error GET "${line}" players)
    expect("NOT json_error" "a line is not a JSON object with players: ${line}")
  endforeach()
  list(GET lines -1 last)
  string(JSON rx GET "${last}" players 0 rx)
  string(JSON rate GET "${last}" players 0 rate)
  string(JSON serial GET "${last}" players 1 serial)
  string(JSON third GET "${last}" players 2 rx)
  expect("rx STREQUAL LINK_OK AND third STREQUAL LINK_NO_DEVICE" "player 1 linked, player 3 not")
  expect("rate GREATER 50" "player 1 streams at 100 records/s")
  expect("serial STREQUAL ZAVNTX0000000002" "player 2's serial number is asked and shown")
  expect("err MATCHES \"using the virtual receiver with 2 transmitters\"" "says which receiver")
  check_svg(${svg})
  expect("plot MATCHES \"id=.player1.*id=.player2.\" AND NOT plot MATCHES \"id=.player[34]\""
    "a chart for each player with data, none for the others")
  expect("plot MATCHES \"Data from players 1 and 2; none from players 3 and 4[.]<\""
    "the players without data named")
  expect("plot MATCHES \"over 1[.][5-9] s</title>\"" "the title gives the run's length")
  count("<path class=.line. fill=.none. stroke=.#[0-9a-f]+. [^>]*d=.M[0-9]" lines)
  count(">motion [0-5]</text>" legend)
  count("<g class=.axis [xy]." axes)
  count(">time [(]s[)]</text>|>raw value</text>" names)
  count("class=.tick.>[0-9]" ticks)
  count("class=\"press\"" presses)
  expect("lines EQUAL 12 AND legend EQUAL 12" "six drawn and named channels per player")
  expect("axes EQUAL 4 AND names EQUAL 4 AND ticks GREATER 20" "each chart's axes, named and ticked")
  expect("presses GREATER_EQUAL 2" "the button presses marked")
  render(${svg})

elseif(CHECK STREQUAL "update_plot")
  # Stopped by the time limit in the image's phase: the plot of the failed update.
  set(svg ${WORK_DIR}/update.svg)
  file(REMOVE ${svg})
  run(${MONITOR} --virtual 1 --update --seconds 5 --plot ${svg})
  expect("status EQUAL 1 AND err MATCHES \"plot written to.*did not finish\""
    "the plot of a failed update")
  check_svg(${svg})
  expect("plot MATCHES \"class=.tick.>100<\" AND plot MATCHES \">progress [(]%[)]<\""
    "a percentage axis")
  expect("plot MATCHES \">reading the serial number<\" AND
    plot MATCHES \">starting the boot loader<\"" "the phases by name")
  expect("plot MATCHES \"stopped at the time limit</title>\"" "the outcome in the title")
  render(${svg})

elseif(CHECK STREQUAL "interrupt")
  # Ctrl-C ends the run as --seconds does: the plot is still written.
  set(svg ${WORK_DIR}/interrupted.svg)
  file(REMOVE ${svg})
  run(timeout --preserve-status -s INT 1.5 ${MONITOR} --virtual 1 --json --plot ${svg})
  expect("status EQUAL 0" "an interrupted monitor ends normally")
  expect("EXISTS ${svg}" "the plot is written on Ctrl-C")
  set(svg ${WORK_DIR}/interrupted_update.svg)
  file(REMOVE ${svg})
  run(timeout --preserve-status -s INT 1.5 ${MONITOR} --virtual 1 --update --json --plot ${svg})
  expect("status EQUAL 1 AND err MATCHES \"update interrupted\" AND EXISTS ${svg}"
    "an interrupted update still writes its plot")

elseif(CHECK STREQUAL "update")
  # On a terminal, as a user runs it, with four transmitters: the progress bar drawn in place.
  # (The update's steps, the others streaming on: tests/integration/update_machine_test.cpp.)
  run(script -qec "${MONITOR} --virtual 4 --update" /dev/null)
  expect("status EQUAL 0" "the update did not succeed")
  expect("out MATCHES \"#] 100%  done\"" "a progress bar to the end")
  expect("out MATCHES \"sending the HEX image\"" "the phases by name")

elseif(CHECK STREQUAL "errors")
  run(${MONITOR} --bogus)
  expect("status EQUAL 2 AND err MATCHES \"unknown option --bogus\"" "a bad option")
  run(${MONITOR} --virtual 9)
  expect("status EQUAL 2 AND err MATCHES \"1 to 4\"" "a bad transmitter count")
  run(${MONITOR} --real)
  expect("status EQUAL 1 AND err MATCHES \"found no receiver [(]USB id FFFF:0008[)] among the hidraw devices\"" "no receiver and no virtual one")
  run(${MONITOR} --virtual 1 --seconds 30 --plot ${WORK_DIR}/no/such/folder/plot.svg)
  expect("status EQUAL 1 AND err MATCHES \"cannot write the plot to .*: No such file or directory\" AND NOT err MATCHES \"using\"" "an unwritable plot, refused before the run")
  run(${MONITOR} --version)
  expect("status EQUAL 0 AND out MATCHES \"^zavn-monitor [0-9]+[.][0-9]+[.][0-9]+\"" "--version")
  run(${MONITOR} --help)
  expect("status EQUAL 0 AND out MATCHES \"usage: zavn-monitor\"" "--help")
else()
  message(FATAL_ERROR "unknown check ${CHECK}")
endif()
