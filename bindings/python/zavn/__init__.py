"""ZAVN_Main from Python: the receiver of the wireless motion controllers, through ctypes.

The library is loaded on first use from the path in ZAVN_LIBRARY (the file, or its folder), else
from the package's _lib folder (where a wheel carries it), else by the system's usual search
(ctypes.util.find_library, then the loader's own)."""

import importlib.metadata

from . import virtual
from ._native import LIBRARY_VARIABLE, MotionSample, PlayerStatus, TransmitterState, load
from .receiver import (
    CALIBRATION_AUTO,
    CALIBRATION_OFF,
    CALIBRATION_RESTART,
    MOTION_DTYPE,
    PLAYERS,
    UPDATE_DONE,
    UPDATE_RESET,
    UPDATE_RUN,
    UPDATE_STOP,
    LinkState,
    Receiver,
    Snapshot,
    firmware_images_are_placeholders,
    itoa,
    time_us,
    update_phase,
)

try:
    __version__ = importlib.metadata.version(__name__)  # the project's, as installed
except importlib.metadata.PackageNotFoundError:  # imported from the source tree, not installed
    __version__ = "0+unknown"
__all__ = [
    "CALIBRATION_AUTO", "CALIBRATION_OFF", "CALIBRATION_RESTART", "LIBRARY_VARIABLE",
    "MOTION_DTYPE", "MotionSample", "PLAYERS", "UPDATE_DONE", "UPDATE_RESET", "UPDATE_RUN", "UPDATE_STOP",
    "LinkState", "PlayerStatus", "Receiver", "Snapshot", "TransmitterState",
    "firmware_images_are_placeholders", "itoa", "load", "time_us", "update_phase", "virtual",
]
