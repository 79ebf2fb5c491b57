"""ZAVN_Main from Python: the receiver of the wireless motion controllers, through ctypes.

The library is loaded on first use from the path in ZAVN_LIBRARY (the file, or its folder), else
by the system's usual search (ctypes.util.find_library, then the loader's own)."""

from . import virtual
from ._native import LIBRARY_VARIABLE, PlayerStatus, TransmitterState, load
from .receiver import (
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
    update_phase,
)

__version__ = "1.0.0"
__all__ = [
    "LIBRARY_VARIABLE", "PLAYERS", "UPDATE_DONE", "UPDATE_RESET", "UPDATE_RUN", "UPDATE_STOP",
    "LinkState", "PlayerStatus", "Receiver", "Snapshot", "TransmitterState",
    "firmware_images_are_placeholders", "itoa", "load", "update_phase", "virtual",
]
