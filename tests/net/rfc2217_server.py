#!/usr/bin/python3
"""An RFC 2217 device server in front of a serial port, made of pyserial's own
serial.rfc2217.PortManager: the independent peer the tool's RFC 2217 client
is tested against.

    rfc2217_server.py PORT RECORD

opens the serial port PORT (the simulator's pseudo-terminal) at 1200 bit/s,
7N2, DTR and RTS low, so that only a client's settings can make it 9600 8N1
(a pseudo-terminal takes no parity with 8 data bits, so none to start with);
listens on 127.0.0.1, prints its TCP port as the first line on stdout and
serves one client at a time until SIGTERM. Each time the client changes the
port's settings or modem lines, their state is written to RECORD as one line:
"baudrate=9600 bytesize=8 parity=N stopbits=1 dtr=True rts=True".

A pseudo-terminal has no modem lines (their ioctls fail), so this port keeps
DTR and RTS as the client set them and reports CTS, DSR, RI and CD off.
"""

import os
import signal
import socket
import sys
import threading

import serial
import serial.rfc2217


class RecordedPort(serial.Serial):
    record_path = None

    def record(self):
        with open(self.record_path, "a") as record:
            record.write(
                "baudrate={} bytesize={} parity={} stopbits={} dtr={} rts={}\n".format(
                    self.baudrate, self.bytesize, self.parity, self.stopbits,
                    self._dtr_state, self._rts_state))

    def _reconfigure_port(self, force_update=False):
        super()._reconfigure_port(force_update)
        self.record()

    def _update_dtr_state(self):
        self.record()

    def _update_rts_state(self):
        self.record()

    @property
    def cts(self):
        return False

    @property
    def dsr(self):
        return False

    @property
    def ri(self):
        return False

    @property
    def cd(self):
        return False


class Connection:
    """What PortManager writes to: the client's socket, one writer at a time."""

    def __init__(self, client):
        self.client = client
        self.lock = threading.Lock()

    def write(self, data):
        with self.lock:
            self.client.sendall(data)


def forward_port_to_client(port, manager, connection, done):
    while not done.is_set():
        data = port.read(port.in_waiting or 1)
        if data:
            try:
                connection.write(b"".join(manager.escape(data)))
            except OSError:
                return


def serve(port, client):
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    connection = Connection(client)
    manager = serial.rfc2217.PortManager(port, connection)
    done = threading.Event()
    forwarder = threading.Thread(
        target=forward_port_to_client, args=(port, manager, connection, done), daemon=True)
    forwarder.start()
    try:
        while True:
            data = client.recv(1024)
            if not data:
                break
            port.write(b"".join(manager.filter(data)))
    except OSError:
        pass
    done.set()
    forwarder.join()
    client.close()


def main():
    RecordedPort.record_path = sys.argv[2]
    port = RecordedPort()
    port.port = sys.argv[1]
    port.baudrate = 1200
    port.bytesize = serial.SEVENBITS
    port.parity = serial.PARITY_NONE
    port.stopbits = serial.STOPBITS_TWO
    port.dtr = False
    port.rts = False
    port.timeout = 0.05
    port.open()

    # At once, whatever the threads are doing.
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    print(listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        serve(port, client)


if __name__ == "__main__":
    main()
