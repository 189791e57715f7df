"""Loud errors, lifecycle, logging and documentation: every model's wrong lengths, odd angles
and missing operations raise before anything is sent; close() and `with`; Ctrl-C during a
read; the library's messages in logging; help() and the stubs."""

import ast
import logging
import math
import os
import pydoc
import signal
import subprocess
import sys
import time
from pathlib import Path
from typing import Any, Callable, Dict, Iterator, List, Tuple

import numpy as np
import pytest

import velmora
from velmora.models import ModelInfo, Setting
from velmora.sim import SimulatedHand

from conftest import new_bus

MODELS = velmora.models.MODELS
IDS = [m.name for m in MODELS]

# The facade's setters and the setting each writes.
API_SETTERS: List[Tuple[str, Setting, str]] = [
    ("set_speed", Setting.SPEEDS, "setSpeed"),
    ("set_torque", Setting.TORQUES, "setTorque"),
    ("set_current", Setting.CURRENTS, "setCurrent"),
    ("clear_fault_code", Setting.CLEAR_FAULTS, "clearFaultCode"),
    ("set_enable", Setting.MOTOR_SWITCH, "setEnable"),
    ("set_disable", Setting.MOTOR_SWITCH, "setDisable"),
]
# What the facade serves for one model only, whatever the model's class can do.
FACADE_ONLY = {"set_current": [velmora.RAVEL], "clear_fault_code": [velmora.RAVEL],
               "set_enable": [velmora.ZENIT], "set_disable": [velmora.ZENIT]}


@pytest.fixture(params=MODELS, ids=IDS)
def driven(request: Any) -> Iterator[Tuple[ModelInfo, SimulatedHand, velmora.VelmoraApi]]:
    info: ModelInfo = request.param
    bus = new_bus()
    with SimulatedHand(info.model, velmora.RIGHT, bus) as simulated:
        with velmora.VelmoraApi(info.model, velmora.RIGHT, bus) as hand:
            hand.read_state(2.0)
            yield info, simulated, hand


def frames_after(simulated: SimulatedHand, hand: velmora.VelmoraApi,
                 calls: Callable[[], None]) -> int:
    """Frames the hand took in while `calls` ran, beyond those of a fresh read."""
    hand.read_state(2.0)
    start = simulated.frames_received()
    hand.read_state(2.0)
    per_read = simulated.frames_received() - start
    start = simulated.frames_received()
    calls()
    hand.read_state(2.0)
    return simulated.frames_received() - start - per_read


def offered(info: ModelInfo, name: str, setting: Setting) -> bool:
    return (bool(velmora.models.setting_counts(info.model, setting))
            and info.model in FACADE_ONLY.get(name, [info.model]))


def test_every_wrong_length_and_missing_operation_raises_before_sending(
        driven: Tuple[ModelInfo, SimulatedHand, velmora.VelmoraApi]) -> None:
    info, simulated, hand = driven

    def refusals() -> None:
        for count in (0, 1, info.joints - 1, info.slots + 1, 40):
            if count in (info.joints, info.slots):
                continue
            with pytest.raises(ValueError) as caught:
                hand.finger_move([1] * count)
            assert str(caught.value) == (f"positions: the {info.description} ({info.name}) "
                                         f"{info.counts_taken}, not {count}")
        for name, setting, feature in API_SETTERS:
            method = getattr(hand, name)
            if not offered(info, name, setting):
                with pytest.raises(velmora.UnsupportedFeatureException) as unsupported:
                    method([1] * 5)
                assert unsupported.value.feature_name == feature
                continue
            taken = velmora.models.setting_counts(info.model, setting)
            for count in (max(taken) + 1, 40):
                with pytest.raises(ValueError, match=velmora.models.setting_counts_taken(
                        info.model, setting)):
                    method([1] * count)

    assert frames_after(simulated, hand, refusals) == 0


def test_odd_angles_raise_and_models_without_tables_refuse_radians(
        driven: Tuple[ModelInfo, SimulatedHand, velmora.VelmoraApi]) -> None:
    info, simulated, hand = driven

    def refusals() -> None:
        if not info.has_angle_tables:
            calls: List[Callable[[], object]] = [
                lambda: hand.finger_move_arc([0.0] * info.joints), hand.get_state_arc,
                hand.read_state_arc]
            for call in calls:
                with pytest.raises(velmora.UnsupportedFeatureException):
                    call()
            return
        limits = velmora.initialize_params(info.angle_table_key, "right")
        assert limits is not None
        low, high, _ = limits
        middle = (low + high) / 2
        slot = info.angle_slots[-1]
        for bad, message in [(math.nan, "is not a finite angle"),
                             (math.inf, "is not a finite angle"),
                             (-math.inf, "is not a finite angle"),
                             (max(low[slot], high[slot]) + 0.01, "is outside"),
                             (min(low[slot], high[slot]) - 0.01, "is outside")]:
            angles = middle.copy()
            angles[slot] = bad
            with pytest.raises(ValueError, match=message):
                hand.finger_move_arc(angles)
        with pytest.raises(ValueError, match=info.counts_taken):
            hand.finger_move_arc([0.0] * 3)

    assert frames_after(simulated, hand, refusals) == 0


@pytest.mark.parametrize("info", MODELS, ids=IDS)
def test_hand_classes_check_as_the_facade_does(info: ModelInfo) -> None:
    bus = new_bus()
    with SimulatedHand(info.model, velmora.LEFT, bus):
        hand = velmora.HandFactory.create_hand(info.model, velmora.LEFT, bus, 1000000)
        assert hand is not None
        with hand:
            assert type(hand).__name__ == info.class_name and hand.channel == bus
            assert hand.side == velmora.LEFT and hand.model in (info.model, velmora.KESTA)
            with pytest.raises(ValueError, match=info.counts_taken):
                hand.set_joint_positions([1])
            for name, setting in [("set_current", Setting.CURRENTS),
                                  ("set_motor_enable", Setting.MOTOR_SWITCH)]:
                if velmora.models.setting_counts(info.model, setting):
                    continue
                with pytest.raises(velmora.UnsupportedFeatureException):
                    getattr(hand, name)([1] * 5)
        assert hand.closed


def test_close_with_and_repr() -> None:
    bus = new_bus()
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, bus) as simulated:
        with velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, bus) as hand:
            hand.read_state(2.0)
            assert repr(hand) == f"<VelmoraApi tovin right on {bus}, answering>"
            assert not hand.closed and hand.side == velmora.RIGHT and hand.channel == bus
        assert hand.closed
        assert repr(hand) == f"<VelmoraApi tovin right on {bus}, closed>"
        calls: List[Callable[[], Any]] = [hand.get_state, hand.read_state, hand.health,
                                          lambda: hand.finger_move([0] * 10)]
        for call in calls:
            with pytest.raises(velmora.HandClosedException, match="VelmoraApi is closed"):
                call()
        hand.close()  # twice is harmless
        simulated.set_silent(True)
        silent = velmora.VelmoraApi(velmora.TOVIN, velmora.LEFT, bus)
        assert repr(silent).endswith(", silent>")
        silent.close()


def test_close_from_another_thread_ends_a_waiting_read() -> None:
    import threading
    bus = new_bus()
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, bus) as simulated:
        simulated.set_silent(True)
        hand = velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, bus)
        raised: List[BaseException] = []

        def read() -> None:
            try:
                hand.read_state(30.0)
            except BaseException as e:  # noqa: B902
                raised.append(e)

        reader = threading.Thread(target=read)
        reader.start()
        time.sleep(0.1)  # lets the read start waiting; the test holds without it as well
        start = time.monotonic()
        hand.close()
        reader.join(10.0)
        assert not reader.is_alive() and time.monotonic() - start < 5.0
        assert [type(e) for e in raised] == [velmora.HandClosedException]


CTRL_C = """
import sys, time, velmora
from velmora.sim import SimulatedHand
with SimulatedHand(velmora.TOVIN, velmora.RIGHT, "virtual:can-sigint") as simulated:
    simulated.set_silent(True)
    hand = velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, "virtual:can-sigint")
    print("reading", flush=True)
    try:
        hand.read_state(5.0)
    except KeyboardInterrupt:
        print("interrupted", time.monotonic(), flush=True)
    hand.close()
"""


def test_ctrl_c_ends_a_five_second_read_at_once() -> None:
    child = subprocess.Popen([sys.executable, "-c", CTRL_C], stdout=subprocess.PIPE, text=True,
                             env=dict(os.environ))
    try:
        assert child.stdout is not None
        assert child.stdout.readline() == "reading\n"
        time.sleep(0.3)  # into the wait; an earlier signal ends the read all the same
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        line = child.stdout.readline().split()
        assert child.wait(30) == 0
    finally:
        child.kill()
    assert line[0] == "interrupted"
    # The wait checks for signals every 20 ms; the bound leaves room for a loaded machine.
    print(f"KeyboardInterrupt {float(line[1]) - sent:.3f} s after SIGINT")
    assert float(line[1]) - sent < 2.0


def test_messages_go_to_logging(caplog: pytest.LogCaptureFixture) -> None:
    velmora.log_to_logging()
    caplog.set_level(logging.INFO, logger="velmora")
    bus = new_bus()
    with SimulatedHand(velmora.TOVIN, velmora.RIGHT, bus):
        velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, bus).close()
    velmora.range_to_arc(8, "left", [0] * 8)
    records = [(r.name, r.levelno, r.getMessage()) for r in caplog.records]
    assert ("velmora", logging.INFO, f"CAN interface {bus} opened successfully") in records
    assert records[-1] == ("velmora", logging.ERROR,
                           "Error: Invalid joints_type or left_or_right parameter.")
    velmora.log_to_stdout()
    caplog.clear()
    velmora.range_to_arc(8, "left", [0] * 8)
    assert caplog.records == []
    velmora.log_to_logging()


def test_a_missing_interface_names_itself_and_its_errno() -> None:
    with pytest.raises(velmora.ChannelError) as caught:
        velmora.VelmoraApi(velmora.TOVIN, velmora.RIGHT, "can-py-missing9")
    error = caught.value
    assert isinstance(error, OSError) and error.errno and error.interface == "can-py-missing9"
    assert str(error).startswith("can-py-missing9: ")
    assert str(error).endswith(f" (errno {error.errno})")
    assert error.strerror == os.strerror(error.errno)


def stub_docs() -> Dict[str, str]:
    """Docstrings of the stub's classes and methods, by qualified name (first overload)."""
    tree = ast.parse((Path(velmora.__file__).parent / "__init__.pyi").read_text())
    docs: Dict[str, str] = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            docs.setdefault(node.name, ast.get_docstring(node) or "")
            for item in node.body:
                if isinstance(item, ast.FunctionDef) and ast.get_docstring(item):
                    docs.setdefault(f"{node.name}.{item.name}", ast.get_docstring(item) or "")
        elif isinstance(node, ast.FunctionDef):
            docs.setdefault(node.name, ast.get_docstring(node) or "")
    return docs


def test_help_shows_the_stubs_documentation() -> None:
    docs = stub_docs()
    assert len(docs) > 140
    for name, text in docs.items():
        target: Any = velmora
        for part in name.split("."):
            target = getattr(target, part)
        assert target.__doc__ and text.splitlines()[0] in target.__doc__, name
    page = pydoc.plain(pydoc.render_doc(velmora.VelmoraApi))
    for expected in ["finger_move(self: velmora._velmora.VelmoraApi, positions: velmora.ByteArg)",
                     "timeout: velmora.Duration", "ravel: takes 5 values", "Ctrl-C ends the wait",
                     "HandClosedException"]:
        assert expected in page, expected
    assert np.array_equal(velmora.models.setting_counts(velmora.TOVIN, Setting.SPEEDS), [5, 10])
