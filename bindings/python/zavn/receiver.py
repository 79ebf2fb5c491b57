"""The receiver: the calling order as a context manager, snapshots, callbacks, commands and the
firmware update."""

import atexit
import ctypes
import enum
import os
import threading
import time
from ctypes import POINTER, c_int32, c_uint8, c_uint32

from . import _native, virtual
from ._native import HISTORY_LENGTH, MOTION_RING, MotionSample, PlayerStatus

try:
    import numpy as np
except ImportError:  # NumPy is optional: histories are memoryviews without it
    np = None

PLAYERS = (1, 2, 3, 4)

# ZAVNBootLoaderFSM modes and the progress ZAVNGetBootloaderStatus reports (zavn_firmware.h).
UPDATE_STOP, UPDATE_RUN, UPDATE_RESET = 0, 1, 100
UPDATE_DONE = 100
_PHASES = (  # the first whose start the progress has reached
    (100, "done"),
    (91, "serial number written back"),
    (84, "writing the serial number back"),
    (77, "boot loader finished"),
    (70, "checking the image"),
    (57, "sending the HEX image"),
    (42, "starting the boot loader"),
    (30, "sending the table image"),
    (28, "erased, restarting"),
    (21, "serial number read, erasing"),
    (14, "reading the serial number"),
    (7, "identifying the receiver"),
)
# ZAVNSetMotionCalibration modes (zavn_motion.h).
CALIBRATION_OFF, CALIBRATION_AUTO, CALIBRATION_RESTART = 0, 1, 2
_RECONNECT_EVERY = 0.5  # keep()'s timer, where the system cannot report arrivals


class LinkState(enum.IntEnum):
    RESET_DONE = 3
    NOT_RESET = 4
    OK = 5
    NO_DEVICE = 6
    READ_ERROR = 7
    TIMEOUT = 8


def update_phase(progress):
    """What an update is doing at this progress (0..100)."""
    for start, phase in _PHASES:
        if progress >= start:
            return phase
    return "waiting for the receiver"


def firmware_images_are_placeholders():
    """True for a library with placeholder images, which updates only the virtual receiver."""
    return _native.load().ZAVNFirmwareImagesArePlaceholders() != 0


def itoa(value, radix):
    """ZAVNITOA: value in radix 2..36 as text ('' for another radix)."""
    buffer = ctypes.create_string_buffer(33)
    _native.load().ZAVNITOA(value, buffer, radix)
    return buffer.value.decode("ascii")


def time_us():
    """ZAVNTimeUs: the library's clock in microseconds, that of MotionSample.timeUs."""
    return _native.load().ZAVNTimeUs()


def _motion_dtype():
    """The NumPy form of MotionSample, at the ctypes structure's offsets."""
    names = ("time_us", "sample", "buttons", "accel_g", "gyro_dps", "orientation")
    formats = ("i8", "u4", "u4", ("f4", 3), ("f4", 3), ("f4", 4))
    offsets = [getattr(MotionSample, f).offset for f, _ in MotionSample._fields_]
    return np.dtype({"names": names, "formats": formats, "offsets": offsets,
                     "itemsize": ctypes.sizeof(MotionSample)})


MOTION_DTYPE = None if np is None else _motion_dtype()


def _player(player):
    if player not in PLAYERS:
        raise ValueError(f"player {player!r} is not one of 1..4")
    return player


def _bytes(data, length, what):
    """A byte array of exactly length bytes from bytes or integers 0..255."""
    data = bytes(data)
    if len(data) != length:
        raise ValueError(f"{what} takes {length} bytes, not {len(data)}")
    return (c_uint8 * length).from_buffer_copy(data)


def _ints(values, length, what):
    values = list(values)
    if len(values) != length:
        raise ValueError(f"{what} takes {length} values, not {len(values)}")
    return (c_int32 * length)(*values)


def _history(rows, count, use_numpy):
    count = max(0, min(count, HISTORY_LENGTH))
    if use_numpy:
        if np is None:
            raise ImportError("NumPy is not installed")
        return np.ctypeslib.as_array(rows)[:, :count]
    # ctypes gives the format '<i', which memoryview cannot index: recast as native int32.
    return tuple(memoryview(row).cast("B").cast("i")[:count] for row in rows)


class Snapshot:
    """One player's status as a snapshot handed it over.

    The histories hold the samples decoded since the player's previous snapshot, oldest first:
    motion_history[channel][k] for channel 0..5 and k < motion_count (extension_history is
    indexed alike; secondary_history, player 1 only, up to secondary_count). They are NumPy
    arrays of shape (channels, count) when NumPy is used, else one memoryview per channel; both
    are views of `status`, the whole PlayerStatus."""

    def __init__(self, player, status, use_numpy):
        self.player = player
        self.status = status
        self.motion_count = status.MotionCount
        self.secondary_count = status.SecondaryCount
        self.motion_history = _history(status.MotionHistory, self.motion_count, use_numpy)
        self.extension_history = _history(status.ExtensionHistory, self.motion_count, use_numpy)
        self.secondary_history = _history(status.SecondaryHistory, self.secondary_count, use_numpy)
        self.motion = tuple(status.Motion)
        self.extension = tuple(status.Extension)
        self.secondary_motion = tuple(status.SecondaryMotion)
        self.buttons = tuple(bool(b) for b in status.Buttons)
        self.record_count = status.RecordCount
        self.serial = bytes(status.SerialBlock)
        self.version = bytes(status.VersionBlock)
        self.account_pages = [bytes(page) for page in status.AccountPages]
        self.account_status = status.AccountStatus
        self.raw_record = bytes(status.RawRecord)

    def __repr__(self):
        return f"<Snapshot player {self.player}: {self.motion_count} samples, motion {self.motion}>"


_open_lock = threading.Lock()
_open_receiver = None
_in_callback = threading.local()  # set on the poll thread while it runs a raw-data callback


class Receiver:
    """The library's calling order: entering runs ZAVNInit, the callback registrations,
    ZAVNReset, ZAVNConnectRx and ZAVNRoutineFunc, then switches the hotplug on, so that receivers
    plugged in or pulled out later are followed by the library itself (`following`); leaving
    disconnects every player and runs ZAVNTerminate(0). The library serves one host per process,
    so one Receiver is open at a time.

    virtual: None leaves the backend as the library chose it (ZAVN_VIRTUAL_RX); 0 selects the
    system's HID stack; N in 1..4 selects the virtual receiver and plugs one with N transmitters
    streaming rate_hz records a second; a path selects it and plugs one that plays that capture
    back at its captured timing (zavn.virtual.plug_replay); either is unplugged on leaving.
    on_raw_data(kind, status) runs on the library's poll thread after every motion record, with
    the library's own PlayerStatus, valid during the call only; keep it short.
    numpy: histories as NumPy arrays (True), memoryviews (False), or NumPy when installed (None)."""

    def __init__(self, on_raw_data=None, *, on_finger=None, on_screen_resolution=None,
                 virtual=None, rate_hz=100, numpy=None):
        self._on_raw_data = on_raw_data
        self._on_finger = on_finger
        self._on_screen_resolution = on_screen_resolution
        self._virtual = virtual
        self._rate_hz = rate_hz
        self._numpy = np is not None if numpy is None else bool(numpy)
        self._callbacks = []  # every ctypes callback registered since opening, kept alive
        self._last_connect = 0.0
        self.following = False  # the library follows arrivals and removals: see hotplug()
        self.first_virtual_id = 0  # the first virtual data interface (virtual=N), for zavn.virtual
        self._lib = None

    # The calling order.

    def open(self):
        global _open_receiver
        with _open_lock:
            if _open_receiver is not None:
                raise RuntimeError("a Receiver is open already: the library serves one host")
            lib = self._lib = _native.load()
            lib.ZAVNInit()
            self._register()
            if self._virtual is not None:
                lib.ZAVNVirtualSelect(1 if self._virtual else 0)
            lib.ZAVNReset()
            if self._virtual:
                lib.ZAVNVirtualClear()
                self.first_virtual_id = self._plug_virtual(lib)
            self.connect()
            self.hotplug(True)
            _open_receiver = self
        return self

    def _plug_virtual(self, lib):
        try:
            if isinstance(self._virtual, (str, bytes, os.PathLike)):
                return virtual.plug_replay(self._virtual)
            first = lib.ZAVNVirtualPlugReceiver(self._virtual, self._rate_hz)
            if first == 0:
                raise ValueError(f"cannot plug a virtual receiver with {self._virtual} "
                                 f"transmitters at {self._rate_hz} Hz")
            return first
        except ValueError:
            self._shut_down()
            raise

    def close(self):
        global _open_receiver
        if getattr(_in_callback, "active", False):
            raise RuntimeError("close the Receiver from a host thread, not from its callback")
        with _open_lock:
            if _open_receiver is not self:
                return
            self._shut_down()
            _open_receiver = None

    def _shut_down(self):
        lib = self._lib
        self.hotplug(False)  # first: nothing is connected again behind the disconnects
        for player in PLAYERS:
            lib.ZAVNDisconnectRx(player)
        lib.ZAVNTerminate(0)
        # The poll thread has ended: no callback runs any more, so they may go.
        lib.ZAVNInitGetRawDataCallBack(_native.RawDataCallback())  # null: none
        lib.ZAVNInitGetFingerCallBack(_native.FingerCallback())
        lib.ZAVNInitSendScrResolMSXYPosCallBack(_native.ScreenResolutionCallback())
        self._callbacks.clear()
        if self._virtual:
            lib.ZAVNVirtualClear()

    def __enter__(self):
        return self.open()

    def __exit__(self, *exc):
        self.close()

    # Callbacks.

    def _register(self):
        self._register_raw_data(self._on_raw_data)
        lib = self._lib
        # A callback type called without a function is the null pointer.
        finger = _native.FingerCallback(*[f for f in [self._on_finger] if f])
        screen = _native.ScreenResolutionCallback(*[f for f in [self._on_screen_resolution] if f])
        self._callbacks += [finger, screen]
        lib.ZAVNInitGetFingerCallBack(finger)
        lib.ZAVNInitSendScrResolMSXYPosCallBack(screen)

    def set_raw_data_callback(self, function):
        """Registers function(kind, status) for the records from the next on (None: none); before
        opening, for when it opens."""
        self._on_raw_data = function
        if _open_receiver is self:
            self._register_raw_data(function)

    def _register_raw_data(self, function):
        if function is None:
            self._lib.ZAVNInitGetRawDataCallBack(_native.RawDataCallback())
            return

        def call(kind, status):
            _in_callback.active = True
            try:
                function(kind, status.contents)
            finally:
                _in_callback.active = False

        callback = _native.RawDataCallback(call)
        # The previous one may still be running on the poll thread: it stays referenced too.
        self._callbacks.append(callback)
        self._lib.ZAVNInitGetRawDataCallBack(callback)

    # Links and status.

    def connect(self):
        """ZAVNConnectRx and ZAVNRoutineFunc: (re)opens the receiver's slots and polls them."""
        self._lib.ZAVNConnectRx()
        self._lib.ZAVNRoutineFunc()
        self._last_connect = time.monotonic()

    def hotplug(self, on=True):
        """ZAVNSwitchHotplug: on, the library connects the receiver's interfaces as they arrive
        and gives up those removed (their link becomes NO_DEVICE) on a thread of its own; on also
        connects what is present. Returns `following`: False when off, or when the system cannot
        report arrivals (keep() then reconnects on a timer). Entering switches it on."""
        self.following = self._lib.ZAVNSwitchHotplug(1 if on else 0) == 1
        return self.following

    def keep(self, player=None):
        """Without the hotplug: connects again, at most twice a second, when the player's link (or
        with no player, every link) is down, so that a receiver that drops off comes back. While
        `following`, the library does that itself and this does nothing."""
        if self.following:
            return
        down = (self.rx_status(player) != LinkState.OK if player is not None
                else not self.linked_players())
        if down and time.monotonic() - self._last_connect >= _RECONNECT_EVERY:
            self.connect()

    def rx_status(self, player):
        return _state(self._lib.ZAVNGetRxStatus(_player(player)))

    def tx_status(self, player):
        return _state(self._lib.ZAVNGetTxStatus(_player(player)))

    def linked_players(self):
        return [p for p in PLAYERS if self._lib.ZAVNGetRxStatus(p) == LinkState.OK]

    def product_string(self, player):
        """The HID product string of the player's interface, or None when it cannot be read."""
        buffer = ctypes.create_string_buffer(_native.PRODUCT_STRING_BYTES + 1)
        if not self._lib.ZAVNGetProductString(_player(player), buffer):
            return None
        text = buffer.raw[: _native.PRODUCT_STRING_BYTES - 1].decode("utf-16-le", "replace")
        return text.split("\0", 1)[0]

    def snapshot(self, player, numpy=None):
        """The player's status; hands over the samples decoded since its previous snapshot."""
        status = PlayerStatus()
        self._lib.ZAVNGetStatus(_player(player), ctypes.byref(status))
        return Snapshot(player, status, self._numpy if numpy is None else bool(numpy))

    def motion(self, player, numpy=None):
        """The player's motion samples (zavn_motion.h) since the previous call, oldest first: a
        NumPy structured array of MOTION_DTYPE (time_us, sample, buttons, accel_g, gyro_dps,
        orientation), or without NumPy a list of MotionSample."""
        chunks = []
        while True:  # more may arrive while one ring's worth is read
            buffer = (MotionSample * MOTION_RING)()
            count = self._lib.ZAVNReadMotion(_player(player), buffer, MOTION_RING)
            chunks.append((buffer, count))
            if count < MOTION_RING:
                break
        if not (self._numpy if numpy is None else numpy):
            return [sample for buffer, count in chunks for sample in buffer[:count]]
        if np is None:
            raise ImportError("NumPy is not installed")
        return np.concatenate([np.frombuffer(buffer, MOTION_DTYPE, count)
                               for buffer, count in chunks])

    def load_motion_profile(self, path):
        """ZAVNLoadMotionProfile: a sensor profile file (INI) for the players and transmitters it
        names; None goes back to the defaults. Raises ValueError with the library's message
        (file, line and key) when it is refused; the profile in use then stays."""
        error = ctypes.create_string_buffer(512)
        if not self._lib.ZAVNLoadMotionProfile(None if path is None else os.fsencode(path),
                                               error, len(error)):
            raise ValueError(error.value.decode(errors="replace"))

    def set_motion_calibration(self, player, mode):
        """CALIBRATION_OFF, CALIBRATION_AUTO (the default) or CALIBRATION_RESTART."""
        if not self._lib.ZAVNSetMotionCalibration(_player(player), mode):
            raise ValueError(f"no calibration mode {mode!r}")

    def gyro_bias(self, player):
        """The bias taken out of the player's rotation rate (x, y, z in deg/s), or None before
        it has been measured."""
        bias = (ctypes.c_float * 3)()
        return tuple(bias) if self._lib.ZAVNGetGyroBias(_player(player), bias) else None

    def rates(self):
        """Per player 1..4: (counted records per second, secondary motion records per second)."""
        words = [(c_uint32 * 4)() for _ in PLAYERS]
        pointers = (POINTER(c_uint32) * 4)(*[ctypes.cast(w, POINTER(c_uint32)) for w in words])
        self._lib.ZAVNGetRawdataFPS(0, pointers)
        return [(w[0], w[1]) for w in words]

    def joystick_api_loop(self, on):
        self._lib.ZAVNTurnONJoystickAPILoop(1 if on else 0)

    # Commands: each writes one output report to the player's receiver.

    def switch_browser(self, player, value):
        self._lib.ZAVNSwitchBrowser(_player(player), value)

    def switch_keyboard(self, player, value):
        self._lib.ZAVNSwitchKeyboard(_player(player), value)

    def switch_motion_key(self, player, value):
        self._lib.ZAVNSwitchMotionKey(_player(player), value)

    def switch_rawdata(self, player, value):
        self._lib.ZAVNSwitchRawdata(_player(player), value)

    def switch_game_mode(self, player, value):
        self._lib.ZAVNSwitchGameMode(_player(player), value)

    def switch_g_sensitivity(self, player, value):
        self._lib.ZAVNSwitchGSensitivity(_player(player), value)

    def send_cmd_to_tx(self, player, command, value):
        """Command 1: switch_browser(value); 2: switch_keyboard(value); others send nothing."""
        self._lib.ZAVNSendCMDToTx(_player(player), command, _bytes([value], 1, "the value"))

    def ask_serial_number(self, player, sub_command=0):
        """Asks for the serial number; it arrives in Snapshot.serial."""
        self._lib.ZAVNAskSerialNumber(_player(player), sub_command, _bytes(bytes(16), 16, ""), 1)

    def write_serial_number(self, player, serial, sub_command=2):
        """Serial-number data: the 16 bytes with sub-command 2, 16 zero bytes with another."""
        self._lib.ZAVNAskSerialNumber(_player(player), sub_command,
                                      _bytes(serial, 16, "the serial number"), 2)

    def read_write_version(self, player, operation=0, version=bytes(12)):
        """Report 0B with the operation and 12 version bytes; the answer is Snapshot.version."""
        self._lib.ZAVNReadWriteVersionNum(_player(player), operation,
                                          _bytes(version, 12, "the version"))

    def write_account_data(self, player, first, second, digits):
        """Report 0A with two control bytes and 25 digit values (0..9); the answer is in
        Snapshot.account_pages and account_status."""
        self._lib.ZAVNWriteAccountData(_player(player), first, second,
                                       _bytes(digits, 25, "the account data"))

    def read_fw_num_boot_num(self, player, selector):
        """The boot command of selector 0..4: 1 when written, 0 when not sent, else an error."""
        return self._lib.ZAVNReadFWNumBootNum(_player(player), selector)

    def set_motor_action(self, player, motor):
        self._lib.ZAVNSetMotorAction(_player(player), _bytes(motor, 8, "the motor action"))

    def select_player_num(self, player, number):
        self._lib.ZAVNSelectPlayerNum(_player(player), number)

    def switch_rf_antenna(self, player, antenna):
        self._lib.ZAVNSwitchRFAntenna(_player(player), antenna)

    def send_keyboard_mouse(self, player, values):
        self._lib.ZAVNSendAPIKeyboardMouse(_player(player), _ints(values, 12, "keyboard/mouse"))

    def send_joystick(self, player, values):
        self._lib.ZAVNSendAPINewKeyJoystick(_player(player), _ints(values, 15, "the joystick"))

    def send_screen_resolution(self, player, width, height, mouse_x, mouse_y):
        self._lib.ZAVNSendScrResolMSXYPos(_player(player), width, height, mouse_x, mouse_y)

    def send_app_info(self, player, first, second):
        self._lib.ZAVNSendAppInfoToDongle(_player(player), first, second)

    def select_game_channel(self, game, modes=(0, 0, 0, 0), parameter=0):
        """Selects game entry `game` of NoltaUT.ini for the plug-in dispatch."""
        self._lib.ZAVNSelectGameChannel(game, _ints(modes, 4, "the channel modes"), parameter)

    def clear_game_channel(self):
        self._lib.ZAVNClearGameChannel()

    # The firmware update and its image writers.

    def update(self, slot=1, progress=None, timeout=120.0, interval=0.1):
        """Updates the firmware of the slot's receiver, which drops off and comes back under each
        new firmware (followed by the hotplug, else reconnected by keep()); progress(percent,
        phase) is called on each change. True when it reached 100 within timeout seconds. The
        mode is set back to UPDATE_STOP in any case. A library with placeholder images updates
        only the virtual receiver: a real one stays at 0."""
        _player(slot)
        lib = self._lib
        lib.ZAVNBootLoaderFSM(slot, UPDATE_RUN)
        deadline = time.monotonic() + timeout
        shown = None
        try:
            while True:
                self.keep(slot)
                percent = lib.ZAVNGetBootloaderStatus(slot)
                if progress is not None and percent != shown:
                    progress(percent, update_phase(percent))
                shown = percent
                if percent >= UPDATE_DONE or time.monotonic() >= deadline:
                    return percent >= UPDATE_DONE
                time.sleep(interval)
        finally:
            lib.ZAVNBootLoaderFSM(slot, UPDATE_STOP)

    def bootloader_fsm(self, slot, mode):
        """ZAVNBootLoaderFSM: UPDATE_STOP, UPDATE_RUN or UPDATE_RESET; False for another slot."""
        return self._lib.ZAVNBootLoaderFSM(slot, mode) != 0

    def bootloader_status(self, slot):
        return self._lib.ZAVNGetBootloaderStatus(slot)

    def take_hex_grant(self, slot):
        """Reads and clears the slot's grant to send the next HEX line."""
        return self._lib.ZAVNCheckVUKCHKAK(slot) != 0

    def take_table_grant(self, slot):
        """Reads and clears the slot's grant to send the next table row."""
        return self._lib.ZAVNCheckHarlonCHKAK(slot) != 0

    def write_hex_line(self, player, line):
        """Sends one Intel HEX record (text from its ':', at most 63 characters) and adds its
        data bytes to the image checksum. Returns the library's copy of the line."""
        line = line.encode("ascii") if isinstance(line, str) else bytes(line)
        if len(line) >= _native.IMAGE_LINE_BYTES:
            raise ValueError(f"a HEX line has at most {_native.IMAGE_LINE_BYTES - 1} characters")
        scratch = ctypes.create_string_buffer(_native.IMAGE_LINE_BYTES)
        self._lib.ZAVNWriteVUKHex(_player(player), scratch,
                                  ctypes.create_string_buffer(line, _native.IMAGE_LINE_BYTES))
        return scratch.value.decode("ascii", "replace")

    def hex_checksum(self):
        """The checksum the last checksum report carried (0 before one since the reset)."""
        return self._lib.ZAVNGetVUKAppCheckSum()

    def write_table_row(self, player, row):
        """Sends the 32-byte report written as 64 hex digits."""
        row = row.encode("ascii") if isinstance(row, str) else bytes(row)
        if len(row) != _native.IMAGE_LINE_BYTES:
            raise ValueError(f"a table row has {_native.IMAGE_LINE_BYTES} hex digits")
        scratch = ctypes.create_string_buffer(_native.IMAGE_LINE_BYTES)
        self._lib.ZAVNWriteHarlonHex(_player(player), scratch, ctypes.create_string_buffer(row))


def _state(value):
    try:
        return LinkState(value)
    except ValueError:
        return value


@atexit.register
def _close_at_exit():
    # A poll thread left running would call into an interpreter that is shutting down.
    receiver = _open_receiver
    if receiver is not None:
        receiver.close()
