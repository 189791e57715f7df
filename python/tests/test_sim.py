"""velmora.sim: the simulated hand's fault controls and life cycle."""

import datetime
from typing import Tuple

import numpy as np
import pytest

import velmora
from velmora.sim import ReplyFault, SensorKind, SimulatedHand

from conftest import eventually, new_bus


def test_fault_controls(tovin: Tuple[SimulatedHand, velmora.VelmoraApi]) -> None:
    simulated, hand = tovin
    short = datetime.timedelta(milliseconds=40)

    simulated.inject_fault(0x04)
    assert simulated.faults().tolist() == [0x04] * 10
    assert hand.read_fresh(velmora.Reading.FAULTS).tolist() == [0x04] * 10
    simulated.clear_faults()
    assert hand.read_fresh(velmora.Reading.FAULTS).tolist() == [0] * 10

    for fault in (ReplyFault.SHORT, ReplyFault.MALFORMED):
        simulated.set_reply_fault(fault)
        # Cut replies never make a whole reading.
        try:
            assert len(hand.read_state(short)) < 10, fault
        except velmora.HandTimeoutException:
            pass
    simulated.set_reply_fault(ReplyFault.NONE)
    assert hand.read_state().shape == (10,)

    # Last: the late replies to the timed-out read are still on their way when it ends.
    simulated.set_reply_delay(datetime.timedelta(milliseconds=150))
    with pytest.raises(velmora.HandTimeoutException):
        hand.read_state(short)
    assert hand.read_state(datetime.timedelta(seconds=2)).shape == (10,)

    with pytest.raises(ValueError, match="delay must be 0 .. 86400 seconds, not -1.0"):
        simulated.set_reply_delay(-1.0)
    with pytest.raises(TypeError, match="delay must be a timedelta or seconds, not str"):
        simulated.set_reply_delay("1")  # type: ignore[arg-type]
    with pytest.raises(ValueError, match="finger must be 0..4"):
        simulated.closure(5)


def test_state_and_life_cycle() -> None:
    bus = new_bus()
    with SimulatedHand(velmora.MARLO, velmora.LEFT, bus, sensor=SensorKind.NONE,
                       firmware=0x12) as simulated:
        assert (simulated.model, simulated.side, simulated.sensor, simulated.firmware,
                simulated.joints) == (velmora.MARLO, velmora.LEFT, SensorKind.NONE, 0x12, 7)
        for read in (simulated.positions, simulated.targets, simulated.speeds, simulated.torques,
                     simulated.currents, simulated.temperatures, simulated.faults):
            values = read()
            assert values.dtype == np.uint8 and values.shape == (7,)
        hand = velmora.VelmoraApi(velmora.MARLO, velmora.LEFT, bus)
        hand.finger_move([0] * 7)
        eventually(lambda: simulated.closure(1), lambda c: c > 0.5)
        assert simulated.frames_received() > 0 and simulated.frames_sent() > 0
        assert not simulated.closed
    assert simulated.closed
    with pytest.raises(RuntimeError, match="The simulated hand is closed"):
        simulated.positions()
    simulated.close()  # twice is fine
    with pytest.raises(velmora.HandTimeoutException):
        hand.read_state(0.03)


def test_names_and_shapes() -> None:
    assert velmora.sim.model_from_name("Tovin") == velmora.TOVIN
    assert velmora.sim.model_from_name("nope") is None
    assert velmora.sim.side_from_name("LEFT") == velmora.LEFT
    assert velmora.sim.model_name(velmora.ZENIT) == "zenit"
    shape = velmora.sim.shape_of(velmora.TOVIN)
    assert shape.joints == 10 and len(shape.finger_joints) == 5


def test_bad_channel() -> None:
    with pytest.raises(RuntimeError):
        SimulatedHand(velmora.TOVIN, velmora.RIGHT, "no-such-interface0")
