#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into this folder: the frames of a
read, a write, an address change and a pass-through as they travel between
the tool and an adapter (the simulator journals the same), the files the
tool and the simulator read, and a few command lines. Targets that take
their input through libFuzzer's FuzzedDataProvider get it laid out the way
the provider hands it back: strings and byte runs from the front, numbers
and flags from the back."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def with_crc(body):
    crc = crc16(body)
    return bytes(body) + bytes([crc & 0xFF, crc >> 8])


class Provider:
    """Builds an input that a FuzzedDataProvider reads back as given."""

    def __init__(self):
        self.front, self.back = bytearray(), bytearray()

    def int_in(self, low, high, value):
        span, offset, chunks, v = high - low, 0, [], value - low
        while offset < 64 and (span >> offset) > 0:
            chunks.append(0)
            offset += 8
        # The provider reads these bytes last to first, most significant first.
        for i in range(len(chunks)):
            chunks[i] = (v >> (8 * (len(chunks) - 1 - i))) & 0xFF
        self.back += bytes(chunks)

    def boolean(self, value):
        self.back.append(1 if value else 0)

    def string(self, data):
        self.front += bytes(data).replace(b"\\", b"\\\\") + b"\\X"

    def raw(self, data):
        self.front += bytes(data)

    def data(self):
        return bytes(self.front) + bytes(reversed(self.back))


# --- The adapter's factory memory, as the simulator keeps it -----------------

FLOATS = [1010, 630, 16, 4, 185, 60, 16, 4, 200, 1.5, 16, 4]


def float_bytes(value):
    bits = struct.unpack("<I", struct.pack("<f", value))[0]
    return bytes([(bits >> 8) & 0xFF, bits & 0xFF, bits >> 24, (bits >> 16) & 0xFF])


def factory_params(address):
    params = [float_bytes(v) for v in FLOATS]
    params.append(struct.pack("<I", 101001))  # serial number
    params.append(struct.pack("<I", (45 << 25) | (1 << 21) | (1 << 16)))  # 01/01/2025(00:00:00)
    params.append(bytes([0, address, 0, 0]))
    image = b"\0\0\0" + b"".join(params) + b"\xff\x00"
    crc = crc16(image)
    params.append(bytes([0xFF, 0, crc & 0xFF, crc >> 8]))
    return params


ADDRESS = 1
PARAMS = factory_params(ADDRESS)


def read_request(address, index):
    reg = 255 + 2 * index
    return with_crc([address, 3, reg >> 8, reg & 0xFF, 0, 2])


def read_answer(address, index):
    return with_crc(bytes([address, 3, 4]) + PARAMS[index - 1])


def write_request(address, index, data):
    reg = 255 + 2 * index
    return with_crc(bytes([address, 16, reg >> 8, reg & 0xFF, 0, 2, 4]) + data)


def write_answer(address, index):
    reg = 255 + 2 * index
    return with_crc([address, 16, reg >> 8, reg & 0xFF, 0, 2])


PROBE = with_crc([ADDRESS, 3, 0, 0, 0, 7])
PROBE_ANSWER = with_crc(bytes([ADDRESS, 3, 14]) +
                        struct.pack(">7H", 8, 3, 0x0100, ADDRESS, 101001 & 0xFFFF, 101001 >> 16, 0x5349))
ADDRESS_WRITE = with_crc([ADDRESS, 6, 0x01, 0x77, 0, 17])
BROADCAST = with_crc([0, 6, 0x01, 0x77, 0, 5])  # every adapter now answers at 5


def write(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# --- fuzz_answer: exchanges and the answers they meet ------------------------

def answer(p, data, bursts=1):
    """One frame's answer: the bytes as they are, in `bursts` bursts."""
    p.string(data)
    p.int_in(0, 3, 0)
    p.int_in(1, 4, bursts)
    left, rest = bursts, len(data)
    while left > 0 and rest > 0:
        length = rest if left == 1 else rest // 2
        if left != 1:
            p.int_in(0, rest, length)
        p.int_in(0, 250, 2)
        rest -= length
        left -= 1


def answer_seeds():
    p = Provider()  # a whole read: probe, then the sixteen parameters
    p.int_in(1, 247, ADDRESS)
    p.int_in(1, 4, 2)
    p.int_in(0, 7, 1)
    answer(p, PROBE_ANSWER, 2)
    p.int_in(0, 7, 5)
    for index in range(1, 17):
        answer(p, read_answer(ADDRESS, index))
    write("fuzz_answer", "read-all", p.data())

    p = Provider()  # the address write, then the calibration write
    p.int_in(1, 247, ADDRESS)
    p.int_in(1, 4, 2)
    p.int_in(0, 7, 7)
    p.int_in(1, 247, 17)
    answer(p, with_crc([ADDRESS, 6, 0x01, 0x77, 0, 17]))
    p.int_in(0, 7, 6)
    image = b"\0" * 4 + b"".join(PARAMS) + b"\0" * 37
    for byte in image:
        p.int_in(0, 255, byte)
    for index in range(1, 17):
        answer(p, write_answer(ADDRESS, index), 3)
    write("fuzz_answer", "write-all", p.data())

    p = Provider()  # a search that finds the adapter at 3, then the pass-through
    p.int_in(1, 247, 3)
    p.int_in(1, 4, 2)
    p.int_in(0, 7, 4)
    p.int_in(0, 250, 1)
    p.int_in(0, 4, 4)
    answer(p, b"")
    answer(p, b"\xff\x00\x55")
    answer(p, with_crc(bytes([3, 3, 4]) + PARAMS[0]))
    p.int_in(0, 7, 3)
    answer(p, with_crc([3, 6, 0x01, 0x75, 0, 1]))
    write("fuzz_answer", "search-passthrough", p.data())

    p = Provider()  # a CRC-correct answer too long for the tool to check: no verdict of success
    p.int_in(1, 247, ADDRESS)
    p.int_in(1, 4, 1)
    p.int_in(0, 7, 3)
    answer(p, with_crc(bytes([ADDRESS, 6]) + bytes(range(110))), 2)
    write("fuzz_answer", "passthrough-oversize", p.data())


# --- fuzz_sim_frames: requests as they come off the line ---------------------

def sim_seeds():
    requests = [PROBE] + [read_request(ADDRESS, i) for i in range(1, 17)]
    requests += [write_request(ADDRESS, 1, float_bytes(1000.5)), BROADCAST,
                 with_crc([5, 3, 0x01, 0x77, 0, 1]), with_crc([5, 6, 0x01, 0x75, 0, 1])]
    p = Provider()
    p.boolean(False)  # no fault rule
    p.int_in(1, 2, 1)
    p.int_in(1, 247, ADDRESS)
    for frame in requests:
        p.int_in(0, 300, len(frame))
        p.raw(frame)
        p.boolean(False)  # the CRC is there already
    p.int_in(0, 300, 3)
    p.raw(b"abc")  # echoed in pass-through
    p.boolean(False)
    write("fuzz_sim_frames", "service-session", p.data())

    p = Provider()
    p.boolean(True)
    p.string(b"badcrc,fn=3,nth=2")
    p.int_in(1, 2, 2)
    p.int_in(1, 247, ADDRESS)
    p.int_in(1, 247, ADDRESS)
    for frame in [PROBE, read_request(ADDRESS, 1), ADDRESS_WRITE]:
        p.int_in(0, 300, len(frame) - 2)
        p.raw(frame[:-2])
        p.boolean(True)  # the target adds the CRC
    write("fuzz_sim_frames", "fault-two-adapters", p.data())


# --- Files and command lines -------------------------------------------------

COEF_FILE = (b"1\r\n01/01/2025(00:00:00)\r\n0101001\r\n1010\r\n630\r\n16\r\n4\r\n85\r\n"
             b"-40\r\n16\r\n4\r\n200\r\n1.5\r\n16\r\n4\r\n")
BOUNDS_FILE = b"900.00\r\n10.00\r\n4.50\r\n-20.00\r\n250.00\r\n2.50\r\n4.00\r\n4.00\r\n"


def state_text():
    lines = ["# tl8sim adapter memory.", "", "address %d" % ADDRESS, ""]
    for index, data in enumerate(PARAMS, 1):
        lines.append("p%-3d %s  # parameter %d" % (index, " ".join("%02X" % b for b in data), index))
    return ("\n".join(lines) + "\n").encode()


def file_seeds():
    write("fuzz_coeffile", "saved", COEF_FILE)
    write("fuzz_coeffile", "cyrillic-lf-ctrlz", b"17\n\xc4\xe0\xf2\xe0\n0101001\r1e3\r\n\x1a2\r\n")
    write("fuzz_boundsfile", "tmp.dat", BOUNDS_FILE)
    write("fuzz_boundsfile", "lone-cr", b"1.5\r2\n-3\r\n")
    # 0.5 written past the line limit, at the limit's edge: refused, never cut.
    write("fuzz_coeffile", "long-line", b"1\r\n\r\n7\r\n0." + b"0" * 1030 + b"5e1030\r\n2\r\n")
    write("fuzz_boundsfile", "long-line", b"1\r\n" + b"9" * 1024 + b"\r\n" + b"9" * 1025 + b"\r\n")
    write("fuzz_settings", "port", b'[Comport Settings\\ComPort]\n"Port"="COM1"\n'
          b'"Buffer.InputSize"=dword:00000400\n"Name"="a \\"quoted\\" \\\\ text\\n"\n')
    # A backslash in a key's group part: read as given, written as a "/".
    write("fuzz_settings", "group-backslash", b'"a\\\\b/c"="x"\n[d\\e]\n"f"=dword:ffffffff\n')
    write("fuzz_sim_state", "factory", state_text())
    for name, text, decimals in [("fixed", b"1234.56789", 4), ("exponent", b"-1.5E+10", 2),
                                 ("tiny", b".000001e-300", 4), ("halfway", b"0.125", 2)]:
        p = Provider()
        p.int_in(0, 8, decimals)
        p.boolean(True)
        p.back += bytes(8)
        p.raw(text)
        write("fuzz_number_text", name, p.data())
    commands = {
        "scan": b"--port\n/dev/ttyUSB0\nscan\n--from\n1\n--to=20",
        "scan-all-ports": b"--json\nscan\n--all-ports\n--to=5",
        "ports": b"ports\n--json",
        "read-json": b"--json\n--address=17\nread",
        "inventory-fast": b"--json\ninventory\n--from=3\n--to\n40\n--fast",
        "help": b"--help\nwrite",
        "set-address": b"set-address\n200",
        "save": b"save\nout.dat",
        "write": b"write\ncoef.dat\n--code-word\nPelmar\0" + COEF_FILE,
        "write-bounds": b"--port=COM2\nwrite-bounds\n--code-word=Rumel\ntmp.dat\0" + BOUNDS_FILE,
        "history": b"--json\nhistory\n--serial\n0101001",
        "restore": b"--address=5\nrestore\n0101001-3\n--code-word=Pelmar\n--readdress\n--no-history",
        "report": b"report\n0101001-3\n-o\nprotocol.pdf",
    }
    for name, data in commands.items():
        write("fuzz_tl8ctl", name, data)


answer_seeds()
sim_seeds()
file_seeds()
