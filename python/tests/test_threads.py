"""The GIL is released while a call waits, and the message sink is called from the library's
threads."""

import datetime
import subprocess
import sys
import threading
from typing import List, Tuple

import pytest

import velmora
from velmora.sim import SimulatedHand

from conftest import new_bus


def test_other_threads_run_while_a_call_waits(
        tovin: Tuple[SimulatedHand, velmora.VelmoraApi]) -> None:
    simulated, hand = tovin
    simulated.set_silent(True)
    in_call = threading.Event()
    counts: List[int] = []

    def count() -> None:
        in_call.wait()
        n = 0
        while in_call.is_set():
            n += 1
        counts.append(n)

    counter = threading.Thread(target=count)
    counter.start()
    # A fresh read of a silent hand sits in C++ for its whole time-out.
    in_call.set()
    with pytest.raises(velmora.HandTimeoutException):
        hand.read_state(datetime.timedelta(milliseconds=300))
    in_call.clear()
    counter.join()
    # Holding the GIL, the call would have let the counter run for at most one switch interval
    # (5 ms); released, it counts for the whole 300 ms. Far more than a few thousand either way.
    assert counts[0] > 20000, counts


def test_paced_sends_release_the_gil(tovin: Tuple[SimulatedHand, velmora.VelmoraApi]) -> None:
    _, hand = tovin
    done = threading.Event()
    ticks: List[int] = []

    def send() -> None:
        for _ in range(20):  # 20 paced sends of two frames: well over 100 ms
            hand.set_speed([100] * 10)
        done.set()

    sender = threading.Thread(target=send)
    sender.start()
    n = 0
    while not done.is_set():
        n += 1
    sender.join()
    ticks.append(n)
    assert ticks[0] > 20000


def test_sink_receives_messages_from_library_threads(
        messages: List[Tuple[velmora.MessageLevel, str]]) -> None:
    bus = new_bus()
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, bus):
        hand = velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, bus)
        hand.finger_move([1])
        del hand
    assert (velmora.MessageLevel.INFO, f"CAN interface {bus} opened successfully") in messages
    assert (velmora.MessageLevel.WARNING, "Joint position size is not 10") in messages or any(
        text == "Joint position size is not 10" for _, text in messages)


def test_a_failing_sink_does_not_stop_the_library(monkeypatch: pytest.MonkeyPatch) -> None:
    def broken(level: velmora.MessageLevel, text: str) -> None:
        raise ZeroDivisionError(text)

    reported: List[BaseException] = []
    monkeypatch.setattr(sys, "unraisablehook",
                        lambda raised: reported.append(raised.exc_value))
    velmora.set_message_sink(broken)
    try:
        assert velmora.range_to_arc(8, "left", [0] * 8).shape == (0,)
    finally:
        velmora.reset_message_sink()
    assert [type(e) for e in reported] == [ZeroDivisionError]
    with pytest.raises(TypeError, match="needs a callable"):
        velmora.set_message_sink(42)  # type: ignore[arg-type]


def test_interpreter_exit_with_a_sink_and_live_hands() -> None:
    # Daemon threads keep calling into a hand (each call sends a message to the sink) while
    # the interpreter goes away under them.
    script = """
import threading, time, velmora, velmora.sim
lines = []
velmora.set_message_sink(lambda level, text: lines.append(text))
sim = velmora.sim.SimulatedHand(velmora.TOVIN, velmora.RIGHT, "virtual:can-exit")
hand = velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, "virtual:can-exit")
def refused():
    while True:
        hand.finger_move([1])
for _ in range(2):
    threading.Thread(target=refused, daemon=True).start()
while len(lines) < 10:
    time.sleep(0.01)
print("sink called", flush=True)
"""
    for _ in range(3):
        result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                                timeout=60)
        assert result.returncode == 0, result.stderr[-2000:]
        assert result.stdout.startswith("sink called\n")
