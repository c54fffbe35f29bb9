#!/usr/bin/python3
"""A ТЛ-8К register map served by pymodbus: a Modbus RTU slave that shares no
code with the tool or its simulator. It holds the identity block (registers
0..6), the sixteen parameters (257..288) and registers 373 and 375 of one
adapter at address 17, with a serial number of 4321, the write date
08/12/2024(14:05:06), twelve values and a matching checksum.

It prints the terminal to talk to as its first line, then serves until it is
stopped. Two pseudo-terminals joined by a relay carry the line: pymodbus opens
one by name, the master under test the other.
"""

import asyncio
import os
import select
import struct
import sys
import threading
import tty

try:
    import serial_asyncio  # noqa: F401 (pymodbus's serial server needs it)
    from pymodbus.datastore import ModbusServerContext, ModbusSlaveContext, ModbusSparseDataBlock
    from pymodbus.server import StartAsyncSerialServer
    from pymodbus.transaction import ModbusRtuFramer
except ImportError as missing:
    # The test skips when the independent peer is not installed.
    print(f"missing: {missing.name}", flush=True)
    sys.exit(0)

ADDRESS = 17
SERIAL = 4321
STAMP = [0xA3, 0x70, 0x88, 0x59]  # 08/12/2024(14:05:06), least significant byte first
# As the windows show them; the device keeps channel 2's bounds plus 100.
VALUES = [1000, 600, 16.5, 4.25, 90, -50, 16, 4, 250, 2.5, 15.75, 3.5]
OFFSETS = [0, 0, 0, 0, 100, 100, 0, 0, 0, 0, 0, 0]


def float_bytes(value):
    """The adapter's float: binary32 with its lowest bit cleared, low half first."""
    bits = struct.unpack(">I", struct.pack(">f", value))[0] & ~1
    return [(bits >> 8) & 0xFF, bits & 0xFF, bits >> 24, (bits >> 16) & 0xFF]


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def parameters():
    params = [float_bytes(v + o) for v, o in zip(VALUES, OFFSETS)]
    params.append(list(struct.pack("<i", SERIAL)))
    params.append(STAMP)
    params.append([0, ADDRESS, 0, 0])
    crc = crc16([0, 0, 0] + [b for p in params for b in p] + [0xFF, 0x00])
    params.append([0xFF, 0x00, crc & 0xFF, crc >> 8])
    return params


def register_map():
    registers = {r: v for r, v in enumerate([8, 3, 0, ADDRESS, SERIAL & 0xFFFF, SERIAL >> 16, 0])}
    for i, p in enumerate(parameters(), start=1):
        registers[255 + 2 * i] = p[0] << 8 | p[1]
        registers[256 + 2 * i] = p[2] << 8 | p[3]
    registers[373] = 0
    registers[375] = ADDRESS
    return registers


def relay(a, b):
    while True:
        ready, _, _ = select.select([a, b], [], [])
        for source in ready:
            os.write(b if source == a else a, os.read(source, 1024))


def main():
    served_master, served = os.openpty()
    tested_master, tested = os.openpty()
    for fd in (served, tested):
        tty.setraw(fd)
    threading.Thread(target=relay, args=(served_master, tested_master), daemon=True).start()
    print(os.ttyname(tested), flush=True)

    context = ModbusServerContext(
        slaves={ADDRESS: ModbusSlaveContext(hr=ModbusSparseDataBlock(register_map()), zero_mode=True)},
        single=False)
    asyncio.run(StartAsyncSerialServer(
        context=context, framer=ModbusRtuFramer, port=os.ttyname(served), baudrate=9600, bytesize=8,
        parity="N", stopbits=1, broadcast_enable=True, ignore_missing_slaves=True))


if __name__ == "__main__":
    sys.exit(main())
