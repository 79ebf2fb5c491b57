#!/usr/bin/env python3
"""Runs zavn-bridge's gamepads for four virtual controllers at 1000 records/s (needs /dev/uinput:
tests/kernel/run runs it in a guest) and checks them as evdev and SDL2 (sdl_pads.c) read them:
the nodes coming and going with the players, the motion node, SDL's pads and buttons."""
import argparse, json, math, os, select, statistics, struct, subprocess, tempfile, threading
import time
import evdev
from evdev import ecodes as e

# SDL's names of the controls that the button bits press by default (tools/bridge/controls.h);
# the touch pad's click (bit 13) and bits 18..22 press nothing on the gamepad.
SDL_NAMES = ['a', 'b', 'x', 'y', 'leftshoulder', 'rightshoulder', 'lefttrigger', 'righttrigger',
             'back', 'start', 'leftstick', 'rightstick', 'guide', None, 'dpup', 'dpdown', 'dpleft',
             'dpright'] + [None] * 5
PLAYERS, RATE = 4, 1000


def check(condition, message):
    if not condition:
        raise SystemExit(f'FAIL: {message}')


def start(command, **options):
    """The process, a list of its stdout lines with the time each was read, and their reader."""
    proc, lines = subprocess.Popen(command, stdout=subprocess.PIPE, text=True, **options), []
    reader = threading.Thread(target=lambda: lines.extend((time.monotonic(), line)
                                                          for line in proc.stdout))
    reader.start()
    return proc, lines, reader


def start_sdl(seconds):
    """sdl_pads, built here, reading /dev/input itself (udev need not run)."""
    work = tempfile.mkdtemp()
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'sdl_pads.c')
    flags = subprocess.check_output(['pkg-config', '--cflags', '--libs', 'sdl2'], text=True)
    subprocess.check_call(['cc', '-O1', '-o', f'{work}/sdl_pads', source, *flags.split()])
    sdl = start([f'{work}/sdl_pads', str(seconds)], env=dict(
        os.environ, SDL_VIDEODRIVER='dummy', SDL_AUDIODRIVER='dummy',
        SDL_JOYSTICK_DISABLE_UDEV='1', SDL_JOYSTICK_HIDAPI='0'))
    end = time.monotonic() + 30
    while not sdl[1] and time.monotonic() < end:
        time.sleep(0.1)
    check(sdl[1], 'sdl_pads did not start')
    return sdl


def watch(reader, seconds):
    """Until the bridge has ended and its nodes are gone: when each ZAVN node came and went, and
    player 1's motion node's properties and frames (kernel time, MSC_TIMESTAMP, acceleration,
    how many drops came before). The nodes stay open, as a node's removal wakes its reader."""
    nodes, came, went, motion, axes, props, frames, values = {}, {}, {}, -1, {}, (), [], {}
    end, listed, dropped, partial = time.monotonic() + seconds + 20, 0, 0, False
    while reader.is_alive() or nodes:
        check(time.monotonic() < end, f'nodes left: {sorted(n.name for n in nodes.values())}')
        if reader.is_alive() and len(came) < 2 * PLAYERS and time.monotonic() > listed + 0.02:
            listed = time.monotonic()
            for path in set(evdev.list_devices()) - {n.path for n in nodes.values()}:
                try:
                    device = evdev.InputDevice(path)
                except OSError:  # gone already
                    continue
                if not device.name.startswith('ZAVN') or device.name in came:
                    device.close()
                    continue
                nodes[device.fd], came[device.name] = device, listed
                if device.name == 'ZAVN Controller 1 Motion Sensors':
                    axes, props = dict(device.capabilities()[e.EV_ABS]), device.input_props()
                    values = {(e.EV_ABS, code): info.value for code, info in axes.items()}
                    motion, values[e.EV_MSC, e.MSC_TIMESTAMP] = device.fd, 0
        for fd in select.select(list(nodes), [], [], .01)[0] if nodes else time.sleep(.01) or []:
            try:  # struct input_event, unpacked here: python-evdev's objects cost more in a guest
                data = os.read(fd, 24 * 512)
            except OSError:  # the node has gone
                went[nodes.pop(fd).name] = time.monotonic()
                continue
            for sec, usec, kind, code, value in struct.iter_unpack('qqHHi', data * (fd == motion)):
                if kind != e.EV_SYN:
                    values[kind, code] = value
                elif code == e.SYN_DROPPED:  # the frame up to the next report is incomplete
                    dropped, partial = dropped + 1, True
                elif code == e.SYN_REPORT:
                    if not partial:
                        frames.append((sec + usec / 1e6, values[e.EV_MSC, e.MSC_TIMESTAMP], *(
                            values[e.EV_ABS, c] for c in (e.ABS_X, e.ABS_Y, e.ABS_Z)), dropped))
                    partial = False
    return came, went, props, axes, frames, dropped


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('bridge', help='the zavn-bridge program')
    parser.add_argument('--seconds', type=float, default=10, help='how long the bridge runs')
    args = parser.parse_args()
    seconds = args.seconds
    sdl, sdl_lines, sdl_reader = start_sdl(seconds + 30)
    bridge, said, reader = start([args.bridge, '--virtual', str(PLAYERS), '--rate',
                                  str(RATE), '--gamepad', '--seconds', str(seconds), '--json'])
    came, went, props, axes, frames, dropped = watch(reader, seconds)
    check(bridge.wait() == 0, f'the bridge exited {bridge.returncode}')
    said = [(at, json.loads(line)) for at, line in said if line.startswith('{')]
    stop = next(at for at, record in said if record['event'] == 'stop')

    late = []
    for player in range(1, PLAYERS + 1):
        joined = [at for at, r in said if r.get('player') == player and r.get('connected')]
        check(joined, f'player {player} never connected')
        for name in (f'ZAVN Controller {player}', f'ZAVN Controller {player} Motion Sensors'):
            check(name in came, f'no node "{name}"')
            late.append((came[name] - joined[0], went[name] - stop, name))
    came_late, went_late = max(t[0] for t in late), max(t[1] for t in late)
    nodes = (f'nodes: {len(came)} came at most {came_late:.2f} s after their players connected,'
             f' went at most {went_late:.2f} s after the bridge ended')
    check(came_late < 1 and went_late < 1, nodes)
    print(nodes)

    check(e.INPUT_PROP_ACCELEROMETER in props, 'the motion node is no accelerometer')
    for code in e.ABS_X, e.ABS_Y, e.ABS_Z, e.ABS_RX, e.ABS_RY, e.ABS_RZ:
        resolution = 8192 if code < e.ABS_RX else 1024
        check(axes[code].resolution == resolution,
              f'{e.ABS[code]} has resolution {axes[code].resolution}, not {resolution}')
    frames = frames[len(frames) // 10:]  # past the start
    check(len(frames) > 1000, f'only {len(frames)} motion frames')
    steps = [b[1] - a[1] for a, b in zip(frames, frames[1:])]
    check(min(steps) > 0, f'MSC_TIMESTAMP fell or stood {sum(s <= 0 for s in steps)} times')
    # The bridge's rate: over the runs of frames that this reader read without a drop.
    runs = [[f[0] for f in frames if f[5] == run] for run in range(dropped + 1)]
    rate = sum(len(r) - 1 for r in runs if r) / sum(r[-1] - r[0] for r in runs if r)
    check(abs(rate / RATE - 1) < 0.1, f'{rate:.0f} motion frames/s ({dropped} SYN_DROPPED)')
    g = statistics.mean(math.dist((0, 0, 0), frame[2:5]) for frame in frames) / 8192
    check(abs(g - 1) < 0.1, f'|accel| is {g:.2f} g on average')
    print(f'motion: accelerometer, 8192/g and 1024/(deg/s); {len(frames)} frames at {rate:.0f}/s,'
          f' MSC_TIMESTAMP rising by {statistics.median(steps)} us (median), |accel| {g:.3f} g,'
          f' {dropped} SYN_DROPPED')

    time.sleep(0.5)
    sdl.terminate()
    check(sdl.wait(timeout=10) == 0, f'sdl_pads exited {sdl.returncode}')
    sdl_reader.join()
    words = [line.split() for _, line in sdl_lines]
    pads = {w[2]: ' '.join(w[3:]) for w in words if w[0] == 'added'}
    check(sorted(pads.values()) == [f'ZAVN Controller {p}' for p in range(1, PLAYERS + 1)],
          f'SDL saw the game controllers {sorted(pads.values())}')
    check(sum(w[0] == 'removed' for w in words) == PLAYERS, 'SDL did not see every pad go')
    presses = []
    for pad, name in sorted(pads.items(), key=lambda item: item[1]):
        player = int(name.split()[-1])
        # The transmitter holds bit (player - 1) * 5 + k for 0.6 s of each k-th 2 s.
        expected = [n for k in range(30) if (n := SDL_NAMES[((player - 1) * 5 + k) % 23])]
        downs = [(float(w[1]), w[3]) for w in words if w[0] == 'down' and w[2] == pad]
        got = [button for _, button in downs]
        check(len(got) >= 2 and got in (expected[:len(got)], expected[1:len(got) + 1]),
              f'player {player} pressed {got} in SDL, not the start of {expected[:6]}')
        # The first press may have begun before the player connected; SDL releases the buttons
        # of a pad that goes.
        for at, button in downs[1:]:
            up = min((float(w[1]) for w in words if w[0] == 'up' and w[2] == pad and
                      w[3] == button and float(w[1]) > at), default=math.inf)
            check(up > stop or 0.5 < up - at < 0.7, f'{button} held {up - at:.2f} s')
        presses.append(f'{player}: {" ".join(got)}')
    print(f'sdl: {len(pads)} game controllers; presses (0.6 s each) {"; ".join(presses)}')


if __name__ == '__main__':
    main()
