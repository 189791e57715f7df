"""velmora.models: the C++ model catalogue as Python reads it."""

import pytest

import velmora
from velmora import models


def test_every_model_value_once_in_enum_order() -> None:
    assert [m.model for m in models.MODELS] == sorted(velmora.Model.__members__.values(),
                                                      key=int)
    for m in models.MODELS:
        assert models.info(m.model).name == m.name
        assert models.from_name(m.name.upper()) is not None
        assert models.model_from_name(m.name) == m.model and models.model_name(m.model) == m.name
        assert len(m.joint_names) == len(m.joint_labels) == len(m.joint_slots) == m.joints
        assert [m.slot_of_joint(j) for j in range(m.joints)] == m.joint_slots
        assert m.slot_of_joint(m.joints) is None
        assert set(m.angle_slots) <= set(m.joint_slots)
        assert len(m.finger_joints) == len(models.FINGER_NAMES)
        assert sorted(m.poses) == sorted(models.POSE_NAMES)
        assert all(m.has(r) for r in m.readings)


def test_lookups_and_conversions() -> None:
    assert models.from_name("zenit2") is None and models.model_from_name("") is None
    assert models.side_from_name("Left") == velmora.LEFT and models.side_from_name("up") is None
    assert models.side_name(velmora.RIGHT) == "right" and models.side_name(0x30) == "unknown"
    assert models.choices() == "kesta, kesta_alt, marlo, tovin, ravel, sabre or zenit"
    assert models.reading_name(velmora.Reading.TEMPERATURES) == "temperatures"
    sabre = models.info(velmora.SABRE)
    assert (sabre.slots, sabre.joints, len(sabre.angle_slots)) == (25, 21, 17)
    assert sabre.counts_taken == models.counts_taken(velmora.SABRE)
    slots = models.per_slot(velmora.ZENIT, [1.0] * 21)
    assert slots is not None and len(slots) == 25 and slots[11] == 0.0
    assert models.per_slot(velmora.ZENIT, [1.0] * 20) is None
    assert sabre.per_slot([2.0] * 25) == [2.0] * 25
    with pytest.raises(ValueError, match="unknown pose 'wave'"):
        sabre.pose("wave")
    # The simulator's view of a model is the catalogue's.
    shape = velmora.sim.shape_of(velmora.SABRE)
    assert shape.joints == sabre.slots and shape.finger_joints == sabre.finger_joints
