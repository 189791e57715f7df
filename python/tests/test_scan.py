"""velmora.scan and identity(): which hand is on the bus."""

import pytest

import velmora
from velmora.sim import SimulatedHand

from conftest import new_bus


def test_scan_finds_both_hands() -> None:
    bus = new_bus()
    with SimulatedHand(velmora.RAVEL, velmora.LEFT, bus), SimulatedHand(
        velmora.TOVIN, velmora.RIGHT, bus
    ):
        found = velmora.scan(bus, 5.0)
    assert [h.identifier for h in found] == [0x27, 0x28]
    assert found[0].model == velmora.TOVIN
    assert found[0].reported() == "10 joints and right side"
    assert found[1].candidates == [velmora.RAVEL]
    assert found[1].firmware == "1.5"
    assert velmora.scan(new_bus(), 0.05) == []


def test_identity_and_mismatch() -> None:
    bus = new_bus()
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, bus):
        right = velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, bus)
        assert right.identity(5.0).degrees_of_freedom == 10
        assert right.health().identity_checked
        wrong = velmora.VelmoraApi(velmora.RAVEL, velmora.RIGHT, bus)
        with pytest.raises(velmora.HandMismatchException, match="it is a tovin, not a ravel"):
            wrong.identity(5.0)
        health = wrong.health()
        assert health.model_mismatch and "0x27" in health.mismatch
        assert issubclass(velmora.HandMismatchException, velmora.HandException)
