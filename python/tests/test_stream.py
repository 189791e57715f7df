"""velmora.HandStream against a simulated hand: iteration, commands, asyncio and Ctrl-C."""

import asyncio
import os
import signal
import threading
import time
from typing import List, Tuple

import pytest

import velmora
from velmora.sim import SimulatedHand


def test_iterates_over_new_positions_with_rising_sequence_numbers(
    tovin: Tuple[SimulatedHand, velmora.VelmoraApi],
) -> None:
    _, api = tovin
    seen: List[velmora.StampedReading] = []
    with velmora.HandStream(api, rate=100) as stream:
        for state in stream:
            seen.append(state)
            stream.command([200] * 10)
            if len(seen) == 5:
                break
        assert velmora.Reading.POSITIONS in stream.latest()
        assert stream.health().commands_sent >= 2
    assert [s.sequence for s in seen] == sorted({s.sequence for s in seen})
    assert all(len(s.values) == 10 and s.age >= 0 for s in seen)
    assert seen[-1].received <= time.monotonic()
    assert abs(seen[-1].received_time - time.time()) < 60


def test_refuses_a_wrong_count_and_stops_iterating_once_closed(
    tovin: Tuple[SimulatedHand, velmora.VelmoraApi],
) -> None:
    _, api = tovin
    stream = velmora.HandStream(api)
    with pytest.raises(ValueError, match="takes 10 values"):
        stream.command([1, 2, 3])
    with pytest.raises(ValueError, match="not a finite number"):
        stream.command_arc([float("nan")] * 10)
    stream.close()
    assert list(stream) == []


def test_next_can_be_awaited(tovin: Tuple[SimulatedHand, velmora.VelmoraApi]) -> None:
    _, api = tovin

    async def two_readings(stream: velmora.HandStream) -> Tuple[int, int]:
        first = await stream.next(timeout=5.0)
        assert first is not None
        second = await stream.next(first, timeout=5.0)
        assert second is not None
        return first.sequence, second.sequence

    with velmora.HandStream(api) as stream:
        first, second = asyncio.run(two_readings(stream))
    assert second > first


def test_ctrl_c_ends_a_wait_for_a_silent_hand() -> None:
    bus = "virtual:can-py-stream-silent"
    api = velmora.VelmoraApi(velmora.MARLO, velmora.RIGHT, bus)  # no hand answers
    with velmora.HandStream(api) as stream:
        timer = threading.Timer(0.2, lambda: os.kill(os.getpid(), signal.SIGINT))
        timer.start()
        start = time.monotonic()
        with pytest.raises(KeyboardInterrupt):
            next(iter(stream))
        timer.join()
        assert time.monotonic() - start < 5.0
