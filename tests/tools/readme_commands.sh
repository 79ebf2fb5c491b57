#!/bin/sh
# The README's commands, as written there: each line is first found, whole, in README.md, so the
# two cannot drift apart. Run by scripts/test from the project's root, after scripts/setup.
# Only places change: the install prefix /opt/zavn becomes a scratch folder, the maker's
# firmware files (/path/...) are the placeholder tables written out as such files, the udev rule
# is copied into a scratch /etc, `sudo` is left out (scripts/test runs as root), and udev's
# rules are reloaded only where a udev daemon answers.
set -eu
root=$(pwd)
work=$root/build/readme
prefix=$work/opt/zavn
firmware=$work/firmware
rm -rf "$work"
cmake -DSOURCE_DIR=src/firmware -DWORK_DIR="$firmware" -P tests/support/write_image_files.cmake
mkdir -p "$work/etc/udev/rules.d"

fail() { echo "README commands: $*" >&2; exit 1; }

# Runs the README's lines given (one command, continued lines included) with the places above.
readme() {
  command=""
  for line in "$@"; do
    grep -qxF -- "$line" "$root/README.md" || fail "the README no longer has the line: $line"
    command="$command$line
"
  done
  printf '\n+ %s' "$command"
  eval "$(printf '%s' "$command" | sed -e "s|/opt/zavn|$prefix|g" -e "s|/path/|$firmware/|g" \
    -e "s|/etc/udev/|$work/etc/udev/|g" -e 's|^sudo ||' -e 's|&& sudo |\&\& |g')"
}

# Quick start. The demo on a terminal (a pseudo-terminal), as a user runs it; its arguments go
# to zavn-monitor (--help shows it; the update on a terminal: the Monitor_update test).
readme 'scripts/demo    # builds the library and zavn-monitor and shows the live view for a few seconds'
script -qec "scripts/demo" /dev/null >"$work/demo.out" || fail "scripts/demo failed"
grep -q "player 1  Rx LINK_OK" "$work/demo.out" || fail "scripts/demo showed no player"
grep -qF '`scripts/demo --help` shows every option' README.md || fail "no demo --help"
scripts/demo --help | grep -q "^usage: zavn-monitor" || fail "scripts/demo --help"

# Building by hand, seeded as scripts/test builds: warnings are errors, the DLL in Release.
export CTEST_OUTPUT_ON_FAILURE=1
cmake -S . -B build/native -DZAVN_WERROR=ON >/dev/null
readme 'cmake -S . -B build/native && cmake --build build/native -j "$(nproc)" && (cd build/native && ctest -j "$(nproc)")'
readme 'cmake --install build/native --prefix /opt/zavn      # library, headers, zavn-monitor, packages'
cmake -S . -B build/i686-w64-mingw32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZAVN_WERROR=ON >/dev/null
readme 'cmake -S . -B build/i686-w64-mingw32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake'
readme 'cmake --build build/i686-w64-mingw32 -j "$(nproc)"   # build/i686-w64-mingw32/src/ZAVN_Main.dll'
[ -f build/i686-w64-mingw32/src/ZAVN_Main.dll ] || fail "no x86 DLL"
line='cd build/i686-w64-mingw32/windows-test && WINEPREFIX=$PWD/../../wine-prefix-win32 WINEARCH=win32 ZAVN_VIRTUAL_RX=1 ../../../scripts/wine32 zavn_windows_host.exe'
if scripts/wine32 --version >/dev/null 2>&1; then
  readme "$line"
else
  # A kernel without IA-32 emulation runs no 32-bit Wine: scripts/test runs the x86 programs
  # inside qemu instead.
  grep -qxF -- "$line" README.md || fail "the README no longer has the line: $line"
  printf '\n+ %s\n(not run: this kernel runs no 32-bit programs)\n' "$line"
fi
cd "$root"

# The installed package, by CMake and by pkg-config (in a scratch folder that sees examples/);
# the installed minimal_host with the example plug-in: tests/packages/deb.
rm -rf build/examples
readme 'cmake -S examples -B build/examples -DCMAKE_PREFIX_PATH=/opt/zavn && cmake --build build/examples'
readme 'build/examples/minimal_host'
[ -f "$prefix/lib/udev/rules.d/70-zavn-receiver.rules" ] || fail "the udev rule is not installed"
(
  cd "$work"
  ln -s ../../examples examples
  readme 'export PKG_CONFIG_PATH=/opt/zavn/lib/pkgconfig'
  readme 'cc examples/minimal_host/minimal_host.c $(pkg-config --cflags --libs zavn) \' \
    '  -Wl,-rpath,$(pkg-config --variable=libdir zavn) -o minimal_host'
  readme './minimal_host'
  # A capture by the installed monitor (of the virtual receiver here), which tshark reads (its
  # packets: tests/integration/capture_test.cpp).
  export PATH="$prefix/bin:$PATH"
  readme 'zavn-monitor --capture session.pcapng --seconds 5   # or ZAVN_CAPTURE=session.pcapng in a host' \
    >/dev/null
  readme 'tshark -r session.pcapng -T fields -e frame.time_relative -e usb.device_address -e usb.capdata' \
    >/dev/null 2>&1
  readme 'zavn-monitor --replay session.pcapng --seconds 5   # also --speed 2, --speed 0 (as fast as read), --loop' \
    >replay.out
  grep -q '"rx":"LINK_OK","tx":"LINK_OK","rate":[1-9]' replay.out || fail "the replay showed no player"
)

# From Python: the venv, the package, the example and recordings (in a scratch folder; the
# recorder's samples: bindings/python/tests; the replay's, by ZAVN_VIRTUAL_RX, only here).
readme '/usr/bin/python3 -m venv --system-site-packages build/python-venv && . build/python-venv/bin/activate'
readme 'pip install --no-build-isolation bindings/python'
readme 'export ZAVN_LIBRARY=$PWD/build/native/src/libZAVN_Main.so'
readme 'python3 bindings/python/examples/stream.py'
cd "$work"
readme 'python3 -m zavn record --seconds 5 out.csv'
readme 'ZAVN_VIRTUAL_RX=session.pcapng python3 -m zavn record --seconds 5 replayed.csv   # any host, once'
[ "$(wc -l <replayed.csv)" -gt 100 ] || fail "the replay's recording has no samples"
cd "$root"
deactivate

# The udev rule.
readme 'sudo cp packaging/udev/70-zavn-receiver.rules /etc/udev/rules.d/   # or install with prefix /usr'
cmp -s packaging/udev/70-zavn-receiver.rules "$work/etc/udev/rules.d/70-zavn-receiver.rules" ||
  fail "the udev rule was not copied"
if command -v udevadm >/dev/null 2>&1 && udevadm control --ping 2>/dev/null; then
  readme 'sudo udevadm control --reload-rules && sudo udevadm trigger'
else
  grep -qxF 'sudo udevadm control --reload-rules && sudo udevadm trigger' README.md ||
    fail "the README no longer reloads udev's rules"
  echo "(no udev daemon here: its rules are not reloaded)"
fi

# A build with the maker's firmware files, seeded as the native build (its objects come from
# the compiler cache).
cmake -S . -B build/real -DZAVN_WERROR=ON >/dev/null
readme 'cmake -S . -B build/real -DZAVN_FIRMWARE_HEX=/path/firmware.hex \' \
  '  -DZAVN_FIRMWARE_REPORT_TABLE=/path/report_table.txt'
cmake --build build/real -j "$(nproc)" --target ZAVN_Main
[ -f build/real/src/firmware/vuk_image.cpp ] && [ -f build/real/src/firmware/harlon_image.cpp ] ||
  fail "the firmware tables were not made from the files"
echo "the README's commands all ran"
