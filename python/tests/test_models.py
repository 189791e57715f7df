"""The model classes and the factory, for what the facade does not forward."""

from typing import List, Tuple, Type

import numpy as np
import pytest

import velmora
from velmora.sim import SensorKind, SimulatedHand

from conftest import eventually, new_bus


@pytest.mark.parametrize("model,cls", [
    (velmora.KESTA, velmora.KestaHand), (velmora.KESTA_ALT, velmora.KestaHand),
    (velmora.MARLO, velmora.MarloHand), (velmora.TOVIN, velmora.TovinHand),
    (velmora.RAVEL, velmora.RavelHand), (velmora.SABRE, velmora.ZenitHand),
    (velmora.ZENIT, velmora.ZenitHand),
])
def test_factory_builds_the_model_class(model: velmora.Model, cls: Type[velmora.IHand]) -> None:
    hand = velmora.HandFactory.create_hand(model, velmora.RIGHT, new_bus(), 1000000)
    assert type(hand) is cls
    assert isinstance(hand, velmora.IHand)


def test_factory_refusals() -> None:
    assert velmora.HandFactory.create_hand(velmora.TOVIN, velmora.RIGHT, "eth0", 1000000) is None
    with pytest.raises(ValueError, match="Unsupported hand type"):
        velmora.HandFactory.create_hand(velmora.TOVIN, 0x30, velmora.CAN0)
    with pytest.raises(RuntimeError):
        velmora.HandFactory.create_hand(velmora.TOVIN, velmora.RIGHT, "modbus", 1000000)
    assert velmora.HandFactory.to_lower("CaN0") == "can0"
    assert velmora.HandFactory.contains_ignore_case("vCAN0", "can")


def test_six_actuator_hand_extras() -> None:
    bus = new_bus()
    with SimulatedHand(velmora.KESTA, velmora.RIGHT, bus) as simulated:
        hand = velmora.KestaHand(velmora.RIGHT, bus, 1000000)
        assert eventually(hand.get_serial_number, lambda s: s != "Unknown")
        assert eventually(hand.get_hardware_version, lambda s: s != "Unknown").count(".") == 2
        hand.set_acceleration([10, 20, 30, 40, 50, 60])
        acceleration = eventually(hand.get_acceleration,
                                  lambda a: list(a) == [10, 20, 30, 40, 50, 60])
        assert acceleration.dtype == np.uint8
        hand.set_joint_positions([0] * 6)
        eventually(simulated.targets, lambda t: list(t) == [0] * 6)
        hand.re_home()
        eventually(simulated.targets, lambda t: list(t) == [255] * 6)
        hand.parse_serial_number(b"\x00ABC")
        assert hand.get_serial_number() == "ABC"


def test_twenty_five_joint_hand_extras() -> None:
    bus = new_bus()
    with SimulatedHand(velmora.ZENIT, velmora.LEFT, bus):
        hand = velmora.ZenitHand(velmora.LEFT, bus, 1000000, 0)
        command = hand.state_to_cmd(np.arange(30, dtype=np.uint8))
        assert command.shape == (25,) and list(command[11:15]) == [0, 0, 0, 0]
        for finger in (hand.get_thumb_force, hand.get_index_force, hand.get_little_force):
            assert finger().dtype == np.uint8
        payloads = hand.get_force(0)
        assert isinstance(payloads, (np.ndarray, list))
        assert hand.get_sub_vector([1, 2, 3]).tolist() == [2, 3]
        assert hand.get_sub_vector([1, 2], [3, 4]).tolist() == [2, 4]
        assert len(hand.get_current_time()) == len("YYYY-MM-DD HH:MM:SS.mmm")


def test_twenty_joint_hand_summary_sensors() -> None:
    bus = new_bus()
    with SimulatedHand(velmora.RAVEL, velmora.RIGHT, bus, sensor=SensorKind.SUMMARY):
        hand = velmora.RavelHand(velmora.RIGHT, bus, 1000000)
        def reported(force: velmora.Force) -> bool:
            return isinstance(force, np.ndarray) and force.size > 0

        force = eventually(hand.get_force, reported)
        assert isinstance(force, np.ndarray) and force.shape == (5, 1, 4)
        assert hand.get_uid().dtype == np.uint8
        assert eventually(hand.get_rotor_lock_count, lambda v: len(v) > 0).dtype == np.uint8
        answered = eventually(
            lambda: [code for code in range(256) if hand.reply_age(code) is not None],
            lambda codes: len(codes) > 0)
        age = hand.reply_age(answered[0])
        assert age is not None and age.total_seconds() >= 0
        assert len(answered) < 256


def test_ten_joint_hand_request_all_status(
        tovin: Tuple[SimulatedHand, velmora.VelmoraApi]) -> None:
    _, api = tovin
    hand = velmora.TovinHand(velmora.LEFT, new_bus(), 1000000)
    assert hand.request_all_status().tolist() == [0] * 10
    assert api.read_state().shape == (10,)


def test_virtual_bus_endpoints(messages: List[Tuple[velmora.MessageLevel, str]]) -> None:
    name = new_bus()
    a, b = velmora.VirtualCanBus(name), velmora.VirtualCanBus(name, velmora.TOVIN)
    assert a.bus_name == name and velmora.VirtualCanBus.QUEUE_CAPACITY == 1024
    b.send([1, 2, 3], 0x27)
    frame = a.recv(0x27)
    assert (frame.id, frame.len, frame.data.tolist()) == (0x27, 3, [1, 2, 3])
    b.send([9], 0x28)
    assert a.recv(0x27).id == 0  # another identifier: the all-zero message
    a.set_receive_timeout(0, 20000)
    with pytest.raises(RuntimeError, match="Failed to receive CAN frame"):
        a.recv(0x27)
    with pytest.raises(RuntimeError, match="Failed to set receive timeout"):
        a.set_receive_timeout(-1, 0)
    assert a.dropped_frames() == 0
