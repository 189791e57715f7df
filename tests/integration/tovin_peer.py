#!/usr/bin/python3
"""A 10-joint hand on a SocketCAN interface, written from the hand's wire protocol alone.

Usage: tovin_peer.py INTERFACE left|right

It answers the hand's requests (a frame holding only the command code) with a frame of the same
code, takes position, speed and torque writes (joints move at once), carries matrix fingertip
sensors, and notes every frame it cannot make sense of. It prints "ready" once it listens and,
when stopped with SIGTERM, "received N unexpected U" followed by one line per unexpected frame.
If it cannot run here it prints "unavailable: REASON" and exits with status 3.
"""

import signal
import sys

VERSION_REPORT = [0x64, 10, 1, 1]  # then the side letter, software 1.5, hardware 2.0
SOFTWARE, HARDWARE = 0x15, 0x20
TOUCH_PAGE_REQ = 0xC6


def matrix_value(finger, row, column):
    return (finger * 50 + row * 4 + column + 1) & 0xFF


class Hand:
    def __init__(self, side):
        self.side = side
        self.positions = [255] * 10
        self.speeds = [100] * 10
        self.torques = [200] * 10
        self.temperatures = [30 + i for i in range(10)]
        self.faults = [0, 0, 0, 0, 0, 0, 0, 4, 0, 0]
        self.unexpected = []

    def answer(self, frame):
        """The frames the hand sends back for one frame it received."""
        if not frame:
            return self.reject(frame)
        code, payload = frame[0], list(frame[1:])
        # code: (values, first index, count) of the joint state that code reads and writes
        joint_state = {
            0x01: (self.positions, 0, 6),
            0x04: (self.positions, 6, 4),
            0x02: (self.torques, 0, 5),
            0x03: (self.torques, 5, 5),
            0x05: (self.speeds, 0, 5),
            0x06: (self.speeds, 5, 5),
        }
        read_only = {
            0x33: self.temperatures[0:5],
            0x34: self.temperatures[5:10],
            0x35: self.faults[0:5],
            0x36: self.faults[5:10],
            0x20: [10, 11, 12, 13, 14],
            0x21: [20, 21, 22, 23, 24],
            0x22: [30, 31, 32, 33, 34],
            0x23: [40, 41, 42, 43, 44],
        }
        if code in joint_state:
            values, first, count = joint_state[code]
            if not payload:
                return [[code] + values[first:first + count]]
            if len(payload) != count:
                return self.reject(frame)
            values[first:first + count] = payload
            return []
        if code in read_only and not payload:
            return [[code] + read_only[code]]
        if code == 0x64 and not payload:
            letter = ord("L") if self.side == "left" else ord("R")
            return [VERSION_REPORT + [letter, SOFTWARE, HARDWARE]]
        if code == 0x09 and not payload:
            return []
        if code == 0xB1 and not payload:
            return [[0xB1, 0x01, 0x02]]  # three bytes: matrix sensors here
        if 0xB1 <= code <= 0xB5 and payload == [TOUCH_PAGE_REQ]:
            finger = code - 0xB1
            return [[code, row << 4] + [matrix_value(finger, row, c) for c in range(6)]
                    for row in range(12)]
        return self.reject(frame)

    def reject(self, frame):
        self.unexpected.append(bytes(frame).hex())
        return []


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in ("left", "right"):
        print(__doc__, file=sys.stderr)
        return 2
    interface, side = sys.argv[1], sys.argv[2]
    try:
        import can
    except ImportError as error:
        print(f"unavailable: python-can cannot be imported ({error})", flush=True)
        return 3
    hand_id = 0x28 if side == "left" else 0x27

    stopping = False

    def stop(*_):
        nonlocal stopping
        stopping = True

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        bus = can.Bus(interface="socketcan", channel=interface)
    except (OSError, can.CanError) as error:
        print(f"unavailable: cannot open {interface}: {error}", flush=True)
        return 3

    hand = Hand(side)
    received = 0
    print("ready", flush=True)
    try:
        while not stopping:
            message = bus.recv(timeout=0.2)
            if message is None or message.arbitration_id != hand_id:
                continue
            if message.is_extended_id or message.is_remote_frame or message.is_error_frame:
                hand.reject(message.data)
                continue
            received += 1
            for reply in hand.answer(bytes(message.data)):
                bus.send(can.Message(arbitration_id=hand_id, data=reply, is_extended_id=False))
    finally:
        bus.shutdown()
    print(f"received {received} unexpected {len(hand.unexpected)}", flush=True)
    for frame in hand.unexpected:
        print(f"unexpected {frame}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
