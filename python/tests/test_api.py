"""VelmoraApi against a simulated hand of every model: data shapes, motion, fresh reads, health."""

import datetime
from typing import Dict, List, Tuple

import numpy as np
import pytest

import velmora
from velmora.sim import SimulatedHand

from conftest import eventually, new_bus

# model, joints, getters the model refuses
MODELS: List[Tuple[velmora.Model, int, List[str]]] = [
    (velmora.KESTA, 6, ["get_current"]),
    (velmora.MARLO, 7, ["get_current"]),
    (velmora.TOVIN, 10, []),
    (velmora.RAVEL, 20, ["get_torque", "get_temperature"]),
    (velmora.SABRE, 25, ["get_current"]),
    (velmora.ZENIT, 25, ["get_current"]),
]
BYTE_GETTERS = ["get_speed", "get_state", "get_torque", "get_temperature", "get_fault_code",
                "get_current"]
# Joint slots of the 25-joint command order that carry no joint.
NO_JOINT: Dict[velmora.Model, List[int]] = {velmora.SABRE: [11, 12, 13, 14],
                                           velmora.ZENIT: [11, 12, 13, 14]}


def speeds_taken(model: velmora.Model) -> int:
    """The most speeds the model's set_speed takes (a few models take one per finger)."""
    return max(velmora.models.setting_counts(model, velmora.models.Setting.SPEEDS))


@pytest.mark.parametrize("model,joints,refused", MODELS, ids=lambda v: str(v))
def test_every_model_through_the_facade(model: velmora.Model, joints: int,
                                        refused: List[str]) -> None:
    bus = new_bus()
    with SimulatedHand(model, velmora.LEFT, bus) as simulated:
        hand = velmora.VelmoraApi(model, velmora.LEFT, bus)
        assert eventually(hand.get_version, lambda text: text != "")

        for name in BYTE_GETTERS:
            if name in refused:
                with pytest.raises(velmora.UnsupportedFeatureException) as caught:
                    getattr(hand, name)()
                assert caught.value.code == velmora.HandError.UNSUPPORTED_FEATURE
                continue
            values = getattr(hand, name)()
            assert isinstance(values, np.ndarray) and values.dtype == np.uint8, name
            assert values.ndim == 1, name

        state = hand.read_state()
        assert state.dtype == np.uint8 and state.shape == (joints,)
        force = hand.get_force()
        assert isinstance(force, np.ndarray)
        assert force.dtype == np.uint8 and force.shape == (5, 12, 6)

        # Close every joint a little and watch the hand get there.
        target = np.full(joints, 100, dtype=np.uint8)
        target[NO_JOINT.get(model, [])] = 0
        hand.set_speed([255] * speeds_taken(model))
        hand.finger_move(target)
        skip = NO_JOINT.get(model, [])
        live = [j for j in range(joints) if j not in skip]

        def arrived(state: velmora.Bytes) -> bool:
            return len(state) == joints and bool(np.all(np.abs(state[live].astype(int) - 100) <= 1))

        eventually(hand.get_state, arrived)
        np.testing.assert_array_equal(simulated.targets()[:joints][live], target[live])

        if model not in (velmora.KESTA, velmora.KESTA_ALT):
            arc = hand.read_state_arc()
            assert arc.dtype == np.float64 and arc.shape == (joints,)


def test_radians_go_out_as_the_bytes_arc_to_range_gives(
        tovin: Tuple[SimulatedHand, velmora.VelmoraApi]) -> None:
    simulated, hand = tovin
    limits = velmora.initialize_params(10, "right")
    assert limits is not None
    low, high, _ = limits
    angles = low + (high - low) * np.linspace(0.1, 0.9, 10)
    expected = velmora.arc_to_range(10, "right", angles)
    hand.finger_move_arc(angles)
    eventually(simulated.targets, lambda t: bool(np.array_equal(t, expected)))
    # A list works as well as an array.
    angles = low + (high - low) * np.linspace(0.9, 0.1, 10)
    hand.finger_move_arc([float(a) for a in angles])
    expected = velmora.arc_to_range(10, "right", angles)
    eventually(simulated.targets, lambda t: bool(np.array_equal(t, expected)))


def test_fresh_reads_and_health(tovin: Tuple[SimulatedHand, velmora.VelmoraApi]) -> None:
    simulated, hand = tovin
    for reading in [velmora.Reading.POSITIONS, velmora.Reading.SPEEDS, velmora.Reading.TORQUES,
                    velmora.Reading.TEMPERATURES, velmora.Reading.FAULTS]:
        values = hand.read_fresh(reading)
        assert values.dtype == np.uint8 and values.shape == (10,), reading
    with pytest.raises(velmora.UnsupportedFeatureException):
        hand.read_fresh(velmora.Reading.CURRENTS)

    health = hand.health()
    assert health.frames_received > 0 and health.channel_up
    assert health.send_failures == 0 and health.receive_errors == 0
    assert isinstance(health.last_frame_age, datetime.timedelta)
    assert "frames_received=" in repr(health)
    assert velmora.VelmoraApi.DEFAULT_READ_TIMEOUT == datetime.timedelta(milliseconds=200)

    simulated.set_silent(True)
    with pytest.raises(velmora.HandTimeoutException) as caught:
        hand.read_state(datetime.timedelta(milliseconds=30))
    assert str(caught.value).startswith("No fresh reply from hand 0x27 within 30 ms: missing")
    assert caught.value.code == velmora.HandError.HAND_TIMEOUT
    with pytest.raises(velmora.HandTimeoutException):
        hand.read_state_arc(0.03)  # seconds, as a float
    simulated.set_silent(False)
    assert hand.read_state().shape == (10,)


def frames_of(simulated: SimulatedHand, hand: velmora.VelmoraApi) -> int:
    """Frames the hand has taken in, once a fresh read has made it through."""
    hand.read_state()
    return simulated.frames_received()


def test_refused_calls_send_nothing(tovin: Tuple[SimulatedHand, velmora.VelmoraApi],
                                    messages: List[Tuple[velmora.MessageLevel, str]]) -> None:
    simulated, hand = tovin
    before = frames_of(simulated, hand)
    per_read = frames_of(simulated, hand) - before
    start = simulated.frames_received()
    with pytest.raises(velmora.UnsupportedFeatureException, match="setCurrent"):
        hand.set_current([1, 2, 3, 4, 5])  # a 20-joint hand's feature
    with pytest.raises(velmora.UnsupportedFeatureException, match="setEnable"):
        hand.set_enable([1])  # a 25-joint hand's feature
    with pytest.raises(ValueError, match="takes 10 values"):
        hand.finger_move([1, 2])  # wrong length
    assert frames_of(simulated, hand) - start == per_read
    assert messages == []
