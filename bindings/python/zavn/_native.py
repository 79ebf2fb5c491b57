"""The shared library: where it is found, its structures and every exported function's prototype."""

import ctypes
import ctypes.util
import os
import sys
import threading

from ctypes import (POINTER, c_char_p, c_float, c_int32, c_int64, c_uint8, c_uint16, c_uint32,
                    c_void_p)

LIBRARY_VARIABLE = "ZAVN_LIBRARY"
# Where a wheel puts the library; a source install has no such folder.
BUNDLED_FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "_lib")

HISTORY_LENGTH = 1024
MOTION_CHANNELS = 6
EXTENSION_CHANNELS = 3
ACCOUNT_PAGES = 16
ACCOUNT_PAGE_BYTES = 25
BUTTON_COUNT = 23
RAW_RECORD_BYTES = 64
PRODUCT_STRING_BYTES = 255
IMAGE_LINE_BYTES = 64
VIRTUAL_MAX_REPORT_LENGTH = 1024
MOTION_RING = 1024  # samples the library keeps per player


class PlayerStatus(ctypes.Structure):
    """One player's decoded state (include/zavn/zavn_status.h), 87032 bytes."""

    _fields_ = [
        ("Motion", c_int32 * MOTION_CHANNELS),
        ("MotionHistory", (c_int32 * HISTORY_LENGTH) * MOTION_CHANNELS),
        ("MotionCount", c_int32),
        ("SecondaryCount", c_int32),
        ("AccountPages", (c_uint8 * ACCOUNT_PAGE_BYTES) * ACCOUNT_PAGES),
        ("ReservedA", c_int32 * 3),
        ("ReservedAHistory", (c_int32 * HISTORY_LENGTH) * 3),
        ("Extension", c_int32 * EXTENSION_CHANNELS),
        ("ExtensionHistory", (c_int32 * HISTORY_LENGTH) * EXTENSION_CHANNELS),
        ("ReservedB", c_int32 * 3),
        ("ReservedBHistory", (c_int32 * HISTORY_LENGTH) * 3),
        ("SecondaryMotion", c_int32 * MOTION_CHANNELS),
        ("SecondaryHistory", (c_int32 * HISTORY_LENGTH) * MOTION_CHANNELS),
        ("ReservedC", c_int32 * 11),
        ("RecordCount", c_int32),
        ("SecondaryRecordCount", c_int32),
        ("SerialBlock", c_uint8 * 16),
        ("VersionBlock", c_uint8 * 12),
        ("AccountStatus", c_int32),
        ("ReservedD", c_int32 * 5),
        ("BootBlock", c_uint8 * 12),
        ("ReservedE", c_uint8 * 255),
        ("ExtensionBytes", c_uint8 * 2),
        ("ExtensionFlags", c_uint8 * 4),
        ("ReservedF", c_uint8 * 2),
        ("Padding1", c_uint8),
        ("ReservedG", c_int32 * 5),
        ("ReservedFloat", c_float * 6),
        ("ButtonBytes", c_uint8 * 12),
        ("Buttons", c_uint8 * BUTTON_COUNT),
        ("RawRecord", c_uint8 * RAW_RECORD_BYTES),
        ("Padding2", c_uint8),
    ]


class TransmitterState(ctypes.Structure):
    """What a virtual transmitter kept of the host's commands (include/zavn/zavn_virtual.h)."""

    _fields_ = [
        ("modes", c_uint8 * 6),
        ("playerNumber", c_uint8),
        ("antenna", c_uint8),
        ("motor", c_uint8 * 8),
        ("keyboardMouse", c_uint8 * 12),
        ("joystick", c_uint8 * 15),
        ("appInfo", c_uint8 * 2),
        ("screenWidth", c_uint16),
        ("screenHeight", c_uint16),
        ("mouseX", c_uint16),
        ("mouseY", c_uint16),
        ("serial", c_uint8 * 16),
        ("version", c_uint8 * 12),
        ("accountPages", (c_uint8 * 25) * 16),
        ("reportsReceived", c_uint32),
    ]


class MotionSample(ctypes.Structure):
    """One motion record in physical units (include/zavn/zavn_motion.h)."""

    _fields_ = [
        ("timeUs", c_int64),
        ("sample", c_uint32),
        ("buttons", c_uint32),
        ("accelG", c_float * 3),
        ("gyroDps", c_float * 3),
        ("orientation", c_float * 4),
    ]


# Every function uses cdecl (ZAVN_CALL), which CDLL calls on every platform.
RawDataCallback = ctypes.CFUNCTYPE(None, c_int32, POINTER(PlayerStatus))
FingerCallback = ctypes.CFUNCTYPE(None)
ScreenResolutionCallback = ctypes.CFUNCTYPE(None)

_u8p = POINTER(c_uint8)
_i32p = POINTER(c_int32)

# name: (result, arguments), for every name of src/core/ZAVN_Main.def.
PROTOTYPES = {
    "ZAVNInit": (c_void_p, []),
    "ZAVNReset": (c_int32, []),
    "ZAVNConnectRx": (None, []),
    "ZAVNRoutineFunc": (c_int32, []),
    "ZAVNSwitchHotplug": (c_int32, [c_int32]),
    "ZAVNStartCapture": (c_int32, [c_char_p]),
    "ZAVNStopCapture": (c_int32, []),
    "ZAVNDisconnectRx": (None, [c_int32]),
    "ZAVNTerminate": (c_int32, [c_int32]),
    "ZAVNGetProductString": (c_int32, [c_int32, c_void_p]),
    "ZAVNGetRxStatus": (c_int32, [c_int32]),
    "ZAVNGetTxStatus": (c_int32, [c_int32]),
    "ZAVNGetStatus": (None, [c_int32, POINTER(PlayerStatus)]),
    "ZAVNGetRawdataFPS": (c_int32, [c_int32, POINTER(POINTER(c_uint32))]),
    "ZAVNTurnONJoystickAPILoop": (c_int32, [c_uint32]),
    "ZAVNInitGetRawDataCallBack": (None, [RawDataCallback]),
    "ZAVNInitGetFingerCallBack": (None, [FingerCallback]),
    "ZAVNInitSendScrResolMSXYPosCallBack": (None, [ScreenResolutionCallback]),
    "ZAVNSwitchBrowser": (c_int32, [c_int32, c_int32]),
    "ZAVNSwitchKeyboard": (c_int32, [c_int32, c_int32]),
    "ZAVNSwitchMotionKey": (c_int32, [c_int32, c_int32]),
    "ZAVNSwitchRawdata": (c_int32, [c_int32, c_int32]),
    "ZAVNSwitchGameMode": (c_int32, [c_int32, c_int32]),
    "ZAVNSwitchGSensitivity": (c_int32, [c_int32, c_int32]),
    "ZAVNSendCMDToTx": (c_int32, [c_int32, c_int32, _u8p]),
    "ZAVNAskSerialNumber": (None, [c_int32, c_int32, _u8p, c_int32]),
    "ZAVNReadWriteVersionNum": (None, [c_int32, c_int32, _u8p]),
    "ZAVNWriteAccountData": (None, [c_int32, c_int32, c_int32, _u8p]),
    "ZAVNReadFWNumBootNum": (c_int32, [c_int32, c_int32]),
    "ZAVNITOA": (c_void_p, [c_int32, c_char_p, c_int32]),
    "ZAVNSetMotorAction": (c_int32, [c_int32, _u8p]),
    "ZAVNSelectPlayerNum": (None, [c_int32, c_int32]),
    "ZAVNSwitchRFAntenna": (None, [c_int32, c_int32]),
    "ZAVNSendAPIKeyboardMouse": (None, [c_int32, _i32p]),
    "ZAVNSendAPINewKeyJoystick": (None, [c_int32, _i32p]),
    "ZAVNSendScrResolMSXYPos": (c_int32, [c_int32] * 5),
    "ZAVNSendAppInfoToDongle": (c_int32, [c_int32] * 3),
    "ZAVNSelectGameChannel": (None, [c_int32, _i32p, c_int32]),
    "ZAVNClearGameChannel": (None, []),
    "ZAVNWriteVUKHex": (None, [c_int32, c_char_p, c_char_p]),
    "ZAVNGetVUKAppCheckSum": (c_uint32, []),
    "ZAVNWriteHarlonHex": (None, [c_int32, c_char_p, c_char_p]),
    "ZAVNBootLoaderFSM": (c_int32, [c_int32, c_int32]),
    "ZAVNGetBootloaderStatus": (c_int32, [c_int32]),
    "ZAVNFirmwareImagesArePlaceholders": (c_int32, []),
    "ZAVNCheckHarlonCHKAK": (c_int32, [c_int32]),
    "ZAVNCheckVUKCHKAK": (c_int32, [c_int32]),
    "ZAVNVirtualSelect": (c_int32, [c_int32]),
    "ZAVNVirtualClear": (None, []),
    "ZAVNVirtualPlug": (c_int32, [c_int32, c_int32, c_int32, c_int32, c_char_p]),
    "ZAVNVirtualPlugReceiver": (c_int32, [c_int32, c_int32]),
    "ZAVNVirtualPlugReplay": (c_int32, [c_char_p, c_int32, c_int32, c_char_p, c_int32]),
    "ZAVNVirtualUnplug": (c_int32, [c_int32]),
    "ZAVNVirtualReplug": (c_int32, [c_int32]),
    "ZAVNVirtualQueueInput": (c_int32, [c_int32, _u8p, c_int32]),
    "ZAVNVirtualTakeOutput": (c_int32, [c_int32, _u8p, c_int32]),
    "ZAVNVirtualSetProduct": (c_int32, [c_int32, c_char_p]),
    "ZAVNVirtualSetFaults": (c_int32, [c_int32, c_int32]),
    "ZAVNVirtualGetTransmitter": (c_int32, [c_int32, POINTER(TransmitterState)]),
    "ZAVNVirtualOpenHandles": (c_int32, []),
    "ZAVNVirtualSetMotion": (c_int32, [c_int32, POINTER(c_float), POINTER(c_float)]),
    "ZAVNVirtualSetGyroBias": (c_int32, [c_int32, POINTER(c_float)]),
    "ZAVNVirtualSetSensorErrors": (c_int32, [c_int32, POINTER(c_float), _i32p]),
    "ZAVNReadMotion": (c_int32, [c_int32, POINTER(MotionSample), c_int32]),
    "ZAVNTimeUs": (c_int64, []),
    "ZAVNLoadMotionProfile": (c_int32, [c_char_p, c_char_p, c_int32]),
    "ZAVNSetMotionCalibration": (c_int32, [c_int32, c_int32]),
    "ZAVNGetGyroBias": (c_int32, [c_int32, POINTER(c_float)]),
}

_lock = threading.Lock()
_library = None


def _candidates():
    """Where the library is looked for, in order: the variable (a file or its folder), then the
    copy a wheel carries in the package's _lib folder, then the system's usual search."""
    if sys.platform == "win32":
        names = ["ZAVN_Main.dll"]
    else:
        names = ["libZAVN_Main.so.1", "libZAVN_Main.so"]
    given = os.environ.get(LIBRARY_VARIABLE)
    if given:
        if os.path.isdir(given):
            return [os.path.join(given, name) for name in names]
        return [given]
    bundled = [os.path.join(BUNDLED_FOLDER, name) for name in names]
    found = ctypes.util.find_library("ZAVN_Main")
    return [path for path in bundled if os.path.isfile(path)] + ([found] if found else []) + names


def load():
    """The library with every function's prototype set; loaded on first use.

    Raises OSError naming the places tried when it cannot be found."""
    global _library
    with _lock:
        if _library is not None:
            return _library
        errors = []
        for candidate in _candidates():
            try:
                library = ctypes.CDLL(candidate)
                break
            except OSError as error:
                errors.append(f"{candidate}: {error}")
        else:
            raise OSError(
                "cannot load the ZAVN_Main library; set %s to its path (tried %s)"
                % (LIBRARY_VARIABLE, "; ".join(errors))
            )
        for name, (result, arguments) in PROTOTYPES.items():
            function = getattr(library, name)
            function.restype = result
            function.argtypes = arguments
        _library = library
        return library
