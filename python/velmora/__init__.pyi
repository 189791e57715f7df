"""Drive dexterous robot hands over CAN: the velmora SDK from Python.

Names follow the C++ API in snake_case (fingerMove -> finger_move); state comes back as NumPy
arrays. Wrong input raises before anything is sent: TypeError for a value of the wrong kind,
ValueError for a wrong length (the message names what the model takes), a byte outside 0..255,
and an angle that is NaN, infinite or outside its joint's limits; UnsupportedFeatureException for
an operation the model lacks. The library's messages go to logging.getLogger("velmora")
(log_to_stdout() sends them back to standard output). velmora.sim holds the simulated hands,
velmora.models what each hand model is; `python3 -m velmora.plot trace.csv` draws a trace of
`velmora state --follow --csv`.

These stubs are also where the module's docstrings are written: the build copies them into
the binding, so help() shows what an editor shows.
"""

import asyncio
import datetime
from types import TracebackType
from typing import (
    Any, Callable, ClassVar, Dict, List, Optional, Sequence, Tuple, Type, Union, overload
)

import numpy as np
import numpy.typing as npt

from . import models as models
from . import sim as sim

__version__: str

def version() -> str:
    """The version of the velmora library in use ("1.0.0")."""

Bytes = npt.NDArray[np.uint8]
Radians = npt.NDArray[np.float64]
# Anything with integers 0..255: a list, a tuple, bytes, an integer array.
ByteArg = Union[Sequence[int], npt.NDArray[np.integer[Any]], bytes]
RadianArg = Union[Sequence[float], npt.NDArray[Union[np.floating[Any], np.integer[Any]]]]
# Rows of equal length as a 2-D array, ragged rows as a list of 1-D arrays.
Matrix = Union[Bytes, List[Bytes]]
# (fingers, rows, values), or one Matrix per finger when their shapes differ.
Force = Union[Bytes, List[Matrix]]
Duration = Union[datetime.timedelta, float]
# A hand's CAN identifier: a Side or its value.
HandId = Union["Side", int]

# Enumerations behave as pybind11 enums: members are class attributes with .name and .value,
# __members__ maps names to members; the C++ enumerators are written in upper case.

class Model:
    """Hand models (C++ enum VELMORA); velmora.models.info(model) tells what each is."""

    KESTA_ALT: ClassVar[Model]  # value 0
    KESTA: ClassVar[Model]  # value 1
    MARLO: ClassVar[Model]  # value 2
    TOVIN: ClassVar[Model]  # value 3
    RAVEL: ClassVar[Model]  # value 4
    SABRE: ClassVar[Model]  # value 5
    ZENIT: ClassVar[Model]  # value 6
    __members__: ClassVar[Dict[str, Model]]
    def __init__(self, value: int) -> None: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

KESTA_ALT: Model
KESTA: Model
MARLO: Model
TOVIN: Model
RAVEL: Model
SABRE: Model
ZENIT: Model

class Side:
    """Hand side; the value is also the hand's CAN identifier (RIGHT 0x27, LEFT 0x28)."""

    RIGHT: ClassVar[Side]  # value 0x27
    LEFT: ClassVar[Side]  # value 0x28
    __members__: ClassVar[Dict[str, Side]]
    def __init__(self, value: int) -> None: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

RIGHT: Side
LEFT: Side

class Comm:
    """Transport (C++ enum COMM_TYPE): CAN0 opens can0, CAN1 can1, ETHERCAT the interface ethercat; MODBUS is refused."""

    CAN0: ClassVar[Comm]  # value 0
    CAN1: ClassVar[Comm]  # value 1
    MODBUS: ClassVar[Comm]  # value 2
    ETHERCAT: ClassVar[Comm]  # value 3
    __members__: ClassVar[Dict[str, Comm]]
    def __init__(self, value: int) -> None: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

CAN0: Comm
CAN1: Comm
MODBUS: Comm
ETHERCAT: Comm

class Reading:
    """The kinds of state a fresh read returns (read_fresh)."""

    POSITIONS: ClassVar[Reading]  # value 0
    SPEEDS: ClassVar[Reading]  # value 1
    TORQUES: ClassVar[Reading]  # value 2
    CURRENTS: ClassVar[Reading]  # value 3
    TEMPERATURES: ClassVar[Reading]  # value 4
    FAULTS: ClassVar[Reading]  # value 5
    __members__: ClassVar[Dict[str, Reading]]
    def __init__(self, value: int) -> None: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class MessageLevel:
    """How serious a message of the library is: INFO, WARNING or ERROR."""

    INFO: ClassVar[MessageLevel]  # value 0
    WARNING: ClassVar[MessageLevel]  # value 1
    ERROR: ClassVar[MessageLevel]  # value 2
    __members__: ClassVar[Dict[str, MessageLevel]]
    def __init__(self, value: int) -> None: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class HandError:
    """Error codes carried by HandException.code."""

    UNSUPPORTED_FEATURE: ClassVar[HandError]  # value 1
    HAND_TIMEOUT: ClassVar[HandError]  # value 2
    __members__: ClassVar[Dict[str, HandError]]
    def __init__(self, value: int) -> None: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class HandException(RuntimeError):
    """Base of the library's own exceptions; code says which (HandError)."""

    code: HandError

class UnsupportedFeatureException(HandException):
    """An operation the hand model does not provide; nothing was sent. feature_name is the C++
    operation ("setCurrent"), str() "Unsupported feature: setCurrent"."""

    feature_name: str

class HandTimeoutException(HandException):
    """A fresh read whose replies did not all arrive in time; the message names the hand and the
    reply codes still missing."""

class HandClosedException(HandException):
    """A call on a VelmoraApi or hand object after its close() ("VelmoraApi is closed"). It
    carries no code."""

class ChannelError(OSError):
    """A CAN channel that could not be opened: errno and strerror as for any OSError, interface
    the name it was opened with; str() is, for example, "can9: no such CAN interface (errno 19)"."""

    interface: str

class HandMismatchException(HandException):
    """The hand reports another model or side than the hand object was built for.

    The message names the identifier, the report and the model asked for."""

TOUCH_TYPE_MATRIX: int
TOUCH_PAGE_REQ: int

def range_to_arc(joints_type: int, left_or_right: str, hand_range: ByteArg) -> Radians:
    """Radians from range bytes (0..255), one per slot of the layout joints_type (7, 10, 20, 21
    or 25) for the side "left" or "right"; empty, with an error message, for a key or side
    without tables or a length that is not the layout's."""

def arc_to_range(joints_type: int, left_or_right: str, hand_arc: RadianArg) -> Bytes:
    """Range bytes from radians, each angle clamped to its joint's limits; empty for a key or
    side without tables (with a message) or a wrong length (silently)."""

def initialize_params(
    joints_type: int, left_or_right: str
) -> Optional[Tuple[Radians, Radians, npt.NDArray[np.intc]]]:
    """(min, max, derict): the limit tables in radians and each joint's direction (1 or -1) of
    a key and side, or None when there are none."""

def should_skip_joint(joints_type: int, joint_index: int) -> bool:
    """True for a slot of the layout that carries no joint and is never converted."""

def scale_value(value: float, in_min: float, in_max: float, out_min: float, out_max: float) -> float:
    """value mapped linearly from [in_min, in_max] onto [out_min, out_max], unclamped."""

def is_within_range(value: float, min: float, max: float) -> float:
    """Despite the name: value clamped to [min, max] (NaN gives min)."""

def set_message_sink(sink: Optional[Callable[[MessageLevel, str], object]]) -> None:
    """Routes every message of the library to sink(level, text), called from whatever thread
    writes it (a hand's receive thread, say), with the GIL held; an exception in it is reported
    as unraisable. None restores standard output and error, as log_to_stdout() does."""

def reset_message_sink() -> None:
    """Sends the library's messages to standard output or standard error again, each to the one
    it always went to (what log_to_stdout() does)."""

def log_to_stdout() -> None:
    """Sends the library's messages to standard output and error instead of logging, as a C++
    program sees them."""

def log_to_logging() -> None:
    """Sends the library's messages to logging.getLogger("velmora") again, as after import:
    INFO, WARNING and ERROR at the logging levels of those names."""

class HandHealth:
    """What a hand object knows about its link to the hand (health()); counters only grow."""

    def __init__(self) -> None:
        """All zero, as a hand object starts."""
    @property
    def frames_received(self) -> int:
        """Frames of this hand's identifier taken in by the receive thread."""
    @property
    def frames_ignored(self) -> int:
        """Frames of other identifiers read and dropped."""
    @property
    def send_failures(self) -> int:
        """Frames whose write to the channel failed."""
    @property
    def receive_errors(self) -> int:
        """Failed reads other than the receive time-out."""
    @property
    def last_frame_age(self) -> Optional[datetime.timedelta]:
        """Time since the last frame from the hand; None before the first one."""
    @property
    def channel_up(self) -> bool:
        """False while the interface is gone or down."""
    @property
    def reconnects(self) -> int:
        """Times the channel was opened again after its interface came back."""
    @property
    def frames_dropped(self) -> int:
        """Frames lost because the channel's receive queue was full (0 where it cannot tell)."""
    @property
    def identity_checked(self) -> bool:
        """True once identity() has compared the hand's report with the model."""
    @property
    def model_mismatch(self) -> bool:
        """True when the hand's report contradicted the model (or side) last time it was asked."""
    @property
    def mismatch(self) -> str:
        """Why the report contradicted the model ("it is a tovin, not a zenit"); "" otherwise."""

class VelmoraApi:
    """The object an application holds to drive one hand.

    Commands leave at once as CAN frames, paced a few milliseconds apart; getters send their
    requests and return what the hand's latest replies left (empty before the first reply),
    without waiting; the read_* calls wait for the answers to their own requests. Every call
    releases the GIL, and any thread may call. Wrong input raises before anything is sent (see
    the module's documentation). close() (or leaving a `with` block) stops the hand's receive
    thread and closes its channel; every call after it raises HandClosedException.
    """

    DEFAULT_READ_TIMEOUT: ClassVar[datetime.timedelta]
    @overload
    def __init__(self, model: Model, side: Side, comm_type: Comm = ...) -> None:
        """Opens the transport's interface (CAN0: can0, CAN1: can1, ETHERCAT: ethercat) at
        1000000 bit/s and starts the hand's receive thread; takes some milliseconds.

        Raises ChannelError when the interface cannot be opened, RuntimeError for MODBUS.
        """
    @overload
    def __init__(self, model: Model, side: Side, channel: str, bit_rate: int = 1000000) -> None:
        """Opens the named channel: a SocketCAN interface ("can0") brought up at bit_rate (bit/s)
        if it is down, or "virtual:NAME", an in-process bus for simulated hands.

        Raises ValueError for a name without "can" in it ("Unsupported channel: eth0"),
        ChannelError when the interface cannot be opened.
        """
    def close(self) -> None:
        """Stops the hand's receive thread and closes its channel (at once; a read waiting in
        another thread ends with HandClosedException). Closing twice is harmless."""
    def __enter__(self) -> "VelmoraApi":
        """The object itself: `with VelmoraApi(...) as hand:` closes it at the end."""
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc_value: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> bool:
        """close(); exceptions pass on."""
    def __repr__(self) -> str:
        """<VelmoraApi tovin right on can0, answering>: model, side, channel, and whether the hand
        answers (answering, silent, last answered N s ago, channel down or closed)."""
    @property
    def closed(self) -> bool:
        """True after close()."""
    @property
    def model(self) -> Model:
        """The model it was opened for."""
    @property
    def side(self) -> Side:
        """The side it was opened for (the hand's CAN identifier)."""
    @property
    def channel(self) -> str:
        """The channel's name ("can0", "virtual:can0")."""
    def finger_move(self, positions: ByteArg) -> None:
        """Moves the joints: one position per joint (0..255), in the order `get_state` shows
        them, or one per slot (velmora.models.info(model): joints and slots).

        Raises ValueError for another count, naming what the model takes.
        """
    def finger_move_arc(self, positions: RadianArg) -> None:
        """Moves the joints to angles in radians, one per joint or one per slot.

        Raises ValueError for another count, for NaN or an infinite angle and for an angle
        outside its joint's limits (velmora.initialize_params); UnsupportedFeatureException
        ("fingerMoveArc") for a model without joint-angle tables (the 6-actuator hand).
        """
    def set_speed(self, speeds: ByteArg) -> None:
        """Joint speeds, 0..255; how many values the model takes is listed below.

        Raises ValueError for another count, UnsupportedFeatureException where the model has
        none.
        """
    def set_torque(self, torques: ByteArg) -> None:
        """Joint torque limits, 0..255; how many values the model takes is listed below.

        Raises ValueError for another count, UnsupportedFeatureException where the model has
        none (the 20-joint hand).
        """
    def get_speed(self) -> Bytes:
        """The speeds of the hand's latest reply (uint8); sends the request, does not wait."""
    def get_state(self) -> Bytes:
        """The joint positions (uint8, one per slot) of the hand's latest reply; sends the
        request, does not wait (read_state waits)."""
    def get_state_arc(self) -> Radians:
        """get_state in radians (float64, one per slot).

        Raises UnsupportedFeatureException ("getStateArc") for a model without joint-angle
        tables.
        """
    def get_force(self) -> Force:
        """The fingertip sensors: (fingers, rows, values) uint8, (5, 12, 6) for matrix sensors;
        a list per finger when their shapes differ."""
    def get_version(self) -> str:
        """The hand's version report as text; empty before the hand has answered."""
    def get_torque(self) -> Bytes:
        """The torques of the hand's latest reply (uint8).

        Raises UnsupportedFeatureException where the model has none.
        """
    def get_temperature(self) -> Bytes:
        """The motor temperatures (°C, uint8) of the hand's latest reply.

        Raises UnsupportedFeatureException where the model has none.
        """
    def get_fault_code(self) -> Bytes:
        """The fault codes (uint8, 0: none) of the hand's latest reply."""
    def get_current(self) -> Bytes:
        """The motor currents (uint8) of the hand's latest reply.

        Raises UnsupportedFeatureException where the model has none.
        """
    def set_current(self, currents: ByteArg) -> None:
        """Motor currents, 0..255: the 20-joint hand (RAVEL) only.

        Raises UnsupportedFeatureException ("setCurrent") for every other model, ValueError for a
        wrong count.
        """
    def clear_fault_code(self, codes: ByteArg) -> None:
        """Clears the faults named per finger: the 20-joint hand (RAVEL) only.

        Raises UnsupportedFeatureException ("clearFaultCode") for every other model, ValueError
        for a wrong count.
        """
    def set_enable(self, motors: ByteArg) -> None:
        """Enables motors (bytes for the hand to judge): the 25-joint hand (ZENIT) only.

        Raises UnsupportedFeatureException ("setEnable") for every other model, ValueError for
        more bytes than one frame holds.
        """
    def set_disable(self, motors: ByteArg) -> None:
        """Disables motors: the 25-joint hand (ZENIT) only, as set_enable."""
    def health(self) -> HandHealth:
        """Counters and ages of the link to the hand; never blocks, never sends."""
    def read_state(self, timeout: Duration = ...) -> Bytes:
        """The joint positions (uint8, one per slot) from replies to this call's own requests.

        Blocks until they are in, at most timeout (a timedelta or seconds; 200 ms by default);
        Ctrl-C ends the wait within 50 ms with KeyboardInterrupt. Raises HandTimeoutException
        when the hand does not answer in time.
        """
    def read_state_arc(self, timeout: Duration = ...) -> Radians:
        """read_state in radians (float64, one per slot); blocks as read_state.

        Raises UnsupportedFeatureException ("readStateArc") for a model without joint-angle
        tables, HandTimeoutException as read_state.
        """
    def read_fresh(self, what: Reading, timeout: Duration = ...) -> Bytes:
        """One kind of state (positions, speeds, ...) from replies to this call's own requests,
        in the layout of its getter; blocks as read_state.

        Raises UnsupportedFeatureException for a reading the model lacks
        (velmora.models.info(model).reports(what)), HandTimeoutException as read_state.
        """
    def identity(self, timeout: Duration = ...) -> HandIdentity:
        """What the hand reports it is, from its version answers (300 ms by default).

        Raises HandMismatchException when the report contradicts the model or side this object
        was opened for, HandTimeoutException when the hand does not answer in time.
        """

class IHand:
    """The interface through which every hand model is driven: the model classes below, and
    what HandFactory.create_hand returns. As VelmoraApi: calls release the GIL, wrong input
    raises before anything is sent, close() or `with` ends the hand object."""

    def close(self) -> None:
        """Stops the hand's receive thread and closes its channel; every later call raises
        HandClosedException."""
    def __enter__(self) -> "IHand":
        """The object itself, closed at the end of the `with` block."""
    def __exit__(
        self,
        exc_type: Optional[Type[BaseException]],
        exc_value: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> bool:
        """close(); exceptions pass on."""
    def __repr__(self) -> str:
        """<TovinHand tovin right on can0, answering>, as VelmoraApi's."""
    @property
    def closed(self) -> bool:
        """True after close()."""
    @property
    def model(self) -> Model:
        """The model of the class (KESTA for KestaHand, SABRE for ZenitHand variant 1)."""
    @property
    def side(self) -> HandId:
        """The hand's CAN identifier, as a Side when it is one."""
    @property
    def channel(self) -> str:
        """The channel's name."""
    def set_joint_positions(self, positions: ByteArg) -> None:
        """Moves the joints: one position (0..255) per joint or one per slot; ValueError for
        another count."""
    def set_joint_position_arc(self, positions: RadianArg) -> None:
        """Moves the joints to angles in radians, as VelmoraApi.finger_move_arc (and raises as
        it does, naming "setJointPositionArc")."""
    def get_speed(self) -> Bytes:
        """The speeds of the latest reply; does not wait."""
    def set_speed(self, speeds: ByteArg) -> None:
        """Joint speeds, 0..255, as many as listed below; ValueError for another count."""
    def get_current_status(self) -> Bytes:
        """The joint positions of the latest reply (one per slot); does not wait."""
    def get_current_status_arc(self) -> Radians:
        """get_current_status in radians; UnsupportedFeatureException without joint-angle
        tables."""
    def get_fault_code(self) -> Bytes:
        """The fault codes of the latest reply."""
    def get_current(self) -> Bytes:
        """The motor currents of the latest reply; UnsupportedFeatureException where the model
        has none."""
    @overload
    def get_force(self, which: int) -> Matrix:
        """The rows of one fingertip sensor (which: 0 thumb .. 4 little)."""
    @overload
    def get_force(self) -> Force:
        """Every fingertip sensor: (fingers, rows, values)."""
    def get_thumb_force(self) -> Bytes:
        """The thumb's summary sensor values."""
    def get_index_force(self) -> Bytes:
        """The index finger's summary sensor values."""
    def get_middle_force(self) -> Bytes:
        """The middle finger's summary sensor values."""
    def get_ring_force(self) -> Bytes:
        """The ring finger's summary sensor values."""
    def get_little_force(self) -> Bytes:
        """The little finger's summary sensor values."""
    def get_normal_force(self) -> Bytes:
        """Normal force per finger, thumb first."""
    def get_tangential_force(self) -> Bytes:
        """Tangential force per finger."""
    def get_tangential_force_dir(self) -> Bytes:
        """Direction of the tangential force per finger."""
    def get_approach_inc(self) -> Bytes:
        """Approach (proximity) per finger."""
    def set_torque(self, torques: ByteArg) -> None:
        """Joint torque limits, 0..255, as many as listed below."""
    def get_torque(self) -> Bytes:
        """The torques of the latest reply."""
    def get_temperature(self) -> Bytes:
        """The motor temperatures (°C) of the latest reply."""
    def get_version(self) -> str:
        """The hand's version report as text."""
    def get_uid(self) -> Bytes:
        """The hand's unique identifier bytes; UnsupportedFeatureException where it has none."""
    def get_rotor_lock_count(self) -> Bytes:
        """Rotor lock counts per motor; UnsupportedFeatureException where there are none."""
    def clear_fault_code(self, codes: ByteArg) -> None:
        """Clears faults, as many values as listed below."""
    def set_current(self, currents: ByteArg) -> None:
        """Motor currents, 0..255, as many as listed below."""
    def set_motor_enable(self, motors: ByteArg) -> None:
        """Enables motors: bytes for the hand to judge, as many as listed below."""
    def set_motor_disable(self, motors: ByteArg) -> None:
        """Disables motors, as set_motor_enable."""
    @overload
    def get_sub_vector(self, reply: ByteArg) -> Bytes:
        """The reply without its command byte (empty below two bytes)."""
    @overload
    def get_sub_vector(self, first: ByteArg, second: ByteArg) -> Bytes:
        """Both replies without their command bytes, joined."""
    def get_current_time(self) -> str:
        """Local time as "YYYY-MM-DD HH:MM:SS.mmm"."""
    def health(self) -> HandHealth:
        """Counters and ages of the link to the hand; never blocks."""
    def reply_age(self, code: int) -> Optional[datetime.timedelta]:
        """Age of the hand's last reply of a command code; None when none came."""
    def read_fresh(self, what: Reading, timeout: Duration) -> Bytes:
        """As VelmoraApi.read_fresh: blocks at most timeout, Ctrl-C ends it within 50 ms."""
    def read_state(self, timeout: Duration) -> Bytes:
        """As VelmoraApi.read_state: blocks at most timeout, Ctrl-C ends it within 50 ms."""
    def read_state_arc(self, timeout: Duration) -> Radians:
        """As VelmoraApi.read_state_arc."""
    def identity(self, timeout: Duration = ...) -> HandIdentity:
        """As VelmoraApi.identity."""

class KestaHand(IHand):
    """The 6-actuator hand (KESTA, KESTA_ALT): no joint-angle tables."""

    def __init__(self, hand_id: HandId, can_channel: str, bitrate: int) -> None:
        """Opens can_channel at bitrate (bit/s) for the hand of CAN identifier hand_id; raises
        ChannelError when it cannot."""
    def request_device_info(self) -> None:
        """Asks for software version, serial number, hardware and mechanical versions (blocks
        for some tens of milliseconds)."""
    def set_acceleration(self, accelerations: ByteArg) -> None:
        """Accelerations, 0..255, one per actuator."""
    def get_acceleration(self) -> Bytes:
        """The accelerations of the latest reply."""
    def re_home(self) -> None:
        """Moves every actuator to its home position."""
    def factory_reset(self) -> None:
        """Restores the factory parameters."""
    def save_parameters(self) -> None:
        """Stores the current parameters in the hand."""
    def get_serial_number(self) -> str:
        """The serial number (after request_device_info)."""
    def get_hardware_version(self) -> str:
        """The hardware version (after request_device_info)."""
    def get_mechanical_version(self) -> str:
        """The mechanical version (after request_device_info)."""
    def parse_serial_number(self, frame: ByteArg) -> None:
        """Takes a serial-number reply frame as the hand's."""

class MarloHand(IHand):
    """The 7-joint hand."""

    def __init__(self, hand_id: HandId, can_channel: str, bitrate: int) -> None:
        """Opens can_channel at bitrate (bit/s) for the hand of CAN identifier hand_id."""

class TovinHand(IHand):
    """The 10-joint hand."""

    def __init__(self, hand_id: HandId, can_channel: str, bitrate: int) -> None:
        """Opens can_channel at bitrate (bit/s) for the hand of CAN identifier hand_id."""
    def request_all_status(self) -> Bytes:
        """Asks for every kind of state at once; the positions of the latest reply."""

class RavelHand(IHand):
    """The 20-joint hand."""

    def __init__(self, hand_id: HandId, can_channel: str, bitrate: int) -> None:
        """Opens can_channel at bitrate (bit/s) for the hand of CAN identifier hand_id."""

class ZenitHand(IHand):
    """The 25-joint hand (variant 0, ZENIT) and its 21-joint variant (variant 1, SABRE)."""

    def __init__(self, hand_id: HandId, can_channel: str, bitrate: int, variant: int) -> None:
        """Opens can_channel at bitrate (bit/s) for the hand of CAN identifier hand_id."""
    def state_to_cmd(self, state: ByteArg) -> Bytes:
        """A state vector (30 slots, 6 per finger) in command order (25 joints)."""
    def get_comm_id(self) -> Bytes:
        """The CAN identifier the hand reports."""
    def factory_reset(self) -> None:
        """Restores the factory parameters."""
    def save_parameter(self) -> None:
        """Stores the current parameters in the hand."""

class HandFactory:
    """Builds the hand object (a KestaHand, ... ZenitHand) for a model, a side and a transport."""

    @overload
    @staticmethod
    def create_hand(model: Model, hand_type: HandId, comm_type: Comm) -> Optional[IHand]:
        """Opens the transport's interface at 1000000 bit/s. Raises ValueError ("Unsupported hand
        type", "Unknown comm type", "Unknown hand type"), RuntimeError for MODBUS, ChannelError."""
    @overload
    @staticmethod
    def create_hand(model: Model, hand_type: HandId, channel: str, bit_rate: int) -> Optional[IHand]:
        """Opens the named channel when its name contains "can" (any case); None for any other
        name."""
    @staticmethod
    def to_lower(text: str) -> str:
        """text in lower case (ASCII)."""
    @staticmethod
    def contains_ignore_case(text: str, needle: str) -> bool:
        """True when text contains needle, ignoring case."""

class CanMessage:
    """One received frame; all zero for a frame of another identifier."""

    @property
    def id(self) -> int:
        """The frame's CAN identifier."""
    @property
    def len(self) -> int:
        """Data bytes in the frame, 0..8."""
    @property
    def data(self) -> Bytes:
        """The frame's data bytes."""

class VirtualCanBus:
    """An endpoint of an in-process CAN bus ("virtual:NAME" channels), as a socket on a vcan
    interface: every other endpoint of the bus gets a copy of each frame it sends."""

    QUEUE_CAPACITY: ClassVar[int]
    @overload
    def __init__(self, bus_name: str) -> None:
        """A peer endpoint without pacing."""
    @overload
    def __init__(self, bus_name: str, model: Model) -> None:
        """An endpoint paced as a CAN channel of that model."""
    def send(self, data: ByteArg, can_id: HandId, flag: bool = False) -> None:
        """Sends one frame of at most 8 data bytes to identifier can_id."""
    def recv(self, can_id: HandId) -> CanMessage:
        """The next frame (all zero when it is not can_id's); blocks up to the receive time-out
        (1 s), then raises RuntimeError."""
    def set_receive_timeout(self, seconds: int, microseconds: int) -> None:
        """How long recv waits."""
    @property
    def bus_name(self) -> str:
        """The bus's name, without "virtual:"."""
    def dropped_frames(self) -> int:
        """Frames dropped because the endpoint's queue was full."""

class HandIdentity:
    """A hand that answered a scan or identity(): what its version answers say it is."""
    @property
    def identifier(self) -> int:
        """The CAN identifier it answered from (0x27 right, 0x28 left)."""
    @property
    def side(self) -> int:
        """Its side: the side it reported, else its identifier."""
    @property
    def side_reported(self) -> bool:
        """True when the hand itself reported its side."""
    @property
    def candidates(self) -> List[Model]:
        """The models its answers fit, most likely first; empty when none does."""
    @property
    def firmware(self) -> str:
        """Its firmware version as reported ("" when not)."""
    @property
    def hardware(self) -> str:
        """Its hardware version as reported ("" when not)."""
    @property
    def degrees_of_freedom(self) -> int:
        """Joints it reported (0 when its answers carry none)."""
    @property
    def degrees_reported(self) -> bool:
        """True when the answers carried the degrees of freedom."""
    @property
    def latency(self) -> datetime.timedelta:
        """Time from the first request to its first answer."""
    @property
    def complete(self) -> bool:
        """True when every answer came whole."""
    @property
    def model(self) -> Optional[Model]:
        """The one model its answers fit; None when several or none do."""
    def fits(self, model: Model) -> bool:
        """True when the answers fit the model."""
    def reported(self) -> str:
        """What it reported, in words ("10 joints and right side")."""
    def model_text(self) -> str:
        """The candidates in words ("a tovin", "a sabre or zenit")."""

def scan(channel: str, timeout: Duration = ..., bit_rate: int = 1000000) -> List[HandIdentity]:
    """The hands on a channel: sends only version requests, to both identifiers, and returns
    those that answered within timeout (300 ms by default); blocks that long at most."""
def contradiction(identity: HandIdentity, model: Model, side: int) -> str:
    """Why the identity contradicts model and side ("it is a tovin, not a zenit"); "" when it
    fits."""

# HandStream: a control loop's link to a hand that never waits for the bus.

class StampedReading:
    """One reading with the time its last frame came in."""
    @property
    def reading(self) -> Reading:
        """Which reading it is (positions, temperatures, ...)."""
    @property
    def values(self) -> Bytes:
        """The values (uint8), in the layout of the reading's getter."""
    @property
    def received(self) -> float:
        """Receive time on the monotonic clock, as time.monotonic() counts it."""
    @property
    def received_time(self) -> float:
        """Receive time on the system clock, as time.time() counts it."""
    @property
    def sequence(self) -> int:
        """A number that rises with every reading of this kind."""
    @property
    def age(self) -> float:
        """Seconds between the reading's arrival and the moment this copy was taken."""

class StreamReadingHealth:
    """How one reading of a stream keeps up."""
    @property
    def requested_rate(self) -> float:
        """Readings a second asked for (0: as often as the budget allows)."""
    @property
    def achieved_rate(self) -> float:
        """Readings a second over the last second."""
    @property
    def readings(self) -> int:
        """Readings received since the stream began."""
    @property
    def cycle_cost(self) -> float:
        """Seconds of pacing one request cycle of this reading takes."""

class HandStreamHealth:
    """What a stream has done with the hand's send budget."""
    @property
    def frames_per_second(self) -> float:
        """Frames sent over the last second."""
    @property
    def frame_limit_per_second(self) -> float:
        """The most frames a second the pacing allows."""
    @property
    def budget_used(self) -> float:
        """Share of the last second the channel spent pacing frames (0..1)."""
    @property
    def frames_sent(self) -> int:
        """Frames sent since the stream began."""
    @property
    def commands_sent(self) -> int:
        """Command frames sent."""
    @property
    def commands_superseded(self) -> int:
        """Command frames replaced by a newer target before they left."""
    @property
    def commands_unchanged(self) -> int:
        """Command frames not sent again because their values had not changed."""
    @property
    def keep_alives_sent(self) -> int:
        """Unchanged command frames sent again after the keep-alive period."""
    @property
    def readings(self) -> Dict[Reading, StreamReadingHealth]:
        """Each streamed reading's rates."""

class HandStream:
    """A control loop's link to one hand: command() and latest() return at once, the newest
    command wins, and readings carry their receive time. Streams of one hand share its pacing."""
    def __init__(
        self,
        hand: Union[VelmoraApi, IHand],
        rate: Optional[float] = None,
        temperatures: Optional[float] = None,
        faults: Optional[float] = None,
        rates: Optional[Dict[Reading, Optional[float]]] = None,
        keep_alive: Duration = 1.0,
    ) -> None:
        """Starts streaming: positions at `rate` a second (default: every free slot),
        temperatures and faults at 1 Hz unless given; `rates` sets any reading (None: off).
        Raises ValueError for a negative or NaN rate, UnsupportedFeatureException for a reading
        the model lacks."""
    def command(self, positions: ByteArg) -> None:
        """A target per slot (or per joint), 0..255; returns at once, the newest wins.
        Raises ValueError for another count."""
    def command_arc(self, angles: RadianArg) -> None:
        """Targets in radians; returns at once. Raises ValueError for another count or a
        non-finite angle, UnsupportedFeatureException without joint-angle tables."""
    @overload
    def latest(self) -> Dict[Reading, StampedReading]:
        """The newest reading of every kind received so far."""
    @overload
    def latest(self, reading: Reading) -> Optional[StampedReading]:
        """The newest reading of that kind, or None before the first."""
    def wait(
        self,
        after: Optional[StampedReading] = None,
        timeout: Optional[Duration] = 1.0,
        reading: Reading = ...,
    ) -> Optional[StampedReading]:
        """Waits (Ctrl-C honoured) for a reading newer than `after` (default: the last one
        returned); None after timeout."""
    def next(
        self,
        after: Optional[StampedReading] = None,
        timeout: Optional[Duration] = 1.0,
        reading: Reading = ...,
    ) -> "asyncio.Future[Optional[StampedReading]]":
        """wait() for asyncio: await stream.next()."""
    def __iter__(self) -> "HandStream": ...
    def __next__(self) -> StampedReading: ...
    def set_keep_alive(self, keep_alive: Duration) -> None:
        """How long an unchanged command frame waits before it is sent again (0: never)."""
    def health(self) -> HandStreamHealth:
        """What the stream has done with the send budget; never blocks."""
    @property
    def model(self) -> Model:
        """The model of the hand it streams."""
    def close(self) -> None:
        """Stops the stream; waits in progress end at once."""
    def __enter__(self) -> "HandStream":
        """The stream itself."""
    def __exit__(self, *args: object) -> bool:
        """close()."""
