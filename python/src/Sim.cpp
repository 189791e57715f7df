#include <pybind11/chrono.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "Bindings.h"
#include "Convert.h"

#ifdef VELMORA_PYTHON_WITH_SIM

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "velmora/Models.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora {
namespace python {

namespace {

/// A simulated hand that can be stopped before the Python object goes (close, or leaving a
/// `with` block): its threads end and it leaves the bus.
class PySimulatedHand {
  public:
    PySimulatedHand(const sim::SimConfig& config, const std::string& channel)
        : hand_(std::make_shared<sim::SimulatedHand>(sim::openSimChannel(channel), config)),
          config_(config) {}

    std::shared_ptr<sim::SimulatedHand> hand() const {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!hand_)
            throw std::runtime_error("The simulated hand is closed");
        return hand_;
    }

    void close() {
        std::shared_ptr<sim::SimulatedHand> last;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            last = std::move(hand_);
        }
    }

    bool closed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return !hand_;
    }

    const sim::SimConfig& config() const { return config_; }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<sim::SimulatedHand> hand_;
    sim::SimConfig config_;
};

// Calls `f` on the running hand with the GIL released (a call racing close() may be the one
// that destroys the hand, which joins its threads).
template <class F>
auto onHand(const PySimulatedHand& self, F f) {
    GilRelease release;
    const auto hand = self.hand();
    return f(*hand);
}

template <class Read>
auto bodyRead(Read read) {
    return [read](const PySimulatedHand& self) {
        const ByteVector values = onHand(self, [&](sim::SimulatedHand& hand) {
            auto& body = hand.body();
            return (body.*read)(0, body.joints());
        });
        return toArray(values);
    };
}

/// sim.shape_of's answer, from the model catalogue.
struct ModelShape {
    std::size_t joints;
    std::vector<std::vector<std::size_t>> fingerJoints;
};

ModelShape shapeOf(VELMORA model) {
    const models::ModelInfo& m = models::info(model);
    ModelShape shape{m.slots, std::vector<std::vector<std::size_t>>(models::kFingers)};
    for (std::size_t f = 0; f < models::kFingers; ++f) {
        for (int slot : m.fingerJoints[f]) {
            if (slot != models::kNoSlot)
                shape.fingerJoints[f].push_back(static_cast<std::size_t>(slot));
        }
    }
    return shape;
}

}  // namespace

void bindSim(py::module_& parent) {
    auto m = parent.def_submodule("sim",
                                  "Simulated hands: stand-ins for real hands on a virtual "
                                  "bus or a CAN interface.");

    py::enum_<sim::SensorKind>(m, "SensorKind", "The fingertip sensors a simulated hand carries.")
        .value("NONE", sim::SensorKind::None)
        .value("SUMMARY", sim::SensorKind::Summary)
        .value("MATRIX", sim::SensorKind::Matrix);
    py::enum_<sim::ReplyFault>(m, "ReplyFault", "Ways a simulated hand's replies can go wrong.")
        .value("NONE", sim::ReplyFault::None)
        .value("SHORT", sim::ReplyFault::Short)
        .value("MALFORMED", sim::ReplyFault::Malformed);

    py::class_<ModelShape>(m, "ModelShape")
        .def_readonly("joints", &ModelShape::joints)
        .def_readonly("finger_joints", &ModelShape::fingerJoints);
    m.def("shape_of", &shapeOf, py::arg("model"),
          "Slot count and the flexion joints of each finger (thumb first) of a model.");
    m.def(
        "model_from_name", [](const std::string& name) { return models::modelFromName(name); },
        py::arg("name"));
    m.def(
        "side_from_name",
        [](const std::string& name) -> std::optional<HAND_TYPE> {
            const auto side = models::sideFromName(name);
            if (!side)
                return std::nullopt;
            return static_cast<HAND_TYPE>(*side);
        },
        py::arg("name"));
    m.def(
        "model_name", [](VELMORA model) { return std::string(models::modelName(model)); },
        py::arg("model"));

    py::class_<PySimulatedHand, Holder<PySimulatedHand>>(
        m, "SimulatedHand",
        "A hand of any model on a channel ('virtual:NAME' or a CAN interface that is up): it "
        "answers every request, moves its joints toward their targets and can be told to fail.")
        .def(py::init([](VELMORA model, HAND_TYPE side, const std::string& channel,
                         sim::SensorKind sensor, std::uint8_t firmware, std::uint8_t hardware) {
                 sim::SimConfig config;
                 config.model = model;
                 config.handId = side;
                 config.sensor = sensor;
                 config.softwareVersion = firmware;
                 config.hardwareVersion = hardware;
                 return makeReleased<PySimulatedHand>(config, channel);
             }),
             py::arg("model"), py::arg("side"), py::arg("channel"), py::kw_only(),
             py::arg("sensor") = sim::SensorKind::Matrix, py::arg("firmware") = 0x15,
             py::arg("hardware") = 0x20,
             "firmware and hardware are version bytes: high nibble the whole part, low nibble "
             "tenths (0x15 is 1.5).")
        .def("close", &PySimulatedHand::close, py::call_guard<GilRelease>(),
             "Stops the hand: it leaves the bus and its threads end.")
        .def_property_readonly("closed", &PySimulatedHand::closed)
        .def("__enter__", [](py::object self) { return self; })
        .def(
            "__exit__",
            [](PySimulatedHand& self, const py::object&, const py::object&, const py::object&) {
                GilRelease release;
                self.close();
                return false;
            },
            py::arg("exc_type"), py::arg("exc_value"), py::arg("traceback"))
        .def_property_readonly("model",
                               [](const PySimulatedHand& self) { return self.config().model; })
        .def_property_readonly("side",
                               [](const PySimulatedHand& self) {
                                   return static_cast<HAND_TYPE>(self.config().handId);
                               })
        .def_property_readonly("sensor",
                               [](const PySimulatedHand& self) { return self.config().sensor; })
        .def_property_readonly(
            "firmware", [](const PySimulatedHand& self) { return self.config().softwareVersion; })
        .def_property_readonly(
            "joints",
            [](const PySimulatedHand& self) { return models::info(self.config().model).slots; })
        .def(
            "set_silent",
            [](const PySimulatedHand& self, bool silent) {
                onHand(self, [&](sim::SimulatedHand& hand) { hand.setSilent(silent); });
            },
            py::arg("silent"), "A silent hand neither answers nor obeys, as if unplugged.")
        .def(
            "set_reply_delay",
            [](const PySimulatedHand& self, const py::object& delayArg) {
                const auto delay = toMilliseconds(delayArg, "delay");
                onHand(self, [&](sim::SimulatedHand& hand) { hand.setReplyDelay(delay); });
            },
            py::arg("delay"), "Every reply leaves this much later (timedelta or seconds).")
        .def(
            "set_reply_fault",
            [](const PySimulatedHand& self, sim::ReplyFault fault) {
                onHand(self, [&](sim::SimulatedHand& hand) { hand.setReplyFault(fault); });
            },
            py::arg("fault"))
        .def(
            "inject_fault",
            [](const PySimulatedHand& self, std::uint8_t code) {
                onHand(self, [&](sim::SimulatedHand& hand) { hand.injectFault(code); });
            },
            py::arg("code"), "Every joint reports this fault code until the faults are cleared.")
        .def("clear_faults",
             [](const PySimulatedHand& self) {
                 onHand(self, [](sim::SimulatedHand& hand) { hand.body().clearFaults(); });
             })
        .def("frames_received",
             [](const PySimulatedHand& self) {
                 return onHand(self,
                               [](sim::SimulatedHand& hand) { return hand.framesReceived(); });
             })
        .def("frames_sent",
             [](const PySimulatedHand& self) {
                 return onHand(self, [](sim::SimulatedHand& hand) { return hand.framesSent(); });
             })
        .def("positions", bodyRead(&sim::HandBody::positions), "Every joint's position, 0..255.")
        .def("targets", bodyRead(&sim::HandBody::targets))
        .def("speeds", bodyRead(&sim::HandBody::speeds))
        .def("torques", bodyRead(&sim::HandBody::torques))
        .def("currents", bodyRead(&sim::HandBody::currents))
        .def("temperatures", bodyRead(&sim::HandBody::temperatures))
        .def("faults", bodyRead(&sim::HandBody::faults))
        .def(
            "closure",
            [](const PySimulatedHand& self, std::size_t finger) {
                if (finger >= sim::HandBody::kFingers)
                    throw py::value_error("finger must be 0..4, not " + std::to_string(finger));
                return onHand(
                    self, [&](sim::SimulatedHand& hand) { return hand.body().closure(finger); });
            },
            py::arg("finger"), "0 (open) .. 1 (closed) for finger 0 (thumb) .. 4.");
}

}  // namespace python
}  // namespace velmora

#else

namespace velmora {
namespace python {

void bindSim(pybind11::module_& parent) {
    parent.def_submodule("sim", "Not available: velmora was built without the simulator.");
}

}  // namespace python
}  // namespace velmora

#endif
