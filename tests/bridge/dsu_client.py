"""A small DSU ("cemuhook") UDP client: builds requests, parses and validates server packets.
A packet, little endian: a 16-byte header (magic, version, length after the header, CRC32 of the
packet with this field zeroed, sender id), a 32-bit message type, the message's body."""
import random, socket, struct, zlib
from collections import namedtuple

VERSION = 1001
MSG_VERSION, MSG_INFO, MSG_DATA = 0x100000, 0x100001, 0x100002
ALL, BY_SLOT, BY_MAC = 0, 1, 2  # registration flags of a data request
HEADER = struct.Struct('<4sHHII')
SLOT = struct.Struct('<BBBB6sB')  # slot, state, model, connection type, MAC, battery
# After the slot header: connected, packet counter, two button bytes, home, touch button, four
# stick axes, twelve analog buttons, two touches (active, id, x, y), motion timestamp µs,
# accelerometer x y z in g, gyroscope pitch yaw roll in degrees/s.
DATA = struct.Struct('<BIBBBB4B12BBBHHBBHHQ6f')
BODY_SIZE = {MSG_VERSION: 2, MSG_INFO: SLOT.size + 1, MSG_DATA: SLOT.size + DATA.size}

Slot = namedtuple('Slot', 'slot state model connection mac battery')
Touch = namedtuple('Touch', 'active id x y')
Data = namedtuple('Data', 'slot state model connection mac battery connected counter buttons home '
                  'touch_button sticks analog touches timestamp accel gyro')


class DsuError(ValueError):
    """A server packet that breaks the protocol: what is wrong, and the bytes."""
    def __init__(self, what, packet):
        super().__init__(f'{what}; {len(packet)} bytes: {packet[:128].hex(" ")}')


def frame(msg_type, body=b'', client_id=0, magic=b'DSUC', version=VERSION, length=None, crc=None):
    """A packet; length and crc default to the right values, others make a malformed packet."""
    rest = struct.pack('<I', msg_type) + body
    head = HEADER.pack(magic, version, len(rest) if length is None else length, 0, client_id)
    packet = bytearray(head + rest)
    struct.pack_into('<I', packet, 8, zlib.crc32(packet) if crc is None else crc)
    return bytes(packet)


def version_request(client_id):
    return frame(MSG_VERSION, b'', client_id)


def info_request(client_id, slots):
    return frame(MSG_INFO, struct.pack('<i', len(slots)) + bytes(slots), client_id)


def data_request(client_id, flags=ALL, slot=0, mac=bytes(6)):
    return frame(MSG_DATA, struct.pack('<BB6s', flags, slot, mac), client_id)


def parse(packet):
    """(message type, server id, decoded body) of a server packet, or DsuError."""
    if len(packet) < HEADER.size + 4:
        raise DsuError('shorter than header and message type', packet)
    magic, version, length, crc, server_id = HEADER.unpack_from(packet)
    (msg_type,) = struct.unpack_from('<I', packet, HEADER.size)
    if magic != b'DSUS':
        raise DsuError(f'magic {magic!r}, not DSUS', packet)
    if version != VERSION:
        raise DsuError(f'version {version}, not {VERSION}', packet)
    if length != len(packet) - HEADER.size:
        raise DsuError(f'length field {length}, {len(packet) - HEADER.size} after header', packet)
    zeroed = packet[:8] + bytes(4) + packet[12:]
    if crc != zlib.crc32(zeroed):
        raise DsuError(f'CRC32 {crc:#010x}, computed {zlib.crc32(zeroed):#010x}', packet)
    if msg_type not in BODY_SIZE:
        raise DsuError(f'unknown message type {msg_type:#x}', packet)
    body = packet[HEADER.size + 4:]
    if len(body) != BODY_SIZE[msg_type]:
        raise DsuError(f'{len(body)}-byte body for type {msg_type:#x}', packet)
    if msg_type == MSG_VERSION:
        return msg_type, server_id, struct.unpack('<H', body)[0]
    slot = Slot(*SLOT.unpack_from(body))
    if slot.state not in (0, 1, 2) or slot.model > 3 or slot.connection > 2:
        raise DsuError(f'slot header out of range: {slot}', packet)
    if msg_type == MSG_INFO:
        if body[-1] != 0:
            raise DsuError('controller information does not end with a zero byte', packet)
        return msg_type, server_id, slot
    f = DATA.unpack_from(body, SLOT.size)
    return msg_type, server_id, Data(
        *slot, connected=f[0], counter=f[1], buttons=f[2:4], home=f[4], touch_button=f[5],
        sticks=f[6:10], analog=f[10:22], touches=(Touch(*f[22:26]), Touch(*f[26:30])),
        timestamp=f[30], accel=f[31:34], gyro=f[34:37])


class Client:
    """One UDP socket (one client port) talking to a DSU server."""
    def __init__(self, address, client_id=None):
        self.address = address
        self.id = random.getrandbits(32) if client_id is None else client_id
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        self.sock.bind(('127.0.0.1', 0))

    def send(self, packet):
        self.sock.sendto(packet, self.address)

    def recv_raw(self, timeout):
        """The next datagram from anyone, or None after timeout seconds."""
        self.sock.settimeout(timeout)
        try:
            return self.sock.recv(65536)
        except socket.timeout:
            return None

    def recv(self, timeout):
        raw = self.recv_raw(timeout)
        return None if raw is None else parse(raw)

    def close(self):
        self.sock.close()
