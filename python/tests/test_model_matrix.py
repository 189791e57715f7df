"""Python on every model value of velmora.models, against a simulated hand: read_state,
finger_move with one value per joint and with one per slot, read_state_arc and finger_move_arc;
the 6-actuator hand, which has no joint-angle tables, gets what the library gives it there."""

from typing import Callable, List, Tuple

import numpy as np
import pytest

import velmora
from velmora.models import ModelInfo
from velmora.sim import SimulatedHand

from conftest import eventually, new_bus

Messages = List[Tuple[velmora.MessageLevel, str]]


def agree(values: velmora.Bytes, wanted: velmora.Bytes, slots: List[int]) -> bool:
    return bool(np.array_equal(values[slots], wanted[slots]))


def settle(hand: velmora.VelmoraApi, simulated: SimulatedHand, info: ModelInfo,
           wanted: velmora.Bytes) -> velmora.Bytes:
    """Waits until the hand's joints reach `wanted` (one per slot); the state read then."""
    joints = info.joint_slots
    eventually(simulated.targets, lambda t: agree(t, wanted, joints))
    return eventually(lambda: hand.read_state(2.0), lambda s: agree(s, wanted, joints))


@pytest.mark.parametrize("info", velmora.models.MODELS,
                         ids=[m.name for m in velmora.models.MODELS])
def test_every_model_from_python(info: ModelInfo, messages: Messages) -> None:
    bus = new_bus()
    with SimulatedHand(info.model, velmora.RIGHT, bus) as simulated:
        hand = velmora.VelmoraApi(info.model, velmora.RIGHT, bus)
        assert hand.model == info.model
        assert simulated.joints == info.slots
        state = hand.read_state(2.0)
        assert state.dtype == np.uint8 and state.shape == (info.slots,)
        assert state[info.joint_slots].tolist() == [255] * info.joints  # it starts open
        hand.set_speed([255] * max(velmora.models.setting_counts(
            info.model, velmora.models.Setting.SPEEDS)))

        # One value per joint, in the order `state` shows them.
        per_joint = [40 + 5 * j for j in range(info.joints)]
        hand.finger_move(per_joint)
        wanted = np.zeros(info.slots, dtype=np.uint8)
        wanted[info.joint_slots] = per_joint
        settle(hand, simulated, info, wanted)
        # One per slot: a pose.
        point = info.pose("point")
        hand.finger_move(point)
        state = settle(hand, simulated, info, point)
        # A count that fits neither is refused, naming what the model takes, and nothing moves.
        del messages[:]
        with pytest.raises(ValueError, match=info.counts_taken):
            hand.finger_move([1, 2, 3])
        assert simulated.targets()[info.joint_slots].tolist() == point[info.joint_slots].tolist()

        if not info.has_angle_tables:
            # No angles: refused before anything is sent.
            calls: List[Callable[[], object]] = [
                lambda: hand.read_state_arc(2.0), hand.get_state_arc,
                lambda: hand.finger_move_arc([0.1] * info.joints)]
            for call in calls:
                with pytest.raises(velmora.UnsupportedFeatureException):
                    call()
            assert simulated.targets()[info.joint_slots].tolist() == point[info.joint_slots].tolist()
            assert messages == []
            return

        key = info.angle_table_key
        angles = info.angle_slots
        arc = hand.read_state_arc(2.0)
        assert arc.dtype == np.float64 and arc.shape == (info.slots,)
        np.testing.assert_allclose(arc[angles], velmora.range_to_arc(key, "right", state)[angles])

        limits = velmora.initialize_params(key, "right")
        assert limits is not None
        low, high, _ = limits
        slot_angles = np.zeros(info.slots)
        slot_angles[angles] = low[angles] + (high[angles] - low[angles]) * 0.3
        hand.finger_move_arc(slot_angles[info.joint_slots].tolist())  # one per joint
        expected = velmora.arc_to_range(key, "right", slot_angles)
        eventually(simulated.targets, lambda t: agree(t, expected, angles))
        assert not [text for level, text in messages if level != velmora.MessageLevel.INFO]
