#include <pybind11/chrono.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

#include "Bindings.h"
#include "Convert.h"
#include "Docs.h"
#include "velmora/Models.h"
#include "velmora/Scan.h"
#include "velmora/velmora.h"

namespace velmora {
namespace python {

namespace {

using hand::IHand;
using models::Setting;
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

/// What Python knows of the hand behind one of its objects, from its construction.
struct Facts {
    VELMORA model;
    std::uint32_t side;
    std::string channel;
    /// False for a model without joint-angle tables, and for a 25-joint class variant that
    /// names none.
    bool angles;
};

Facts factsOf(VELMORA model, std::uint32_t side, std::string channel) {
    return {model, side, std::move(channel), models::info(model).hasAngleTables()};
}

// The interface names the factory opens for each transport.
std::string channelOf(COMM_TYPE comm) {
    switch (comm) {
        case CAN0:
            return "can0";
        case CAN1:
            return "can1";
        case MODBUS:
            return "modbus";
        case ETHERCAT:
            return "ethercat";
    }
    return "unknown";
}

/// A hand object that Python can close before it lets go of it. A call takes a share of the
/// object for its duration, so that close() from another thread never pulls it from under the
/// call; the object goes with its last share, always with the GIL released (destroying a hand
/// joins its receive thread, which may be waiting for the GIL to hand over a message).
class BoxBase {
  public:
    BoxBase(Facts facts, const char* typeName) : facts_(std::move(facts)), typeName_(typeName) {}
    virtual ~BoxBase() = default;
    BoxBase(const BoxBase&) = delete;
    BoxBase& operator=(const BoxBase&) = delete;

    const Facts& facts() const { return facts_; }
    const char* typeName() const { return typeName_; }
    bool closed() const { return closed_; }

  protected:
    std::atomic<bool> closed_{false};

  private:
    Facts facts_;
    const char* typeName_;
};

template <class T>
class Box : public BoxBase {
  public:
    using Object = T;

    Box(std::unique_ptr<T> object, Facts facts, const char* typeName)
        : BoxBase(std::move(facts), typeName), object_(std::move(object)) {}

    std::shared_ptr<T> share() const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!object_)
            throw HandClosed(std::string(typeName()) + " is closed");
        return object_;
    }

    /// Call with the GIL released.
    void close() {
        std::shared_ptr<T> last;
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        last = std::move(object_);
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<T> object_;
};

/// The facade, as velmora.VelmoraApi.
using ApiBox = Box<VelmoraApi>;
/// A hand object, as velmora.IHand; one subclass per model class, so that an object from the
/// factory shows as its model's class.
class HandBox : public Box<IHand> {
  public:
    using Box::Box;
};
#define VELMORA_HAND_BOX(Name)         \
    class Name##Box : public HandBox { \
      public:                          \
        using HandBox::HandBox;        \
    }
VELMORA_HAND_BOX(Kesta);
VELMORA_HAND_BOX(Marlo);
VELMORA_HAND_BOX(Tovin);
VELMORA_HAND_BOX(Ravel);
VELMORA_HAND_BOX(Zenit);
#undef VELMORA_HAND_BOX

Holder<HandBox> boxOf(std::unique_ptr<IHand> hand, Facts facts) {
    if (!hand)
        return nullptr;
    IHand* raw = hand.get();
    if (dynamic_cast<hand::KestaHand*>(raw))
        return Holder<HandBox>(new KestaBox(std::move(hand), std::move(facts), "KestaHand"));
    if (dynamic_cast<hand::MarloHand*>(raw))
        return Holder<HandBox>(new MarloBox(std::move(hand), std::move(facts), "MarloHand"));
    if (dynamic_cast<hand::TovinHand*>(raw))
        return Holder<HandBox>(new TovinBox(std::move(hand), std::move(facts), "TovinHand"));
    if (dynamic_cast<hand::RavelHand*>(raw))
        return Holder<HandBox>(new RavelBox(std::move(hand), std::move(facts), "RavelHand"));
    if (dynamic_cast<hand::ZenitHand*>(raw))
        return Holder<HandBox>(new ZenitBox(std::move(hand), std::move(facts), "ZenitHand"));
    return Holder<HandBox>(new HandBox(std::move(hand), std::move(facts), "IHand"));
}

/// Runs f on the boxed object with the GIL released; the call's share goes before the GIL
/// comes back.
template <class T, class F>
auto onObject(const Box<T>& box, F f) {
    GilRelease release;
    const std::shared_ptr<T> object = box.share();
    return f(*object);
}

template <class Model, class F>
auto onModel(const HandBox& box, F f) {
    return onObject(box, [&f](IHand& hand) { return f(static_cast<Model&>(hand)); });
}

// ---------------------------------------------------------------------------------------------
// What a call may send, checked against the catalogue before anything leaves.

std::string handText(VELMORA model) {
    const models::ModelInfo& info = models::info(model);
    return std::string("the ") + info.description + " (" + info.name + ")";
}

void require(bool offered, const char* feature) {
    if (!offered)
        throw UnsupportedFeatureException(feature);
}

ByteVector positionsFor(const Facts& facts, const ByteArg& arg) {
    const ByteVector values = toBytes(arg.value, "positions");
    auto slots = models::perSlot(facts.model, values);
    if (!slots) {
        throw py::value_error("positions: " + handText(facts.model) + " " +
                              models::countsTaken(facts.model) + ", not " +
                              std::to_string(values.size()));
    }
    return std::move(*slots);
}

ByteVector settingFor(const Facts& facts, Setting setting, const ByteArg& arg, const char* name) {
    ByteVector values = toBytes(arg.value, name);
    const std::uint64_t counts = models::settingCounts(facts.model, setting);
    if (values.size() >= 64 || ((counts >> values.size()) & 1u) == 0) {
        throw py::value_error(std::string(name) + ": " + handText(facts.model) + " " +
                              models::settingCountsTaken(facts.model, setting) + ", not " +
                              std::to_string(values.size()));
    }
    return values;
}

/// A docstring from the stubs with what each model takes, from the catalogue; `setting` empty
/// for the positions. The text is copied by pybind11 when the function is defined.
std::string withCounts(const char* doc, std::optional<Setting> setting, bool facade = false) {
    std::string text = std::string(doc) + "\n\nValues per model:";
    for (const models::ModelInfo& m : models::kModels) {
        std::string takes;
        if (!setting) {
            takes = models::countsTaken(m.model);
        } else if (facade ? VelmoraApi::offers(m.model, *setting)
                          : models::settingCounts(m.model, *setting) != 0) {
            takes = models::settingCountsTaken(m.model, *setting);
        } else {
            takes = "none (UnsupportedFeatureException)";
        }
        text += "\n    " + std::string(m.name) + ": " + takes;
    }
    return text;
}

std::string number(double value) {
    return py::repr(py::float_(value)).cast<std::string>();
}

// Angles a joint cannot take are refused rather than clamped: NaN and the infinities would
// otherwise command a limit, and a value past a limit moves the joint less than asked.
RadianVector anglesFor(const Facts& facts, const RadianArg& arg, const char* feature) {
    require(facts.angles, feature);
    const RadianVector values = toRadians(arg.value, "positions");
    const models::ModelInfo& info = models::info(facts.model);
    auto slots = models::perSlot(facts.model, values, 0.0);
    if (!slots) {
        throw py::value_error("positions: " + handText(facts.model) + " " +
                              models::countsTaken(facts.model) + ", not " +
                              std::to_string(values.size()));
    }
    std::vector<double> low, high;
    std::vector<int> direction;
    const char* side = models::sideName(facts.side);
    const bool limits = ::initialize_params(info.angleTableKey, side, low, high, direction);
    constexpr double kSlack = 1e-9;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::size_t slot =
            values.size() == info.slots ? i : static_cast<std::size_t>(info.slotOfJoint(i));
        const std::string at = "positions[" + std::to_string(i) + "] = " + number(values[i]);
        if (!std::isfinite(values[i]))
            throw py::value_error(at + " is not a finite angle");
        if (!limits || !info.hasAngle(slot) || slot >= low.size() || slot >= high.size())
            continue;
        const double lo = std::min(low[slot], high[slot]);
        const double hi = std::max(low[slot], high[slot]);
        if (values[i] < lo - kSlack || values[i] > hi + kSlack) {
            throw py::value_error(at + " is outside " + models::jointName(facts.model, slot) +
                                  "'s limits " + number(lo) + " .. " + number(hi) + " rad");
        }
    }
    return std::move(*slots);
}

// ---------------------------------------------------------------------------------------------
// Fresh reads that Ctrl-C (or close() from another thread) ends within kKeepWaitingPeriod.

bool interpreterFinishing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

template <class T, class Read>
auto readWaiting(const Box<T>& box, Read read) {
    bool interrupted = false;
    const hand::KeepWaiting keepWaiting = [&box, &interrupted] {
        if (box.closed() || interpreterFinishing())
            return false;
        const PyGILState_STATE gil = PyGILState_Ensure();
        // Leaves the handler's exception (KeyboardInterrupt) set, for the call to raise.
        const bool signalled = PyErr_CheckSignals() != 0;
        PyGILState_Release(gil);
        interrupted = interrupted || signalled;
        return !signalled;
    };
    try {
        return onObject(box, [&](T& object) { return read(object, keepWaiting); });
    } catch (const HandTimeoutException&) {
        if (interrupted)
            throw py::error_already_set();
        if (box.closed())
            throw HandClosed(std::string(box.typeName()) + " was closed during the read");
        throw;
    }
}

// ---------------------------------------------------------------------------------------------
// Identity.

std::string stateText(const hand::HandHealth& health) {
    if (!health.channelUp)
        return "channel down";
    if (!health.lastFrameAge)
        return "silent";
    const double age = std::chrono::duration<double>(*health.lastFrameAge).count();
    if (age < 2.0)
        return "answering";
    std::ostringstream text;
    text << "last answered " << std::fixed << std::setprecision(1) << age << " s ago";
    return text.str();
}

template <class T>
std::string reprOf(const Box<T>& box) {
    std::string state;
    try {
        state = stateText(onObject(box, [](T& object) { return object.health(); }));
    } catch (const HandClosed&) {
        state = "closed";
    }
    const Facts& facts = box.facts();
    return std::string("<") + box.typeName() + " " + models::modelName(facts.model) + " " +
           models::sideName(facts.side) + " on " + facts.channel + ", " + state + ">";
}

py::object sideOf(std::uint32_t side) {
    if (side == RIGHT || side == LEFT)
        return py::cast(static_cast<HAND_TYPE>(side));
    return py::cast(side);
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

/// close(), `with`, closed, model, side, channel and repr, shared by the facade and the hand
/// classes.
template <class Class, class BoxType>
void bindLifecycle(Class& c, const char* closeDoc, const char* enterDoc, const char* exitDoc,
                   const char* closedDoc, const char* modelDoc, const char* sideDoc,
                   const char* channelDoc, const char* reprDoc) {
    c.def(
         "close",
         [](BoxType& self) {
             GilRelease release;
             self.close();
         },
         closeDoc)
        .def(
            "__enter__", [](py::object self) { return self; }, enterDoc)
        .def(
            "__exit__",
            [](BoxType& self, const py::object&, const py::object&, const py::object&) {
                GilRelease release;
                self.close();
                return false;
            },
            py::arg("exc_type"), py::arg("exc_value"), py::arg("traceback"), exitDoc)
        .def_property_readonly("closed", &BoxType::closed, closedDoc)
        .def_property_readonly(
            "model", [](const BoxType& self) { return self.facts().model; }, modelDoc)
        .def_property_readonly(
            "side", [](const BoxType& self) { return sideOf(self.facts().side); }, sideDoc)
        .def_property_readonly(
            "channel", [](const BoxType& self) { return self.facts().channel; }, channelDoc)
        .def(
            "__repr__", [](const BoxType& self) { return reprOf(self); }, reprDoc);
}

void bindHealth(py::module_& m) {
    py::class_<hand::HandHealth>(m, "HandHealth", docs::HandHealth)
        .def(py::init<>(), docs::HandHealth_init)
        .def_readonly("frames_received", &hand::HandHealth::framesReceived,
                      docs::HandHealth_frames_received)
        .def_readonly("frames_ignored", &hand::HandHealth::framesIgnored,
                      docs::HandHealth_frames_ignored)
        .def_readonly("send_failures", &hand::HandHealth::sendFailures,
                      docs::HandHealth_send_failures)
        .def_readonly("receive_errors", &hand::HandHealth::receiveErrors,
                      docs::HandHealth_receive_errors)
        .def_readonly("last_frame_age", &hand::HandHealth::lastFrameAge,
                      docs::HandHealth_last_frame_age)
        .def_readonly("channel_up", &hand::HandHealth::channelUp, docs::HandHealth_channel_up)
        .def_readonly("reconnects", &hand::HandHealth::reconnects, docs::HandHealth_reconnects)
        .def_readonly("frames_dropped", &hand::HandHealth::framesDropped,
                      docs::HandHealth_frames_dropped)
        .def("__repr__", &healthText);
}

// The facade's getters, by name: nothing to check, the hand refuses what its model lacks.
template <class R>
auto apiFetch(R (VelmoraApi::*method)()) {
    return [method](const ApiBox& self) {
        return out(onObject(self, [method](VelmoraApi& api) { return (api.*method)(); }));
    };
}

auto apiSetting(void (VelmoraApi::*method)(const ByteVector&), Setting setting, const char* name,
                const char* feature) {
    return [=](const ApiBox& self, const ByteArg& arg) {
        require(VelmoraApi::offers(self.facts().model, setting), feature);
        const ByteVector values = settingFor(self.facts(), setting, arg, name);
        onObject(self, [&](VelmoraApi& api) { (api.*method)(values); });
    };
}

void bindApi(py::module_& m) {
    py::class_<ApiBox, Holder<ApiBox>> api(m, "VelmoraApi", docs::VelmoraApi);
    api.def(py::init([](VELMORA model, HAND_TYPE side, COMM_TYPE comm) {
                GilRelease release;
                return Holder<ApiBox>(new ApiBox(std::make_unique<VelmoraApi>(model, side, comm),
                                                 factsOf(model, side, channelOf(comm)),
                                                 "VelmoraApi"));
            }),
            py::arg("model"), py::arg("side"), py::arg("comm_type") = CAN0, docs::VelmoraApi_init)
        .def(py::init([](VELMORA model, HAND_TYPE side, std::string channel, int bitRate) {
                 GilRelease release;
                 auto object = std::make_unique<VelmoraApi>(model, side, channel, bitRate);
                 return Holder<ApiBox>(new ApiBox(
                     std::move(object), factsOf(model, side, std::move(channel)), "VelmoraApi"));
             }),
             py::arg("model"), py::arg("side"), py::arg("channel"), py::arg("bit_rate") = 1000000,
             docs::VelmoraApi_init_2);
    bindLifecycle<decltype(api), ApiBox>(api, docs::VelmoraApi_close, docs::VelmoraApi_enter,
                                         docs::VelmoraApi_exit, docs::VelmoraApi_closed,
                                         docs::VelmoraApi_model, docs::VelmoraApi_side,
                                         docs::VelmoraApi_channel, docs::VelmoraApi_repr);
    api.def(
           "finger_move",
           [](const ApiBox& self, const ByteArg& arg) {
               const ByteVector positions = positionsFor(self.facts(), arg);
               onObject(self, [&](VelmoraApi& a) { a.fingerMove(positions); });
           },
           py::arg("positions"), withCounts(docs::VelmoraApi_finger_move, std::nullopt).c_str())
        .def(
            "finger_move_arc",
            [](const ApiBox& self, const RadianArg& arg) {
                const RadianVector angles = anglesFor(self.facts(), arg, "fingerMoveArc");
                onObject(self, [&](VelmoraApi& a) { a.fingerMoveArc(angles); });
            },
            py::arg("positions"),
            withCounts(docs::VelmoraApi_finger_move_arc, std::nullopt).c_str())
        .def("set_speed", apiSetting(&VelmoraApi::setSpeed, Setting::Speeds, "speeds", "setSpeed"),
             py::arg("speeds"),
             withCounts(docs::VelmoraApi_set_speed, Setting::Speeds, true).c_str())
        .def("set_torque",
             apiSetting(&VelmoraApi::setTorque, Setting::Torques, "torques", "setTorque"),
             py::arg("torques"),
             withCounts(docs::VelmoraApi_set_torque, Setting::Torques, true).c_str())
        .def("get_speed", apiFetch(&VelmoraApi::getSpeed), docs::VelmoraApi_get_speed)
        .def("get_state", apiFetch(&VelmoraApi::getState), docs::VelmoraApi_get_state)
        .def(
            "get_state_arc",
            [](const ApiBox& self) {
                require(self.facts().angles, "getStateArc");
                return out(onObject(self, [](VelmoraApi& a) { return a.getStateArc(); }));
            },
            docs::VelmoraApi_get_state_arc)
        .def("get_force", apiFetch(&VelmoraApi::getForce), docs::VelmoraApi_get_force)
        .def("get_version", apiFetch(&VelmoraApi::getVersion), docs::VelmoraApi_get_version)
        .def("get_torque", apiFetch(&VelmoraApi::getTorque), docs::VelmoraApi_get_torque)
        .def("get_temperature", apiFetch(&VelmoraApi::getTemperature),
             docs::VelmoraApi_get_temperature)
        .def("get_fault_code", apiFetch(&VelmoraApi::getFaultCode), docs::VelmoraApi_get_fault_code)
        .def("get_current", apiFetch(&VelmoraApi::getCurrent), docs::VelmoraApi_get_current)
        .def("set_current",
             apiSetting(&VelmoraApi::setCurrent, Setting::Currents, "currents", "setCurrent"),
             py::arg("currents"),
             withCounts(docs::VelmoraApi_set_current, Setting::Currents, true).c_str())
        .def("clear_fault_code",
             apiSetting(&VelmoraApi::clearFaultCode, Setting::ClearFaults, "codes",
                        "clearFaultCode"),
             py::arg("codes"),
             withCounts(docs::VelmoraApi_clear_fault_code, Setting::ClearFaults, true).c_str())
        .def("set_enable",
             apiSetting(&VelmoraApi::setEnable, Setting::MotorSwitch, "motors", "setEnable"),
             py::arg("motors"),
             withCounts(docs::VelmoraApi_set_enable, Setting::MotorSwitch, true).c_str())
        .def("set_disable",
             apiSetting(&VelmoraApi::setDisable, Setting::MotorSwitch, "motors", "setDisable"),
             py::arg("motors"),
             withCounts(docs::VelmoraApi_set_disable, Setting::MotorSwitch, true).c_str())
        .def(
            "health",
            [](const ApiBox& self) {
                return onObject(self, [](VelmoraApi& a) { return a.health(); });
            },
            docs::VelmoraApi_health)
        .def(
            "identity",
            [](const ApiBox& self, const Duration& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg.value, "timeout");
                return onObject(self, [&](VelmoraApi& a) { return a.identity(timeout); });
            },
            py::arg("timeout") = Duration{py::cast(kScanTimeout)}, docs::VelmoraApi_identity)
        .def(
            "read_state",
            [](const ApiBox& self, const Duration& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg.value, "timeout");
                return toArray(readWaiting(self, [&](VelmoraApi& a, const hand::KeepWaiting& k) {
                    return a.readStateWhile(timeout, k);
                }));
            },
            py::arg("timeout") = Duration{py::cast(VelmoraApi::kDefaultReadTimeout)},
            docs::VelmoraApi_read_state)
        .def(
            "read_state_arc",
            [](const ApiBox& self, const Duration& timeoutArg) {
                require(self.facts().angles, "readStateArc");
                const milliseconds timeout = toMilliseconds(timeoutArg.value, "timeout");
                return toArray(readWaiting(self, [&](VelmoraApi& a, const hand::KeepWaiting& k) {
                    return a.readStateArcWhile(timeout, k);
                }));
            },
            py::arg("timeout") = Duration{py::cast(VelmoraApi::kDefaultReadTimeout)},
            docs::VelmoraApi_read_state_arc)
        .def(
            "read_fresh",
            [](const ApiBox& self, hand::Reading what, const Duration& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg.value, "timeout");
                return toArray(readWaiting(self, [&](VelmoraApi& a, const hand::KeepWaiting& k) {
                    return a.readFreshWhile(what, timeout, k);
                }));
            },
            py::arg("what"),
            py::arg("timeout") = Duration{py::cast(VelmoraApi::kDefaultReadTimeout)},
            docs::VelmoraApi_read_fresh)
        .def_property_readonly_static(
            "DEFAULT_READ_TIMEOUT",
            [](const py::object&) { return VelmoraApi::kDefaultReadTimeout; },
            "Time a fresh read waits for its replies unless told otherwise (200 ms).");
}

// The hand classes' operations without arguments: nothing to check before the call (an
// operation the class lacks is refused by the hand before it sends anything).
template <class Model = IHand, class R, class C>
auto fetch(R (C::*method)()) {
    return [method](const HandBox& self) {
        return out(onModel<Model>(self, [method](Model& hand) { return (hand.*method)(); }));
    };
}

template <class Model = IHand, class C>
auto act(void (C::*method)()) {
    return [method](const HandBox& self) {
        onModel<Model>(self, [method](Model& hand) { (hand.*method)(); });
    };
}

template <class Model = IHand, class C>
auto handSetting(void (C::*method)(const ByteVector&), Setting setting, const char* name,
                 const char* feature) {
    return [=](const HandBox& self, const ByteArg& arg) {
        require(models::settingCounts(self.facts().model, setting) != 0, feature);
        const ByteVector values = settingFor(self.facts(), setting, arg, name);
        onModel<Model>(self, [&](Model& hand) { (hand.*method)(values); });
    };
}

template <class Model = IHand, class C>
auto passBytes(void (C::*method)(const ByteVector&), const char* name) {
    return [=](const HandBox& self, const ByteArg& arg) {
        const ByteVector values = toBytes(arg.value, name);
        onModel<Model>(self, [&](Model& hand) { (hand.*method)(values); });
    };
}

void bindInterface(py::module_& m) {
    py::class_<HandBox, Holder<HandBox>> iface(m, "IHand", docs::IHand);
    bindLifecycle<decltype(iface), HandBox>(
        iface, docs::IHand_close, docs::IHand_enter, docs::IHand_exit, docs::IHand_closed,
        docs::IHand_model, docs::IHand_side, docs::IHand_channel, docs::IHand_repr);
    iface
        .def(
            "set_joint_positions",
            [](const HandBox& self, const ByteArg& arg) {
                const ByteVector positions = positionsFor(self.facts(), arg);
                onObject(self, [&](IHand& h) { h.setJointPositions(positions); });
            },
            py::arg("positions"), withCounts(docs::IHand_set_joint_positions, std::nullopt).c_str())
        .def(
            "set_joint_position_arc",
            [](const HandBox& self, const RadianArg& arg) {
                const RadianVector angles = anglesFor(self.facts(), arg, "setJointPositionArc");
                onObject(self, [&](IHand& h) { h.setJointPositionArc(angles); });
            },
            py::arg("positions"),
            withCounts(docs::IHand_set_joint_position_arc, std::nullopt).c_str())
        .def("get_speed", fetch(&IHand::getSpeed), docs::IHand_get_speed)
        .def("set_speed", handSetting(&IHand::setSpeed, Setting::Speeds, "speeds", "setSpeed"),
             py::arg("speeds"), withCounts(docs::IHand_set_speed, Setting::Speeds).c_str())
        .def("get_current_status", fetch(&IHand::getCurrentStatus), docs::IHand_get_current_status)
        .def(
            "get_current_status_arc",
            [](const HandBox& self) {
                require(self.facts().angles, "getCurrentStatusArc");
                return out(onObject(self, [](IHand& h) { return h.getCurrentStatusArc(); }));
            },
            docs::IHand_get_current_status_arc)
        .def("get_fault_code", fetch(&IHand::getFaultCode), docs::IHand_get_fault_code)
        .def("get_current", fetch(&IHand::getCurrent), docs::IHand_get_current)
        .def(
            "get_force",
            [](const HandBox& self, std::int32_t which) {
                return out(onObject(self, [which](IHand& h) { return h.getForce(which); }));
            },
            py::arg("which"), docs::IHand_get_force)
        .def(
            "get_force",
            [](const HandBox& self) {
                return out(onObject(self, [](IHand& h) { return h.getForce(); }));
            },
            docs::IHand_get_force_2)
        .def("get_thumb_force", fetch(&IHand::getThumbForce), docs::IHand_get_thumb_force)
        .def("get_index_force", fetch(&IHand::getIndexForce), docs::IHand_get_index_force)
        .def("get_middle_force", fetch(&IHand::getMiddleForce), docs::IHand_get_middle_force)
        .def("get_ring_force", fetch(&IHand::getRingForce), docs::IHand_get_ring_force)
        .def("get_little_force", fetch(&IHand::getLittleForce), docs::IHand_get_little_force)
        .def("get_normal_force", fetch(&IHand::getNormalForce), docs::IHand_get_normal_force)
        .def("get_tangential_force", fetch(&IHand::getTangentialForce),
             docs::IHand_get_tangential_force)
        .def("get_tangential_force_dir", fetch(&IHand::getTangentialForceDir),
             docs::IHand_get_tangential_force_dir)
        .def("get_approach_inc", fetch(&IHand::getApproachInc), docs::IHand_get_approach_inc)
        .def("set_torque", handSetting(&IHand::setTorque, Setting::Torques, "torques", "setTorque"),
             py::arg("torques"), withCounts(docs::IHand_set_torque, Setting::Torques).c_str())
        .def("get_torque", fetch(&IHand::getTorque), docs::IHand_get_torque)
        .def("get_temperature", fetch(&IHand::getTemperature), docs::IHand_get_temperature)
        .def("get_version", fetch(&IHand::getVersion), docs::IHand_get_version)
        .def("get_uid", fetch(&IHand::getUID), docs::IHand_get_uid)
        .def("get_rotor_lock_count", fetch(&IHand::getRotorLockCount),
             docs::IHand_get_rotor_lock_count)
        .def("clear_fault_code",
             handSetting(&IHand::clearFaultCode, Setting::ClearFaults, "codes", "clearFaultCode"),
             py::arg("codes"),
             withCounts(docs::IHand_clear_fault_code, Setting::ClearFaults).c_str())
        .def("set_current",
             handSetting(&IHand::setCurrent, Setting::Currents, "currents", "setCurrent"),
             py::arg("currents"), withCounts(docs::IHand_set_current, Setting::Currents).c_str())
        .def("set_motor_enable",
             handSetting(&IHand::setMotorEnable, Setting::MotorSwitch, "motors", "setMotorEnable"),
             py::arg("motors"),
             withCounts(docs::IHand_set_motor_enable, Setting::MotorSwitch).c_str())
        .def(
            "set_motor_disable",
            handSetting(&IHand::setMotorDisable, Setting::MotorSwitch, "motors", "setMotorDisable"),
            py::arg("motors"),
            withCounts(docs::IHand_set_motor_disable, Setting::MotorSwitch).c_str())
        .def(
            "get_sub_vector",
            [](const HandBox& self, const ByteArg& reply) {
                const ByteVector bytes = toBytes(reply.value, "reply");
                return toArray(onObject(self, [&](IHand& h) { return h.getSubVector(bytes); }));
            },
            py::arg("reply"), docs::IHand_get_sub_vector)
        .def(
            "get_sub_vector",
            [](const HandBox& self, const ByteArg& first, const ByteArg& second) {
                const ByteVector a = toBytes(first.value, "first");
                const ByteVector b = toBytes(second.value, "second");
                return toArray(onObject(self, [&](IHand& h) { return h.getSubVector(a, b); }));
            },
            py::arg("first"), py::arg("second"), docs::IHand_get_sub_vector_2)
        .def("get_current_time", fetch(&IHand::getCurrentTime), docs::IHand_get_current_time)
        .def(
            "health",
            [](const HandBox& self) { return onObject(self, [](IHand& h) { return h.health(); }); },
            docs::IHand_health)
        .def(
            "identity",
            [](const HandBox& self, const Duration& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg.value, "timeout");
                return onObject(self, [&](IHand& h) { return h.identity(timeout); });
            },
            py::arg("timeout") = Duration{py::cast(kScanTimeout)}, docs::IHand_identity)
        .def(
            "reply_age",
            [](const HandBox& self, std::uint8_t code) {
                return onObject(self, [code](IHand& h) { return h.replyAge(code); });
            },
            py::arg("code"), docs::IHand_reply_age)
        .def(
            "read_fresh",
            [](const HandBox& self, hand::Reading what, const Duration& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg.value, "timeout");
                return toArray(readWaiting(self, [&](IHand& h, const hand::KeepWaiting& k) {
                    return h.readFreshWhile(what, timeout, k);
                }));
            },
            py::arg("what"), py::arg("timeout"), docs::IHand_read_fresh)
        .def(
            "read_state",
            [](const HandBox& self, const Duration& timeoutArg) {
                const milliseconds timeout = toMilliseconds(timeoutArg.value, "timeout");
                return toArray(readWaiting(self, [&](IHand& h, const hand::KeepWaiting& k) {
                    return h.readStateWhile(timeout, k);
                }));
            },
            py::arg("timeout"), docs::IHand_read_state)
        .def(
            "read_state_arc",
            [](const HandBox& self, const Duration& timeoutArg) {
                require(self.facts().angles, "readStateArc");
                const milliseconds timeout = toMilliseconds(timeoutArg.value, "timeout");
                return toArray(readWaiting(self, [&](IHand& h, const hand::KeepWaiting& k) {
                    return h.readStateArcWhile(timeout, k);
                }));
            },
            py::arg("timeout"), docs::IHand_read_state_arc);
}

template <class Model, class ModelBox>
Holder<ModelBox> newHand(VELMORA model, std::uint32_t handId, const std::string& channel,
                         int bitrate, const char* typeName, int variant = -1) {
    GilRelease release;
    std::unique_ptr<IHand> hand;
    if constexpr (std::is_same_v<Model, hand::ZenitHand>) {
        hand = std::make_unique<Model>(handId, channel, bitrate, variant);
    } else {
        hand = std::make_unique<Model>(handId, channel, bitrate);
    }
    Facts facts = factsOf(model, handId, channel);
    facts.angles = facts.angles && variant <= 1;
    return Holder<ModelBox>(new ModelBox(std::move(hand), std::move(facts), typeName));
}

void bindModels(py::module_& m) {
    using hand::KestaHand;
    using hand::MarloHand;
    using hand::RavelHand;
    using hand::TovinHand;
    using hand::ZenitHand;

    py::class_<KestaBox, HandBox, Holder<KestaBox>>(m, "KestaHand", docs::KestaHand)
        .def(py::init([](std::uint32_t handId, const std::string& channel, int bitrate) {
                 return newHand<KestaHand, KestaBox>(KESTA, handId, channel, bitrate, "KestaHand");
             }),
             py::arg("hand_id"), py::arg("can_channel"), py::arg("bitrate"), docs::KestaHand_init)
        .def("request_device_info", act<KestaHand>(&KestaHand::requestDeviceInfo),
             docs::KestaHand_request_device_info)
        .def("set_acceleration",
             handSetting<KestaHand>(&KestaHand::setAcceleration, Setting::Accelerations,
                                    "accelerations", "setAcceleration"),
             py::arg("accelerations"), docs::KestaHand_set_acceleration)
        .def("get_acceleration", fetch<KestaHand>(&KestaHand::getAcceleration),
             docs::KestaHand_get_acceleration)
        .def("re_home", act<KestaHand>(&KestaHand::reHome), docs::KestaHand_re_home)
        .def("factory_reset", act<KestaHand>(&KestaHand::factoryReset),
             docs::KestaHand_factory_reset)
        .def("save_parameters", act<KestaHand>(&KestaHand::saveParameters),
             docs::KestaHand_save_parameters)
        .def("get_serial_number", fetch<KestaHand>(&KestaHand::getSerialNumber),
             docs::KestaHand_get_serial_number)
        .def("get_hardware_version", fetch<KestaHand>(&KestaHand::getHardwareVersion),
             docs::KestaHand_get_hardware_version)
        .def("get_mechanical_version", fetch<KestaHand>(&KestaHand::getMechanicalVersion),
             docs::KestaHand_get_mechanical_version)
        .def("parse_serial_number", passBytes<KestaHand>(&KestaHand::parseSerialNumber, "frame"),
             py::arg("frame"), docs::KestaHand_parse_serial_number);

    py::class_<MarloBox, HandBox, Holder<MarloBox>>(m, "MarloHand", docs::MarloHand)
        .def(py::init([](std::uint32_t handId, const std::string& channel, int bitrate) {
                 return newHand<MarloHand, MarloBox>(MARLO, handId, channel, bitrate, "MarloHand");
             }),
             py::arg("hand_id"), py::arg("can_channel"), py::arg("bitrate"), docs::MarloHand_init);

    py::class_<TovinBox, HandBox, Holder<TovinBox>>(m, "TovinHand", docs::TovinHand)
        .def(py::init([](std::uint32_t handId, const std::string& channel, int bitrate) {
                 return newHand<TovinHand, TovinBox>(TOVIN, handId, channel, bitrate, "TovinHand");
             }),
             py::arg("hand_id"), py::arg("can_channel"), py::arg("bitrate"), docs::TovinHand_init)
        .def("request_all_status", fetch<TovinHand>(&TovinHand::requestAllStatus),
             docs::TovinHand_request_all_status);

    py::class_<RavelBox, HandBox, Holder<RavelBox>>(m, "RavelHand", docs::RavelHand)
        .def(py::init([](std::uint32_t handId, const std::string& channel, int bitrate) {
                 return newHand<RavelHand, RavelBox>(RAVEL, handId, channel, bitrate, "RavelHand");
             }),
             py::arg("hand_id"), py::arg("can_channel"), py::arg("bitrate"), docs::RavelHand_init);

    py::class_<ZenitBox, HandBox, Holder<ZenitBox>>(m, "ZenitHand", docs::ZenitHand)
        .def(py::init(
                 [](std::uint32_t handId, const std::string& channel, int bitrate, int variant) {
                     return newHand<ZenitHand, ZenitBox>(variant == 1 ? SABRE : ZENIT, handId,
                                                         channel, bitrate, "ZenitHand", variant);
                 }),
             py::arg("hand_id"), py::arg("can_channel"), py::arg("bitrate"), py::arg("variant"),
             docs::ZenitHand_init)
        .def(
            "state_to_cmd",
            [](const HandBox& self, const ByteArg& state) {
                const ByteVector bytes = toBytes(state.value, "state");
                return toArray(
                    onModel<ZenitHand>(self, [&](ZenitHand& h) { return h.state_to_cmd(bytes); }));
            },
            py::arg("state"), docs::ZenitHand_state_to_cmd)
        .def("get_comm_id", fetch<ZenitHand>(&ZenitHand::getCommID), docs::ZenitHand_get_comm_id)
        .def("factory_reset", act<ZenitHand>(&ZenitHand::factoryReset),
             docs::ZenitHand_factory_reset)
        .def("save_parameter", act<ZenitHand>(&ZenitHand::saveParameter),
             docs::ZenitHand_save_parameter);
}

void bindFactory(py::module_& m) {
    using factory::HandFactory;
    py::class_<HandFactory>(m, "HandFactory", docs::HandFactory)
        .def_static(
            "create_hand",
            [](VELMORA model, std::uint32_t handType, COMM_TYPE commType) {
                GilRelease release;
                return boxOf(HandFactory::createHand(model, handType, commType),
                             factsOf(model, handType, channelOf(commType)));
            },
            py::arg("model"), py::arg("hand_type"), py::arg("comm_type"),
            docs::HandFactory_create_hand)
        .def_static(
            "create_hand",
            [](VELMORA model, std::uint32_t handType, std::string channel, int bitRate) {
                GilRelease release;
                auto hand = HandFactory::createHand(model, handType, channel, bitRate);
                return boxOf(std::move(hand), factsOf(model, handType, std::move(channel)));
            },
            py::arg("model"), py::arg("hand_type"), py::arg("channel"), py::arg("bit_rate"),
            docs::HandFactory_create_hand_2)
        .def_static("to_lower", &HandFactory::toLower, py::arg("text"), docs::HandFactory_to_lower)
        .def_static("contains_ignore_case", &HandFactory::containsIgnoreCase, py::arg("text"),
                    py::arg("needle"), docs::HandFactory_contains_ignore_case);
}

void bindVirtualBus(py::module_& m) {
    using communication::CanMessage;
    using communication::VirtualCanBus;
    py::class_<CanMessage>(m, "CanMessage", docs::CanMessage)
        .def_readonly("id", &CanMessage::id, docs::CanMessage_id)
        .def_readonly("len", &CanMessage::len, docs::CanMessage_len)
        .def_property_readonly(
            "data",
            [](const CanMessage& message) {
                return toArray(ByteVector(message.data.begin(),
                                          message.data.begin() + std::min<int>(message.len, 8)));
            },
            docs::CanMessage_data)
        .def("__repr__", [](const CanMessage& message) {
            std::ostringstream text;
            text << "CanMessage(id=0x" << std::hex << message.id << std::dec
                 << ", len=" << int(message.len) << ", data=[";
            for (int i = 0; i < std::min<int>(message.len, 8); ++i)
                text << (i ? ", " : "") << int(message.data[i]);
            text << "])";
            return text.str();
        });

    py::class_<VirtualCanBus, Holder<VirtualCanBus>>(m, "VirtualCanBus", docs::VirtualCanBus)
        .def(py::init(
                 [](const std::string& busName) { return makeReleased<VirtualCanBus>(busName); }),
             py::arg("bus_name"), docs::VirtualCanBus_init)
        .def(py::init([](const std::string& busName, VELMORA model) {
                 return makeReleased<VirtualCanBus>(busName, model);
             }),
             py::arg("bus_name"), py::arg("model"), docs::VirtualCanBus_init_2)
        .def(
            "send",
            [](VirtualCanBus& self, const ByteArg& data, std::uint32_t canId, bool flag) {
                const ByteVector bytes = toBytes(data.value, "data");
                GilRelease release;
                self.send(bytes, canId, flag);
            },
            py::arg("data"), py::arg("can_id"), py::arg("flag") = false, docs::VirtualCanBus_send)
        .def("recv", &VirtualCanBus::recv, py::arg("can_id"), py::call_guard<GilRelease>(),
             docs::VirtualCanBus_recv)
        .def("set_receive_timeout", &VirtualCanBus::setReceiveTimeout, py::arg("seconds"),
             py::arg("microseconds"), docs::VirtualCanBus_set_receive_timeout)
        .def_property_readonly("bus_name", &VirtualCanBus::busName, docs::VirtualCanBus_bus_name)
        .def("dropped_frames", &VirtualCanBus::droppedFrames, docs::VirtualCanBus_dropped_frames)
        .def_property_readonly_static(
            "QUEUE_CAPACITY", [](const py::object&) { return VirtualCanBus::kQueueCapacity; },
            "Frames an endpoint buffers; beyond that new frames are dropped.");
}

}  // namespace

std::shared_ptr<VelmoraApi> sharedApi(py::handle object) {
    if (!py::isinstance<ApiBox>(object))
        return nullptr;
    return object.cast<const ApiBox&>().share();
}

std::shared_ptr<IHand> sharedHand(py::handle object) {
    if (!py::isinstance<HandBox>(object))
        return nullptr;
    return object.cast<const HandBox&>().share();
}

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
