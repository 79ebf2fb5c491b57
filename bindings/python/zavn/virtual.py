"""The virtual receiver built into the library (include/zavn/zavn_virtual.h): interfaces to plug,
input reports to feed, the output reports the library sent, faults, and what each virtual
transmitter kept of the host's commands. Every function is thread-safe."""

import ctypes
import os

from . import _native
from ._native import VIRTUAL_MAX_REPORT_LENGTH, TransmitterState

FAULT_OPEN = 1
FAULT_ATTRIBUTES = 2
FAULT_CAPABILITIES = 4
FAULT_READ = 8
FAULT_WRITE = 16
FAULT_PRODUCT = 32


def _text(product):
    return None if product is None else product.encode("ascii")


def select(on):
    """True: every HID call goes to the virtual receiver; False: to the system. Returns the
    previous setting. Call it while no slot is open (Receiver(virtual=...) does)."""
    return _native.load().ZAVNVirtualSelect(1 if on else 0) != 0


def clear():
    """Unplugs and forgets every virtual interface."""
    _native.load().ZAVNVirtualClear()


def plug(vendor_id, product_id, input_length, output_length, product=None):
    """Plugs one HID interface; returns its id, or 0 when there is no room or an argument is
    out of range. A product of None makes the product-string query fail."""
    return _native.load().ZAVNVirtualPlug(vendor_id, product_id, input_length, output_length,
                                          _text(product))


def plug_receiver(transmitters, rate_hz):
    """Plugs a receiver with 1..4 transmitters streaming rate_hz motion records a second; returns
    the id of the first data interface (the others follow), or 0."""
    return _native.load().ZAVNVirtualPlugReceiver(transmitters, rate_hz)


def plug_replay(capture, speed=1.0, loop=False):
    """Plugs a receiver that plays a capture back (the library's own, or Wireshark's or tshark's
    of a receiver over usbmon or USBPcap): its reports at their captured times, `speed` times as
    fast (0.01 to 1000; 0: as fast as the library reads), once or in a loop. Returns the id of the
    first data interface; raises ValueError with the library's reason when the file cannot be
    played."""
    if 0 < speed < 0.01:  # the library plays at whole percents: 0 would be "as fast as read"
        raise ValueError(f"a replay's speed is 0.01 to 1000, or 0 (as fast as read), not {speed}")
    error = ctypes.create_string_buffer(512)
    first = _native.load().ZAVNVirtualPlugReplay(os.fsencode(capture), round(speed * 100),
                                                 1 if loop else 0, error, len(error))
    if first == 0:
        raise ValueError(error.value.decode(errors="replace"))
    return first


def unplug(interface):
    return _native.load().ZAVNVirtualUnplug(interface) != 0


def replug(interface):
    """Plugs an unplugged interface back, with the firmware it was running (or about to start)."""
    return _native.load().ZAVNVirtualReplug(interface) != 0


def queue_input(interface, report):
    """Queues one input report (report ID first) of exactly the interface's input length."""
    report = bytes(report)
    buffer = (ctypes.c_uint8 * max(1, len(report))).from_buffer_copy(report.ljust(1, b"\0"))
    return _native.load().ZAVNVirtualQueueInput(interface, buffer, len(report)) != 0


def take_output(interface):
    """The oldest output report the library wrote to the interface, or None when there is none.
    Raises KeyError for an unknown interface."""
    buffer = (ctypes.c_uint8 * VIRTUAL_MAX_REPORT_LENGTH)()
    length = _native.load().ZAVNVirtualTakeOutput(interface, buffer, len(buffer))
    if length < 0:
        raise KeyError(f"no virtual interface {interface}")
    return bytes(buffer[: min(length, len(buffer))]) if length else None


def take_outputs(interface):
    """Every output report waiting at the interface, oldest first."""
    reports = []
    while (report := take_output(interface)) is not None:
        reports.append(report)
    return reports


def set_product(interface, product):
    return _native.load().ZAVNVirtualSetProduct(interface, _text(product)) != 0


def set_faults(interface, faults):
    """Sets the FAULT_* bits that the interface's calls fail with."""
    return _native.load().ZAVNVirtualSetFaults(interface, faults) != 0


def _vector(values, length, kind=ctypes.c_float):
    """None (the library's null: none), else exactly `length` numbers as a C array."""
    if values is None:
        return None
    values = list(values)
    if len(values) != length:
        raise ValueError(f"takes {length} values, not {len(values)}")
    return (kind * length)(*values)


def set_motion(interface, accel=None, gyro=None):
    """The transmitter reads accel (x, y, z in g) and gyro (x, y, z in deg/s) from its next
    record on, a held rotation leaving the held gravity where it is; None for either goes back
    to its own path. False for another id or a value that is not finite."""
    return _native.load().ZAVNVirtualSetMotion(interface, _vector(accel, 3),
                                               _vector(gyro, 3)) != 0


def set_gyro_bias(interface, bias=None):
    """Adds bias (x, y, z in deg/s) to the transmitter's rotation rate; None: none."""
    return _native.load().ZAVNVirtualSetGyroBias(interface, _vector(bias, 3)) != 0


def set_sensor_errors(interface, scale=None, zero_counts=None):
    """Multiplies each Motion channel k (0..5) by scale[k] and adds zero_counts[k] to its zero;
    None: none."""
    return _native.load().ZAVNVirtualSetSensorErrors(
        interface, _vector(scale, 6), _vector(zero_counts, 6, ctypes.c_int32)) != 0


def transmitter(interface):
    """The TransmitterState of a data interface of plug_receiver, or None for another id."""
    state = TransmitterState()
    if not _native.load().ZAVNVirtualGetTransmitter(interface, ctypes.byref(state)):
        return None
    return state


def open_handles():
    """Handles the library holds on virtual interfaces: 0 once every slot is closed."""
    return _native.load().ZAVNVirtualOpenHandles()
