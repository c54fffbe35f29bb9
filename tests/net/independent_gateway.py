#!/usr/bin/python3
"""A Modbus TCP to RTU gateway built on pymodbus, sharing no code with the tool
or its simulator: a Modbus TCP server on 127.0.0.1 whose requests go, one at a
time, to a Modbus RTU client on the serial line given (the simulator's
pseudo-terminal). A unit that does not answer on the line gets the gateway's
exception 0x0B; a broadcast (unit 0) goes onto the line unanswered.

    independent_gateway.py LINE

It prints the TCP port it listens at as its first line, then serves until it
is stopped.
"""

import asyncio
import logging
import sys

try:
    import serial  # noqa: F401 (pymodbus's serial client needs it)
    from pymodbus.client import ModbusSerialClient
    from pymodbus.datastore import ModbusServerContext
    from pymodbus.exceptions import NoSuchSlaveException
    from pymodbus.pdu import ExceptionResponse
    from pymodbus.server import StartAsyncTcpServer
    from pymodbus.transaction import ModbusRtuFramer
except ImportError as missing:
    # The test skips when the independent peer is not installed.
    print(f"missing: {missing.name}", flush=True)
    sys.exit(0)

READ_HOLDING = 3
# How long the gateway waits for the unit's answer on the line: generous for
# the simulator on a busy machine (it answers within some 20 ms).
LINE_TIMEOUT_S = 0.3


class ForwardedUnit:
    """One unit on the line, as pymodbus's server asks a data store: each
    request is made on the line by the RTU client. No answer raises
    NoSuchSlaveException, which the server answers with exception 0x0B."""

    def __init__(self, client, unit):
        self.client = client
        self.unit = unit
        self.values = []

    def answered(self, result):
        if self.unit == 0:
            return True  # nobody answers a broadcast
        if isinstance(result, ExceptionResponse):
            return False  # the unit's own refusal: the server refuses in turn
        if result.isError():
            raise NoSuchSlaveException(f"unit {self.unit} did not answer")
        return True

    def validate(self, function, address, count=1):
        if function != READ_HOLDING:
            return True  # a write is made by setValues
        result = self.client.read_holding_registers(address, count, slave=self.unit)
        if not self.answered(result):
            return False
        self.values = result.registers
        return True

    def getValues(self, function, address, count=1):  # pylint: disable=invalid-name
        return self.values

    def setValues(self, function, address, values):  # pylint: disable=invalid-name
        if len(values) == 1 and function == 6:
            result = self.client.write_register(address, values[0], slave=self.unit)
        else:
            result = self.client.write_registers(address, values, slave=self.unit)
        self.answered(result)
        self.values = values


class Line(ModbusServerContext):
    """Every unit is on the line: the server asks it through the client."""

    def __init__(self, client):
        super().__init__(single=True)
        self.client = client

    def __contains__(self, unit):
        return True

    def __getitem__(self, unit):
        return ForwardedUnit(self.client, unit)

    def slaves(self):
        return [0]  # where a broadcast goes: once, onto the line


async def serve(line):
    client = ModbusSerialClient(
        line, framer=ModbusRtuFramer, baudrate=9600, retries=0, broadcast_enable=True, strict=False
    )
    # This pymodbus keeps whole seconds of the timeout it is given: set after.
    client.params.timeout = LINE_TIMEOUT_S
    if not client.connect():
        sys.exit(f"cannot open {line}")
    server = await StartAsyncTcpServer(
        context=Line(client),
        address=("127.0.0.1", 0),
        defer_start=True,
        broadcast_enable=True,
    )
    serving = asyncio.create_task(server.serve_forever())
    await server.serving
    print(server.server.sockets[0].getsockname()[1], flush=True)
    await serving


def main():
    logging.basicConfig(level=logging.CRITICAL)
    asyncio.run(serve(sys.argv[1]))


if __name__ == "__main__":
    main()
