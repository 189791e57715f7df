"""Drives a 10-joint right hand through velmora.VelmoraApi.

With no hand at hand, a simulated one answers on the in-process bus "virtual:can0". To drive a
real hand, open VelmoraApi on its interface instead (velmora.VelmoraApi(velmora.TOVIN,
velmora.RIGHT, velmora.CAN0)) and leave out the simulated hand.
"""

import time

import numpy as np

import velmora
from velmora.sim import SimulatedHand


def main() -> None:
    # A 10-joint right hand with matrix fingertip sensors.
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, "virtual:can0"):
        hand = velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, "virtual:can0")

        # Getters never wait for the hand: each returns what its last reply left behind.
        # A fresh read waits for the answers to its own requests.
        print(hand.get_version())
        print("joints:", hand.read_state())

        hand.set_speed([200] * 10)
        hand.finger_move([60, 60, 60, 60, 60, 60, 128, 128, 128, 128])  # close
        for _ in range(10):
            time.sleep(0.1)
            print("joints:", hand.get_state())

        open_pose = np.array([0.0, 0.0, 0.0, 0.0, 0.0, 0.0, -0.13, 0.065, 0.13, 0.2])
        hand.finger_move_arc(open_pose)
        time.sleep(1.5)
        print("angles:", np.round(hand.read_state_arc(), 3))

        force = hand.get_force()  # (5, 12, 6) uint8: fingers x rows x values
        if isinstance(force, np.ndarray):
            print("fingertip pressure per finger:", force.sum(axis=(1, 2)))
        print("temperatures:", hand.get_temperature())
        print("faults:", hand.get_fault_code())
        print(hand.health())
        try:
            hand.set_current([1, 2, 3, 4, 5])  # a 20-joint hand's feature
        except velmora.UnsupportedFeatureException as refused:
            print(refused)  # nothing was sent


if __name__ == "__main__":
    main()
