"""The GIL is released while a call waits; the message sink, also while the interpreter ends."""

import datetime
import subprocess
import sys
import threading
from typing import List, Tuple

import pytest

import velmora
from velmora.sim import SimulatedHand

from conftest import new_bus


def test_other_threads_run_while_a_call_waits() -> None:
    # The hand's part is played by a Python thread, which answers each request only after
    # running Python code of its own: the fresh read can only complete if it lets that thread
    # run while it waits for the replies.
    bus = new_bus()
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, bus) as simulated:
        hand = velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, bus)
        hand.read_state()
        simulated.set_silent(True)
        peer = velmora.VirtualCanBus(bus[len("virtual:"):])
        peer.set_receive_timeout(10, 0)
        replies = {0x01: [0x01, 10, 11, 12, 13, 14, 15], 0x04: [0x04, 16, 17, 18, 19]}
        counted: List[int] = []

        def play_the_hand() -> None:
            while len(counted) < len(replies):
                request = peer.recv(velmora.RIGHT)
                code = int(request.data[0]) if request.len == 1 else -1
                if code not in replies:
                    continue
                n = 0
                while n < 100000:
                    n += 1
                counted.append(n)
                peer.send(replies[code], velmora.RIGHT)

        player = threading.Thread(target=play_the_hand)
        player.start()
        state = hand.read_state(datetime.timedelta(seconds=10))
        player.join()
        assert state.tolist() == list(range(10, 20))
        assert counted == [100000, 100000]


def test_sink_receives_the_library_messages(
        messages: List[Tuple[velmora.MessageLevel, str]]) -> None:
    bus = new_bus()
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, bus):
        velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, bus)
        velmora.range_to_arc(8, "left", [0] * 8)
    assert messages == [
        (velmora.MessageLevel.INFO, f"CAN interface {bus} opened successfully"),
        (velmora.MessageLevel.ERROR, "Error: Invalid joints_type or left_or_right parameter."),
    ]
    velmora.reset_message_sink()
    velmora.range_to_arc(8, "left", [0] * 8)  # back on standard error
    assert len(messages) == 2


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
        velmora.range_to_arc(8, "left", [0] * 8)
        hand.get_state()
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
