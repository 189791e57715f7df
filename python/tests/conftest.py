"""Shared helpers: simulated hands on private virtual buses, and waiting with a deadline."""

import itertools
import time
from typing import Callable, Iterator, List, Tuple, TypeVar

import pytest

import velmora
from velmora.sim import SimulatedHand

T = TypeVar("T")

_bus_numbers = itertools.count()


def new_bus() -> str:
    """A bus no other test uses ('can' in the name: the factory wants it)."""
    return f"virtual:can-py-{next(_bus_numbers)}"


def eventually(read: Callable[[], T], done: Callable[[T], bool], deadline: float = 5.0) -> T:
    """Calls read until done holds for its result; fails after `deadline` seconds."""
    end = time.monotonic() + deadline
    while True:
        value = read()
        if done(value):
            return value
        if time.monotonic() > end:
            raise AssertionError(f"condition not met within {deadline} s; last value {value!r}")
        time.sleep(0.01)


@pytest.fixture
def messages() -> Iterator[List[Tuple[velmora.MessageLevel, str]]]:
    """Every message of the library while the test runs."""
    lines: List[Tuple[velmora.MessageLevel, str]] = []
    velmora.set_message_sink(lambda level, text: lines.append((level, text)))
    yield lines
    velmora.reset_message_sink()


@pytest.fixture
def tovin() -> Iterator[Tuple[SimulatedHand, velmora.VelmoraApi]]:
    """A simulated 10-joint right hand and the facade driving it."""
    bus = new_bus()
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, bus) as simulated:
        yield simulated, velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, bus)
