"""Joint conversion and enumerations: the same values as the C++ library."""

import math
from typing import List

import numpy as np
import pytest

import velmora


def test_seven_joint_examples() -> None:
    assert velmora.range_to_arc(7, "left", [0] * 7)[0] == 0.44
    assert velmora.range_to_arc(7, "left", [255] + [0] * 6)[0] == 0.0
    assert velmora.range_to_arc(7, "left", [128] + [0] * 6)[0] == pytest.approx(
        0.2191372549019608, abs=1e-15)
    assert velmora.range_to_arc(7, "right", [0] * 7)[1] == -1.43
    assert velmora.arc_to_range(7, "left", [0.22] + [0] * 6)[0] == 128
    assert velmora.arc_to_range(7, "left", [0.5] + [0] * 6)[0] == 0
    assert velmora.arc_to_range(7, "left", [math.nan] + [0] * 6)[0] == 255


@pytest.mark.parametrize("key,size,skipped", [
    (7, 7, []), (10, 10, []), (20, 20, []),
    (21, 25, [11, 12, 13, 14, 16, 17, 18, 19]), (25, 25, [11, 12, 13, 14]),
])
def test_round_trip_and_tables(key: int, size: int, skipped: List[int]) -> None:
    for side in ("left", "right"):
        params = velmora.initialize_params(key, side)
        assert params is not None
        low, high, direction = params
        assert low.shape == high.shape == direction.shape == (size,)
        values = np.arange(size, dtype=np.uint8) * 9
        arc = velmora.range_to_arc(key, side, values)
        assert arc.dtype == np.float64 and arc.shape == (size,)
        back = velmora.arc_to_range(key, side, arc)
        assert back.dtype == np.uint8
        for joint in range(size):
            assert velmora.should_skip_joint(key, joint) == (joint in skipped)
            if joint in skipped:
                assert arc[joint] == 0.0 and back[joint] == 0
            elif low[joint] != high[joint]:  # a fixed joint reads back as its one value
                assert back[joint] == values[joint]


def test_bad_keys_give_empty_results_and_a_message(
        messages: List[tuple[velmora.MessageLevel, str]]) -> None:
    assert velmora.range_to_arc(8, "left", [0] * 8).shape == (0,)
    assert velmora.range_to_arc(10, "up", [0] * 10).shape == (0,)
    assert velmora.range_to_arc(10, "left", [0] * 3).shape == (0,)
    assert velmora.arc_to_range(10, "left", [0.0] * 3).shape == (0,)
    assert velmora.initialize_params(8, "left") is None
    assert len(messages) == 3
    assert messages[2] == (velmora.MessageLevel.ERROR, "Error: Invalid hand_range size.")


def test_helpers() -> None:
    assert velmora.scale_value(5, 0, 10, 100, 200) == 150
    assert velmora.is_within_range(11, 0, 10) == 10
    assert velmora.is_within_range(math.nan, -2, 3) == -2


def test_enumerations() -> None:
    assert [m.value for m in (velmora.KESTA_ALT, velmora.KESTA, velmora.MARLO, velmora.TOVIN,
                              velmora.RAVEL, velmora.SABRE, velmora.ZENIT)] == list(range(7))
    assert velmora.Model.TOVIN is velmora.TOVIN
    assert (velmora.Side.RIGHT.value, velmora.LEFT.value) == (0x27, 0x28)
    assert [c.value for c in (velmora.CAN0, velmora.CAN1, velmora.MODBUS, velmora.ETHERCAT)] == [
        0, 1, 2, 3]
    assert velmora.Comm.CAN0 is velmora.CAN0
    assert [r.name for r in velmora.Reading.__members__.values()] == [
        "POSITIONS", "SPEEDS", "TORQUES", "CURRENTS", "TEMPERATURES", "FAULTS"]
    assert velmora.__version__ == velmora.version()
    assert len(velmora.__version__.split(".")) == 3
