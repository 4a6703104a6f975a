#!/usr/bin/python3
"""An RFC 2217 server for the tests, built on python3-serial's port manager: a second server,
written by others, to check the network link against. It serves one pseudo-terminal on one
TCP port, one connection at a time, until killed.

    pyserial_rfc2217.py TCP_PORT DEVICE

A pseudo-terminal has no modem lines: they read as off and setting them does nothing, where a
plain serial port would fail the ioctl and end the connection."""
import socket
import sys
import threading

import serial
import serial.rfc2217


class PseudoTerminal(serial.Serial):
    def _update_dtr_state(self):
        pass

    def _update_rts_state(self):
        pass

    def _update_break_state(self):
        pass

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
    """The port manager writes its answers with write()."""

    def __init__(self, sock):
        self.sock = sock
        self.lock = threading.Lock()

    def write(self, data):
        with self.lock:
            self.sock.sendall(data)


def serve(connection, port):
    writer = Connection(connection)
    manager = serial.rfc2217.PortManager(port, writer)
    done = threading.Event()

    def to_network():
        while not done.is_set():
            try:
                data = port.read(port.in_waiting or 1)
                if data:
                    writer.write(b"".join(manager.escape(data)))
            except (OSError, serial.SerialException):
                break
        done.set()

    reader = threading.Thread(target=to_network, daemon=True)
    reader.start()
    try:
        while not done.is_set():
            data = connection.recv(4096)
            if not data:
                break
            port.write(b"".join(manager.filter(data)))
    except OSError:
        pass
    done.set()
    reader.join(2)


def main():
    tcp_port, device = int(sys.argv[1]), sys.argv[2]
    port = PseudoTerminal(device, 9600, timeout=0.05)
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", tcp_port))
    listener.listen(1)
    print("listening", flush=True)
    while True:
        connection, _ = listener.accept()
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            serve(connection, port)
        except OSError:
            pass  # a client that left at once: wait for the next
        connection.close()


if __name__ == "__main__":
    main()
