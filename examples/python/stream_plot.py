"""Samples the joint positions of a simulated 10-joint hand for two seconds while it closes and
opens, into a NumPy array, and plots them with matplotlib (Debian's python3-matplotlib; without
it the samples are summed up in text).

In a notebook, run the cells of main() one by one: `samples` and `times` stay for whatever
analysis comes next. For a real hand, open VelmoraApi on its interface (velmora.CAN0) and leave
out the simulated hand.

    python3 stream_plot.py [--seconds 2] [--save plot.png]
"""

import argparse
import time
from typing import Optional, Tuple

import numpy as np
import numpy.typing as npt

import velmora
from velmora.sim import SimulatedHand

Samples = Tuple[npt.NDArray[np.float64], npt.NDArray[np.uint8]]


def sample(hand: velmora.VelmoraApi, seconds: float) -> Samples:
    """(times in s, positions: one row per sample) for `seconds`, closing the hand halfway."""
    info = velmora.models.info(hand.model)
    speeds = max(velmora.models.setting_counts(hand.model, velmora.models.Setting.SPEEDS))
    hand.set_speed([120] * speeds)
    times, rows = [], []
    start = time.monotonic()
    hand.finger_move(info.pose("close"))
    closing = True
    while (now := time.monotonic() - start) < seconds:
        if closing and now > seconds / 2:
            hand.finger_move(info.pose("open"))
            closing = False
        rows.append(hand.read_state(0.5))  # each sample from the hand's own answer
        times.append(now)
    return np.array(times), np.vstack(rows)


def plot(hand: velmora.VelmoraApi, data: Samples, save: Optional[str]) -> None:
    times, samples = data
    info = velmora.models.info(hand.model)
    try:
        import matplotlib.pyplot as plt  # type: ignore[import]
    except ImportError:
        print("matplotlib is missing (apt install python3-matplotlib): no plot.")
        print(f"{len(times)} samples in {times[-1]:.2f} s; per joint min/max:")
        for name, slot in zip(info.joint_names, info.joint_slots):
            print(f"  {name:>10}: {samples[:, slot].min():3d} .. {samples[:, slot].max():3d}")
        return
    figure, axes = plt.subplots(figsize=(9, 4))
    for name, slot in zip(info.joint_names, info.joint_slots):
        axes.plot(times, samples[:, slot], label=name)
    axes.set_xlabel("time (s)")
    axes.set_ylabel("position (0..255)")
    axes.set_title(f"{info.description}: {len(times)} samples")
    axes.legend(ncol=5, fontsize="small")
    if save:
        figure.savefig(save)
        print(f"saved {save}")
    else:
        plt.show()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=2.0)
    parser.add_argument("--save", help="write the plot to this file instead of showing it")
    args = parser.parse_args()
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, "virtual:can0"):
        with velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, "virtual:can0") as hand:
            data = sample(hand, args.seconds)
            print(f"{len(data[0])} samples, {len(data[0]) / data[0][-1]:.0f} per second")
            plot(hand, data, args.save)


if __name__ == "__main__":
    main()
