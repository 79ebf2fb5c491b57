# zavn-monitor as a user runs it. cmake -DMONITOR=<path> -DWORK_DIR=<dir> -DCHECK=<name> -P this
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

macro(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
    TIMEOUT 120)
endmacro()

# Fails with `message` unless `condition` (the text of an if() condition) holds.
macro(expect condition message)
  cmake_language(EVAL CODE "if(${condition})\nset(holds TRUE)\nelse()\nset(holds FALSE)\nendif()")
  if(NOT holds)
    message(FATAL_ERROR "${message}\nexit status: ${status}\nstdout:\n${out}\nstderr:\n${err}")
  endif()
endmacro()

# Runs the command: it must exit with `expected`, its `stream` (out or err) matching `said`.
macro(expect_run expected stream said)
  run(${ARGN})
  expect("status EQUAL ${expected} AND ${stream} MATCHES \"${said}\"" "expected: ${said}")
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

# Fails with `message` unless the number of matches of `pattern` in `plot` passes `test`.
function(expect_count pattern test message)
  string(REGEX MATCHALL "${pattern}" matches "${plot}")
  list(LENGTH matches count)
  expect("count ${test}" "${message}: ${count}")
endfunction()

# Sets `var` to the JSON number `value` in thousandths, rounded towards zero.
function(milli value var)
  string(REGEX MATCH "^(-?)([0-9]+)[.]?([0-9]*)(e-)?" parts "${value}")
  string(SUBSTRING "${CMAKE_MATCH_3}000" 0 3 fraction)
  math(EXPR number "${CMAKE_MATCH_2} * 1000 + 1${fraction} - 1000")
  if(CMAKE_MATCH_4)
    set(number 0)
  endif()
  set(${var} ${CMAKE_MATCH_1}${number} PARENT_SCOPE)
endfunction()

# Renders `svg` (after check_svg) with headless Chromium at the SVG's size to a PNG that shows more
# than a blank page (a few kilobytes). Without Chromium, a skip the test reports.
function(render svg)
  find_program(CHROMIUM NAMES chromium chromium-browser)
  if(NOT CHROMIUM)
    message("chromium not installed: render skipped")
    return()
  endif()
  set(png ${svg}.png)
  run(${CHROMIUM} --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --hide-scrollbars
    --force-device-scale-factor=1 --user-data-dir=${WORK_DIR}/chromium
    --window-size=${svg_width},${svg_height} --screenshot=${png} file://${svg})
  expect("status EQUAL 0 AND EXISTS ${png}" "chromium did not render the plot")
  file(SIZE ${png} bytes)
  expect("bytes GREATER 20000" "the rendered plot looks blank: ${png}")
endfunction()

if(CHECK STREQUAL "json")
  # Not on a terminal: one JSON object per line, every line parses. Two transmitters in the plot:
  # charts per player that sent data, the others named in one line.
  set(svg ${WORK_DIR}/motion.svg)
  expect_run(0 err "using the virtual receiver with 2 transmitters.*plot written to"
    ${MONITOR} --virtual 2 --seconds 1.5 --plot ${svg})
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
  # Motion in units: the virtual transmitters tilt slowly about face up, so the accelerometer
  # reads about 1 g, and the attitude agrees with the tilt it sees (pitch ~ asin(ay),
  # roll ~ atan2(-ax, az), within 10 degrees).
  foreach(p 0 1)
    foreach(field accel_g.0 accel_g.1 accel_g.2 gyro_dps.0 attitude_deg.roll attitude_deg.pitch
        attitude_deg.yaw)
      string(REPLACE "." ";" field ${field})
      string(JSON value GET "${last}" players ${p} ${field})
      string(REPLACE ";" "_" field "${field}")
      milli(${value} ${field})
    endforeach()
    math(EXPR g2 "(${accel_g_0} * (${accel_g_0}) + ${accel_g_1} * (${accel_g_1}) +
      ${accel_g_2} * (${accel_g_2})) / 1000")
    math(EXPR pitch_off "(${attitude_deg_pitch} - ${accel_g_1} * 57) / 1000")
    math(EXPR roll_off "(${attitude_deg_roll} + ${accel_g_0} * 57) / 1000")
    expect("g2 GREATER 250 AND g2 LESS 2250 AND accel_g_2 GREATER 500"
      "|accel| within 0.5..1.5 g, face up: ${g2} thousandths of g squared in ${last}")
    expect("gyro_dps_0 GREATER -2000000 AND gyro_dps_0 LESS 2000000 AND
      attitude_deg_yaw GREATER_EQUAL -180000 AND attitude_deg_yaw LESS_EQUAL 180000"
      "rotation and yaw in range in ${last}")
    expect("pitch_off GREATER -10 AND pitch_off LESS 10 AND roll_off GREATER -10 AND
      roll_off LESS 10" "pitch and roll off the tilt by ${pitch_off} and ${roll_off} deg")
  endforeach()
  check_svg(${svg})
  expect("plot MATCHES \"id=.player1.*id=.player2.\" AND NOT plot MATCHES \"id=.player[34]\""
    "a chart for each player with data, none for the others")
  expect("plot MATCHES \"Data from players 1 and 2; none from players 3 and 4[.]<\""
    "the players without data named")
  expect("plot MATCHES \"over 1[.][5-9] s</title>\"" "the title gives the run's length")
  # Per player a chart of the raw channels, one of acceleration and one of rotation.
  expect_count("<path class=.line. fill=.none. stroke=.#[0-9a-f]+. [^>]*d=.M[0-9]" "EQUAL 24"
    "six raw and six unit channels drawn per player")
  expect_count(">motion [0-5]</text>" "EQUAL 12" "six named raw channels per player")
  expect_count(">(accel|gyro) [xyz]</text>" "EQUAL 12" "six named unit channels per player")
  expect_count("<g class=.axis [xy]." "EQUAL 12" "each chart's two axes")
  set(names "time [(]s[)]|raw value|acceleration [(]g[)]|rotation [(]deg/s[)]")
  expect_count(">(${names})</text>" "EQUAL 12" "each axis named")
  expect_count("class=.tick.>[0-9]" "GREATER 20" "the axes ticked")
  expect_count("class=\"press\"" "GREATER_EQUAL 2" "the button presses marked")
  render(${svg})

elseif(CHECK STREQUAL "update_plot")
  # Stopped by the time limit in the image's phase: the plot of the failed update.
  set(svg ${WORK_DIR}/update.svg)
  expect_run(1 err "plot written to.*did not finish"
    ${MONITOR} --virtual 1 --update --seconds 5 --plot ${svg})
  check_svg(${svg})
  expect("plot MATCHES \"class=.tick.>100<\" AND plot MATCHES \">progress [(]%[)]<\""
    "a percentage axis")
  expect("plot MATCHES \">reading the serial number<\" AND
    plot MATCHES \">starting the boot loader<\"" "the phases by name")
  expect("plot MATCHES \"stopped at the time limit</title>\"" "the outcome in the title")
  render(${svg})

elseif(CHECK STREQUAL "interrupt")
  # Ctrl-C ends the run as --seconds does: the plot is still written, also an update's.
  set(ctrl_c timeout --preserve-status -s INT 1.5 ${MONITOR} --virtual 1 --json --plot)
  expect_run(0 err "plot written to" ${ctrl_c} ${WORK_DIR}/stream.svg)
  expect("EXISTS ${WORK_DIR}/stream.svg" "the plot is written on Ctrl-C")
  expect_run(1 err "update interrupted" ${ctrl_c} ${WORK_DIR}/update.svg --update)
  expect("EXISTS ${WORK_DIR}/update.svg" "an interrupted update still writes its plot")

elseif(CHECK STREQUAL "errors")
  expect_run(2 err "unknown option --bogus" ${MONITOR} --bogus)
  expect_run(2 err "transmitters from 1 to 4" ${MONITOR} --virtual 9)
  # Slower than the library's whole percents: refused, not played as fast as read.
  expect_run(2 err "--speed needs a factor from 0.01" ${MONITOR} --replay x.pcapng --speed 0.001)
  expect_run(1 err "found no receiver [(]USB id FFFF:0008[)] among the hidraw devices"
    ${MONITOR} --real)
  # A calibration measures a real controller: none there, nothing written.
  expect_run(2 err "--calibrate measures a real controller" ${MONITOR} --calibrate p.ini --virtual 1)
  expect_run(1 err "found no receiver" ${MONITOR} --calibrate ${WORK_DIR}/profile.ini)
  expect("NOT EXISTS ${WORK_DIR}/profile.ini" "no profile written")
  # A receiver whose nodes this user may not open (root, who may, runs it as nobody): its node
  # named with owner and mode, and the udev rule that grants it, not yet installed and then
  # installed; no virtual receiver instead. Its node open to all, another vendor's, not named.
  set(root ${WORK_DIR}/root)
  foreach(node hidraw3:FFFF:000 hidraw4:FFFF:666 hidraw5:046D:000)
    string(REPLACE ":" ";" node ${node})
    list(GET node 0 name)
    list(GET node 1 vendor)
    file(WRITE ${root}/sys/class/hidraw/${name}/device/uevent "HID_ID=0003:0000${vendor}:00000008")
    file(WRITE ${root}/dev/${name} "")
    list(GET node 2 mode)
    run(chmod ${mode} ${root}/dev/${name})
  endforeach()
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid)
  set(user ${CMAKE_COMMAND} -E env ZAVN_MONITOR_TEST_ROOT=${root})
  if(uid EQUAL 0)
    list(APPEND user setpriv --reuid=65534 --regid=65534 --clear-groups)
  endif()
  set(nodes "its nodes:\n  ${root}/dev/hidraw3 [(]owner [^,]+, group [^,]+, mode 0000[)]")
  set(trigger "\n  sudo udevadm control --reload-rules && sudo udevadm trigger\n")
  expect_run(1 err "${nodes}\nThe udev rule packaging/udev/70-zavn-receiver.rules .*${trigger}$"
    ${user} ${MONITOR} --real)
  file(WRITE ${root}/usr/lib/udev/rules.d/70-zavn-receiver.rules "")
  expect_run(1 err "${nodes}\nThe udev rule /usr/lib/udev/rules.d/70.*${trigger}[(]or --virtual 2"
    ${user} ${MONITOR} --json --seconds 1)
  expect("out STREQUAL \"\"" "no JSON lines of a virtual receiver")
  # Refused before the run: the first thing it says.
  expect_run(1 err "^zavn-monitor: cannot write the plot to [^:]*: No such file or directory"
    ${MONITOR} --virtual 1 --seconds 30 --plot ${WORK_DIR}/no/such/folder/plot.svg)
  expect_run(0 out "^zavn-monitor [0-9]+[.][0-9]+[.][0-9]+" ${MONITOR} --version)
  expect_run(0 out "usage: zavn-monitor" ${MONITOR} --help)
else()
  message(FATAL_ERROR "unknown check ${CHECK}")
endif()
