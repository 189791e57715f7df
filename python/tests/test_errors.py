"""Exceptions and their messages; bad arguments refused before anything is sent."""

from typing import Any, List, Optional, Tuple, Type

import numpy as np
import pytest

import velmora
from velmora.sim import SimulatedHand

from conftest import new_bus


def test_exception_hierarchy() -> None:
    assert issubclass(velmora.HandException, RuntimeError)
    assert issubclass(velmora.UnsupportedFeatureException, velmora.HandException)
    assert issubclass(velmora.HandTimeoutException, velmora.HandException)
    assert not issubclass(velmora.HandTimeoutException, velmora.UnsupportedFeatureException)


def test_unsupported_feature_names_the_operation() -> None:
    bus = new_bus()
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, bus):
        hand = velmora.TovinHand(velmora.RIGHT, bus, 1000000)
        with pytest.raises(velmora.UnsupportedFeatureException) as caught:
            hand.get_uid()
        assert str(caught.value) == "Unsupported feature: getUID"
        assert caught.value.feature_name == "getUID"
        assert caught.value.code == velmora.HandError.UNSUPPORTED_FEATURE


@pytest.mark.parametrize("args,error,message", [
    ((velmora.TOVIN, velmora.RIGHT, "eth0"), ValueError, "Unsupported channel: eth0"),
    ((velmora.TOVIN, velmora.RIGHT, velmora.MODBUS), RuntimeError, None),
])
def test_construction_errors(args: Tuple[Any, ...], error: Type[Exception],
                             message: Optional[str]) -> None:
    with pytest.raises(error) as caught:
        velmora.VelmoraApi(*args)
    if message is not None:
        assert str(caught.value) == message


BAD_VALUES: List[Tuple[Any, Type[Exception], str]] = [
    ([1, 2, 256], ValueError, "positions[2] = 256 is outside 0..255"),
    ([-1], ValueError, "positions[0] = -1 is outside 0..255"),
    ([2**70], ValueError, "is outside 0..255"),
    ([1.0, 2], TypeError, "positions[0] must be an integer 0..255, not float"),
    (["a"], TypeError, "positions[0] must be an integer 0..255, not str"),
    ("abc", TypeError, "positions must be a sequence of integers 0..255, not str"),
    (5, TypeError, "positions must be a sequence of integers 0..255, not int"),
    (np.zeros((2, 5), dtype=np.uint8), ValueError, "positions must be one-dimensional"),
    (np.array([0.5] * 10), TypeError, "must be an integer 0..255, not float64"),
    (np.array([300] * 10), ValueError, "positions[0] = 300 is outside 0..255"),
]


def test_bad_bytes_are_refused_before_anything_is_sent(
        tovin: Tuple[SimulatedHand, velmora.VelmoraApi]) -> None:
    simulated, hand = tovin
    hand.read_state()
    start = simulated.frames_received()
    for value, error, message in BAD_VALUES:
        with pytest.raises(error) as caught:
            hand.finger_move(value)
        assert message in str(caught.value), value
    hand.read_state()
    per_read = simulated.frames_received() - start
    hand.read_state()
    assert simulated.frames_received() - start == 2 * per_read


def test_accepted_byte_forms(tovin: Tuple[SimulatedHand, velmora.VelmoraApi],
                             messages: List[Tuple[velmora.MessageLevel, str]]) -> None:
    _, hand = tovin
    forms: List[Any] = [
        [200] * 10, tuple([200] * 10), bytes([200] * 10), np.full(10, 200, dtype=np.uint8),
        np.full(10, 200, dtype=np.int64), np.full(20, 200, dtype=np.uint8)[::2],
        [np.uint8(200)] * 10, [True] * 10,
    ]
    for form in forms:
        hand.set_speed(form)
    assert messages == []


def test_bad_radians() -> None:
    with pytest.raises(TypeError, match=r"hand_arc\[1\] must be a number, not str"):
        velmora.arc_to_range(10, "left", [0.1, "x"])  # type: ignore[list-item]
    with pytest.raises(TypeError, match="hand_arc must be a sequence of numbers"):
        velmora.arc_to_range(10, "left", None)  # type: ignore[arg-type]
    with pytest.raises(ValueError, match="one-dimensional"):
        velmora.arc_to_range(10, "left", np.zeros((2, 5)))


def test_enums_are_checked() -> None:
    with pytest.raises(TypeError):
        velmora.VelmoraApi(3, velmora.RIGHT, "virtual:can-x")  # type: ignore[call-overload]
