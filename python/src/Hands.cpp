#include <pybind11/chrono.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cstdint>
#include <iomanip>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

#include "Bindings.h"
#include "Convert.h"
#include "velmora/Models.h"
#include "velmora/velmora.h"

namespace velmora {
namespace python {

namespace {

using hand::IHand;
using std::chrono::milliseconds;

// Hand text (versions, serial numbers) comes from the hand's bytes and need not be UTF-8.
py::object out(const std::string& text) {
    return py::reinterpret_steal<py::object>(
        PyUnicode_DecodeUTF8(text.data(), static_cast<py::ssize_t>(text.size()), "replace"));
}
py::object out(const ByteVector& values) {
    return toArray(values);
}
py::object out(const RadianVector& values) {
    return toArray(values);
}
py::object out(const ByteMatrix& rows) {
    return toArray(rows);
}
py::object out(const ForceData& fingers) {
    return toArray(fingers);
}

// Every call into a hand may wait (paced sends, channel locks, fresh reads): each wrapper
// converts its arguments with the GIL held, calls with it released and converts the result
// with it held again. `Self` is the bound class when the method is one of its base's.
template <class C, class Self>
using BoundAs = std::conditional_t<std::is_void_v<Self>, C, Self>;

template <class Self = void, class C, class R>
auto fetch(R (C::*method)()) {
    return [method](BoundAs<C, Self>& self) {
        R result;
        {
            GilRelease release;
            result = (self.*method)();
        }
        return out(result);
    };
}

template <class Self = void, class C>
auto putBytes(void (C::*method)(const ByteVector&), const char* name) {
    return [method, name](BoundAs<C, Self>& self, const py::object& values) {
        const ByteVector bytes = toBytes(values, name);
        GilRelease release;
        (self.*method)(bytes);
    };
}

template <class Self = void, class C>
auto putRadians(void (C::*method)(const RadianVector&), const char* name) {
    return [method, name](BoundAs<C, Self>& self, const py::object& values) {
        const RadianVector radians = toRadians(values, name);
        GilRelease release;
        (self.*method)(radians);
    };
}

template <class Self = void, class C>
auto act(void (C::*method)()) {
    return [method](BoundAs<C, Self>& self) {
        GilRelease release;
        (self.*method)();
    };
}

std::string healthText(const hand::HandHealth& h) {
    std::ostringstream text;
    text << "HandHealth(frames_received=" << h.framesReceived
         << ", frames_ignored=" << h.framesIgnored << ", send_failures=" << h.sendFailures
         << ", receive_errors=" << h.receiveErrors << ", last_frame_age=";
    if (h.lastFrameAge) {
        text << std::fixed << std::setprecision(6)
             << std::chrono::duration<double>(*h.lastFrameAge).count() << " s";
    } else {
        text << "None";
    }
    text << ", channel_up=" << (h.channelUp ? "True" : "False") << ", reconnects=" << h.reconnects
         << ", frames_dropped=" << h.framesDropped << ")";
    return text.str();
}

/// The facade, knowing its model: commands given one value per joint become one per slot.
class PythonApi : public VelmoraApi {
  public:
    template <class... Args>
    PythonApi(VELMORA handModel, HAND_TYPE handSide, Args&&... args)
        : VelmoraApi(handModel, handSide, std::forward<Args>(args)...), model_(handModel) {}

    VELMORA handModel() const { return model_; }

  private:
    VELMORA model_;
};

void bindHealth(py::module_& m) {
    py::class_<hand::HandHealth>(m, "HandHealth",
                                 "What a hand object knows about its link to the hand.")
        .def(py::init<>())
        .def_readonly("frames_received", &hand::HandHealth::framesReceived)
        .def_readonly("frames_ignored", &hand::HandHealth::framesIgnored)
        .def_readonly("send_failures", &hand::HandHealth::sendFailures)
        .def_readonly("receive_errors", &hand::HandHealth::receiveErrors)
        .def_readonly("last_frame_age", &hand::HandHealth::lastFrameAge)
        .def_readonly("channel_up", &hand::HandHealth::channelUp)
        .def_readonly("reconnects", &hand::HandHealth::reconnects)
        .def_readonly("frames_dropped", &hand::HandHealth::framesDropped)
        .def("__repr__", &healthText);
}

void bindApi(py::module_& m) {
    using Api = PythonApi;
    py::class_<Api, Holder<Api>>(m, "VelmoraApi",
                                 "The object an application holds to drive one "
                                 "hand.")
        .def(py::init([](VELMORA model, HAND_TYPE side, COMM_TYPE commType) {
                 return makeReleased<Api>(model, side, commType);
             }),
             py::arg("model"), py::arg("side"), py::arg("comm_type") = CAN0,
             "Opens the transport's interface (can0, can1 or ethercat) at 1000000 bit/s.")
        .def(py::init([](VELMORA model, HAND_TYPE side, std::string channel, int bitRate) {
                 return makeReleased<Api>(model, side, std::move(channel), bitRate);
             }),
             py::arg("model"), py::arg("side"), py::arg("channel"), py::arg("bit_rate") = 1000000,
             "Opens the named channel (a SocketCAN interface, or 'virtual:NAME').")
        .def_property_readonly("model", &Api::handModel)
        .def(
            "finger_move",
            [](Api& self, const py::object& values) {
                ByteVector positions = toBytes(values, "positions");
                if (auto slots = models::perSlot(self.handModel(), positions))
                    positions = std::move(*slots);
                GilRelease release;
                self.fingerMove(positions);
            },
            py::arg("positions"),
            "One position (0..255) per joint, in the order `state` shows them, or one per slot.")
        .def(
            "finger_move_arc",
            [](Api& self, const py::object& values) {
                RadianVector positions = toRadians(values, "positions");
                if (auto slots = models::perSlot(self.handModel(), positions, 0.0))
                    positions = std::move(*slots);
                GilRelease release;
                self.fingerMoveArc(positions);
            },
            py::arg("positions"),
            "One angle (radians) per joint, in the order `state` shows them, or one per slot. A "
            "model without joint-angle tables converts none and moves nothing.")
        .def("set_speed", putBytes<Api>(&Api::setSpeed, "speeds"), py::arg("speeds"))
        .def("set_torque", putBytes<Api>(&Api::setTorque, "torques"), py::arg("torques"))
        .def("get_speed", fetch<Api>(&Api::getSpeed))
        .def("get_state", fetch<Api>(&Api::getState))
        .def("get_state_arc", fetch<Api>(&Api::getStateArc))
        .def("get_force", fetch<Api>(&Api::getForce))
        .def("get_version", fetch<Api>(&Api::getVersion))
        .def("get_torque", fetch<Api>(&Api::getTorque))
        .def("get_temperature", fetch<Api>(&Api::getTemperature))
        .def("get_fault_code", fetch<Api>(&Api::getFaultCode))
        .def("get_current", fetch<Api>(&Api::getCurrent))
        .def("set_current", putBytes<Api>(&Api::setCurrent, "currents"), py::arg("currents"))
        .def("clear_fault_code", putBytes<Api>(&Api::clearFaultCode, "codes"), py::arg("codes"))
        .def("set_enable", putBytes<Api>(&Api::setEnable, "motors"), py::arg("motors"))
        .def("set_disable", putBytes<Api>(&Api::setDisable, "motors"), py::arg("motors"))
        .def("health", &Api::health, py::call_guard<GilRelease>())
        .def(
            "read_state",
            [](Api& self, const py::object& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg, "timeout");
                ByteVector state;
                {
                    GilRelease release;
                    state = self.readState(timeout);
                }
                return toArray(state);
            },
            py::arg("timeout") = py::cast(Api::kDefaultReadTimeout))
        .def(
            "read_state_arc",
            [](Api& self, const py::object& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg, "timeout");
                RadianVector state;
                {
                    GilRelease release;
                    state = self.readStateArc(timeout);
                }
                return toArray(state);
            },
            py::arg("timeout") = py::cast(Api::kDefaultReadTimeout),
            "One angle per slot; empty, with the conversion's error message, for a model without "
            "joint-angle tables (velmora.models.info(model).has_angle_tables).")
        .def(
            "read_fresh",
            [](Api& self, hand::Reading what, const py::object& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg, "timeout");
                ByteVector values;
                {
                    GilRelease release;
                    values = self.readFresh(what, timeout);
                }
                return toArray(values);
            },
            py::arg("what"), py::arg("timeout") = py::cast(Api::kDefaultReadTimeout))
        .def_property_readonly_static("DEFAULT_READ_TIMEOUT",
                                      [](const py::object&) { return Api::kDefaultReadTimeout; });
}

void bindInterface(py::module_& m) {
    py::class_<IHand, Holder<IHand>>(m, "IHand",
                                     "The interface through which every hand model is driven.")
        .def("set_joint_positions", putBytes(&IHand::setJointPositions, "positions"),
             py::arg("positions"))
        .def("set_joint_position_arc", putRadians(&IHand::setJointPositionArc, "positions"),
             py::arg("positions"))
        .def("get_speed", fetch(&IHand::getSpeed))
        .def("set_speed", putBytes(&IHand::setSpeed, "speeds"), py::arg("speeds"))
        .def("get_current_status", fetch(&IHand::getCurrentStatus))
        .def("get_current_status_arc", fetch(&IHand::getCurrentStatusArc))
        .def("get_fault_code", fetch(&IHand::getFaultCode))
        .def("get_current", fetch(&IHand::getCurrent))
        .def(
            "get_force",
            [](IHand& self, std::int32_t which) {
                ByteMatrix rows;
                {
                    GilRelease release;
                    rows = self.getForce(which);
                }
                return out(rows);
            },
            py::arg("which"))
        .def("get_force", fetch<IHand, IHand, ForceData>(&IHand::getForce))
        .def("get_thumb_force", fetch(&IHand::getThumbForce))
        .def("get_index_force", fetch(&IHand::getIndexForce))
        .def("get_middle_force", fetch(&IHand::getMiddleForce))
        .def("get_ring_force", fetch(&IHand::getRingForce))
        .def("get_little_force", fetch(&IHand::getLittleForce))
        .def("get_normal_force", fetch(&IHand::getNormalForce))
        .def("get_tangential_force", fetch(&IHand::getTangentialForce))
        .def("get_tangential_force_dir", fetch(&IHand::getTangentialForceDir))
        .def("get_approach_inc", fetch(&IHand::getApproachInc))
        .def("set_torque", putBytes(&IHand::setTorque, "torques"), py::arg("torques"))
        .def("get_torque", fetch(&IHand::getTorque))
        .def("get_temperature", fetch(&IHand::getTemperature))
        .def("get_version", fetch(&IHand::getVersion))
        .def("get_uid", fetch(&IHand::getUID))
        .def("get_rotor_lock_count", fetch(&IHand::getRotorLockCount))
        .def("clear_fault_code", putBytes(&IHand::clearFaultCode, "codes"), py::arg("codes"))
        .def("set_current", putBytes(&IHand::setCurrent, "currents"), py::arg("currents"))
        .def("set_motor_enable", putBytes(&IHand::setMotorEnable, "motors"), py::arg("motors"))
        .def("set_motor_disable", putBytes(&IHand::setMotorDisable, "motors"), py::arg("motors"))
        .def(
            "get_sub_vector",
            [](IHand& self, const py::object& reply) {
                return toArray(self.getSubVector(toBytes(reply, "reply")));
            },
            py::arg("reply"))
        .def(
            "get_sub_vector",
            [](IHand& self, const py::object& first, const py::object& second) {
                return toArray(
                    self.getSubVector(toBytes(first, "first"), toBytes(second, "second")));
            },
            py::arg("first"), py::arg("second"))
        .def("get_current_time", fetch(&IHand::getCurrentTime))
        .def("health", &IHand::health, py::call_guard<GilRelease>())
        .def("reply_age", &IHand::replyAge, py::arg("code"), py::call_guard<GilRelease>())
        .def(
            "read_fresh",
            [](IHand& self, hand::Reading what, const py::object& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg, "timeout");
                ByteVector values;
                {
                    GilRelease release;
                    values = self.readFresh(what, timeout);
                }
                return toArray(values);
            },
            py::arg("what"), py::arg("timeout"))
        .def(
            "read_state",
            [](IHand& self, const py::object& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg, "timeout");
                ByteVector values;
                {
                    GilRelease release;
                    values = self.readState(timeout);
                }
                return toArray(values);
            },
            py::arg("timeout"))
        .def(
            "read_state_arc",
            [](IHand& self, const py::object& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg, "timeout");
                RadianVector values;
                {
                    GilRelease release;
                    values = self.readStateArc(timeout);
                }
                return toArray(values);
            },
            py::arg("timeout"));
}

void bindModels(py::module_& m) {
    using hand::KestaHand;
    using hand::MarloHand;
    using hand::RavelHand;
    using hand::TovinHand;
    using hand::ZenitHand;

    py::class_<KestaHand, IHand, Holder<KestaHand>>(m, "KestaHand",
                                                    "The 6-actuator hand (KESTA, KESTA_ALT).")
        .def(py::init([](std::uint32_t handId, const std::string& channel, int bitrate) {
                 return makeReleased<KestaHand>(handId, channel, bitrate);
             }),
             py::arg("hand_id"), py::arg("can_channel"), py::arg("bitrate"))
        .def("request_device_info", act(&KestaHand::requestDeviceInfo))
        .def("set_acceleration", putBytes(&KestaHand::setAcceleration, "accelerations"),
             py::arg("accelerations"))
        .def("get_acceleration", fetch(&KestaHand::getAcceleration))
        .def("re_home", act(&KestaHand::reHome))
        .def("factory_reset", act(&KestaHand::factoryReset))
        .def("save_parameters", act(&KestaHand::saveParameters))
        .def("get_serial_number", fetch(&KestaHand::getSerialNumber))
        .def("get_hardware_version", fetch(&KestaHand::getHardwareVersion))
        .def("get_mechanical_version", fetch(&KestaHand::getMechanicalVersion))
        .def("parse_serial_number", putBytes(&KestaHand::parseSerialNumber, "frame"),
             py::arg("frame"));

    py::class_<MarloHand, IHand, Holder<MarloHand>>(m, "MarloHand", "The 7-joint hand.")
        .def(py::init([](std::uint32_t handId, const std::string& channel, int bitrate) {
                 return makeReleased<MarloHand>(handId, channel, bitrate);
             }),
             py::arg("hand_id"), py::arg("can_channel"), py::arg("bitrate"));

    py::class_<TovinHand, IHand, Holder<TovinHand>>(m, "TovinHand", "The 10-joint hand.")
        .def(py::init([](std::uint32_t handId, const std::string& channel, int bitrate) {
                 return makeReleased<TovinHand>(handId, channel, bitrate);
             }),
             py::arg("hand_id"), py::arg("can_channel"), py::arg("bitrate"))
        .def("request_all_status", fetch(&TovinHand::requestAllStatus));

    py::class_<RavelHand, IHand, Holder<RavelHand>>(m, "RavelHand", "The 20-joint hand.")
        .def(py::init([](std::uint32_t handId, const std::string& channel, int bitrate) {
                 return makeReleased<RavelHand>(handId, channel, bitrate);
             }),
             py::arg("hand_id"), py::arg("can_channel"), py::arg("bitrate"));

    py::class_<ZenitHand, IHand, Holder<ZenitHand>>(
        m, "ZenitHand", "The 25-joint hand (variant 0) and its 21-joint variant (variant 1).")
        .def(py::init(
                 [](std::uint32_t handId, const std::string& channel, int bitrate, int variant) {
                     return makeReleased<ZenitHand>(handId, channel, bitrate, variant);
                 }),
             py::arg("hand_id"), py::arg("can_channel"), py::arg("bitrate"), py::arg("variant"))
        .def(
            "state_to_cmd",
            [](const ZenitHand& self, const py::object& state) {
                return toArray(self.state_to_cmd(toBytes(state, "state")));
            },
            py::arg("state"))
        .def("get_comm_id", fetch(&ZenitHand::getCommID))
        .def("factory_reset", act(&ZenitHand::factoryReset))
        .def("save_parameter", act(&ZenitHand::saveParameter));
}

void bindFactory(py::module_& m) {
    using factory::HandFactory;
    py::class_<HandFactory>(m, "HandFactory", "Builds the hand object for a model and side.")
        .def_static(
            "create_hand",
            [](VELMORA model, std::uint32_t handType, COMM_TYPE commType) {
                GilRelease release;
                return Holder<IHand>(HandFactory::createHand(model, handType, commType).release());
            },
            py::arg("model"), py::arg("hand_type"), py::arg("comm_type"))
        .def_static(
            "create_hand",
            [](VELMORA model, std::uint32_t handType, std::string channel, int bitRate) {
                GilRelease release;
                return Holder<IHand>(
                    HandFactory::createHand(model, handType, std::move(channel), bitRate)
                        .release());
            },
            py::arg("model"), py::arg("hand_type"), py::arg("channel"), py::arg("bit_rate"))
        .def_static("to_lower", &HandFactory::toLower, py::arg("text"))
        .def_static("contains_ignore_case", &HandFactory::containsIgnoreCase, py::arg("text"),
                    py::arg("needle"));
}

void bindVirtualBus(py::module_& m) {
    using communication::CanMessage;
    using communication::VirtualCanBus;
    py::class_<CanMessage>(m, "CanMessage", "One received frame; all zero for another identifier.")
        .def_readonly("id", &CanMessage::id)
        .def_readonly("len", &CanMessage::len)
        .def_property_readonly(
            "data",
            [](const CanMessage& message) {
                return toArray(ByteVector(message.data.begin(),
                                          message.data.begin() + std::min<int>(message.len, 8)));
            })
        .def("__repr__", [](const CanMessage& message) {
            std::ostringstream text;
            text << "CanMessage(id=0x" << std::hex << message.id << std::dec
                 << ", len=" << int(message.len) << ", data=[";
            for (int i = 0; i < std::min<int>(message.len, 8); ++i)
                text << (i ? ", " : "") << int(message.data[i]);
            text << "])";
            return text.str();
        });

    py::class_<VirtualCanBus, Holder<VirtualCanBus>>(
        m, "VirtualCanBus",
        "An endpoint of an in-process CAN bus, as a socket on a vcan "
        "interface.")
        .def(py::init(
                 [](const std::string& busName) { return makeReleased<VirtualCanBus>(busName); }),
             py::arg("bus_name"), "A peer endpoint without pacing.")
        .def(py::init([](const std::string& busName, VELMORA model) {
                 return makeReleased<VirtualCanBus>(busName, model);
             }),
             py::arg("bus_name"), py::arg("model"),
             "An endpoint paced as a CAN channel of that model.")
        .def(
            "send",
            [](VirtualCanBus& self, const py::object& data, std::uint32_t canId, bool flag) {
                const ByteVector bytes = toBytes(data, "data");
                GilRelease release;
                self.send(bytes, canId, flag);
            },
            py::arg("data"), py::arg("can_id"), py::arg("flag") = false)
        .def("recv", &VirtualCanBus::recv, py::arg("can_id"), py::call_guard<GilRelease>())
        .def("set_receive_timeout", &VirtualCanBus::setReceiveTimeout, py::arg("seconds"),
             py::arg("microseconds"))
        .def_property_readonly("bus_name", &VirtualCanBus::busName)
        .def("dropped_frames", &VirtualCanBus::droppedFrames)
        .def_property_readonly_static(
            "QUEUE_CAPACITY", [](const py::object&) { return VirtualCanBus::kQueueCapacity; });
}

}  // namespace

void bindHands(py::module_& m) {
    bindHealth(m);
    bindApi(m);
    bindInterface(m);
    bindModels(m);
    bindFactory(m);
    bindVirtualBus(m);
    m.attr("TOUCH_TYPE_MATRIX") = hand::TOUCH_TYPE_MATRIX;
    m.attr("TOUCH_PAGE_REQ") = hand::TOUCH_PAGE_REQ;
}

}  // namespace python
}  // namespace velmora
