// The `velmora` extension module (imported as velmora._velmora by the velmora package).
#include <pybind11/chrono.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "Bindings.h"
#include "Convert.h"
#include "velmora/velmora.h"

namespace velmora {
namespace python {

namespace {

// Exception types, created once and never freed (they live as long as the process).
py::handle handExceptionType;
py::handle unsupportedFeatureType;
py::handle handTimeoutType;

py::handle newExceptionType(py::module_& m, const char* name, py::handle base, const char* doc) {
    const std::string qualified = std::string("velmora.") + name;
    py::handle type(PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base.ptr(), nullptr));
    if (!type)
        throw py::error_already_set();
    m.add_object(name, type);
    return type;
}

void raise(py::handle type, const HandException& error, const std::string* featureName) {
    py::object exception = py::reinterpret_borrow<py::object>(type)(error.what());
    exception.attr("code") = py::cast(error.code());
    if (featureName != nullptr)
        exception.attr("feature_name") = *featureName;
    PyErr_SetObject(type.ptr(), exception.ptr());
}

void bindExceptions(py::module_& m) {
    py::enum_<HandError>(m, "HandError", "Error codes carried by HandException.code.")
        .value("UNSUPPORTED_FEATURE", UNSUPPORTED_FEATURE)
        .value("HAND_TIMEOUT", HAND_TIMEOUT);

    handExceptionType = newExceptionType(m, "HandException", PyExc_RuntimeError,
                                         "Base of the library's own exceptions.");
    unsupportedFeatureType = newExceptionType(m, "UnsupportedFeatureException", handExceptionType,
                                              "An operation the hand model does not provide.");
    handTimeoutType = newExceptionType(m, "HandTimeoutException", handExceptionType,
                                       "A fresh read whose replies did not all arrive in time.");

    // std::invalid_argument and std::runtime_error become ValueError and RuntimeError through
    // pybind11's own translator, which runs after this one.
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown)
                std::rethrow_exception(thrown);
        } catch (const UnsupportedFeatureException& e) {
            raise(unsupportedFeatureType, e, &e.featureName());
        } catch (const HandTimeoutException& e) {
            raise(handTimeoutType, e, nullptr);
        } catch (const HandException& e) {
            raise(handExceptionType, e, nullptr);
        }
    });
}

// The message sink. The library calls it from its own threads (a hand's receive thread, say):
// the trampoline takes the GIL for each call. Once the interpreter starts to shut down the
// trampoline stops calling into Python, and shutdown waits for calls already inside it.
std::atomic<bool> pythonAlive{true};
std::atomic<int> sinkCallsInFlight{0};

struct PythonCallable {
    py::object callable;
    ~PythonCallable() {
        if (pythonAlive && Py_IsInitialized()) {
            py::gil_scoped_acquire gil;
            callable = py::object();
        } else {
            callable.release();  // no interpreter to give it back to
        }
    }
};

void resetSinkReleased() {
    GilRelease release;
    resetMessageSink();
}

void setSink(const py::object& callable) {
    if (callable.is_none()) {
        resetSinkReleased();
        return;
    }
    if (!PyCallable_Check(callable.ptr())) {
        throw py::type_error(
            "set_message_sink needs a callable taking (level, text), not " +
            py::str(py::type::handle_of(callable).attr("__name__")).cast<std::string>());
    }
    if (!pythonAlive)
        return;
    auto target = std::make_shared<PythonCallable>();
    target->callable = callable;
    MessageSink sink = [target](MessageLevel level, const std::string& text) {
        ++sinkCallsInFlight;
        struct Leave {
            ~Leave() { --sinkCallsInFlight; }
        } leave;
        if (!pythonAlive)
            return;
        py::gil_scoped_acquire gil;
        try {
            py::object line = py::reinterpret_steal<py::object>(PyUnicode_DecodeUTF8(
                text.data(), static_cast<py::ssize_t>(text.size()), "replace"));
            target->callable(level, line);
        } catch (py::error_already_set& e) {
            e.discard_as_unraisable("velmora message sink");
        }
    };
    GilRelease release;
    setMessageSink(std::move(sink));
}

void shutdown() {
    pythonAlive = false;
    GilRelease release;
    resetMessageSink();
    // A call already in the sink may be waiting for the GIL released above; let it finish.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (sinkCallsInFlight > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void bindConversions(py::module_& m) {
    m.def(
        "range_to_arc",
        [](int jointsType, const std::string& side, const py::object& handRange) {
            return toArray(::range_to_arc(jointsType, side, toBytes(handRange, "hand_range")));
        },
        py::arg("joints_type"), py::arg("left_or_right"), py::arg("hand_range"),
        "Radians from range bytes; empty (and a message) for a bad key, side or length.");
    m.def(
        "arc_to_range",
        [](int jointsType, const std::string& side, const py::object& handArc) {
            return toArray(::arc_to_range(jointsType, side, toRadians(handArc, "hand_arc")));
        },
        py::arg("joints_type"), py::arg("left_or_right"), py::arg("hand_arc"),
        "Range bytes from radians, clamped to each joint's limits; empty for a bad key, side or "
        "length.");
    m.def(
        "initialize_params",
        [](int jointsType, const std::string& side) -> py::object {
            std::vector<double> min, max;
            std::vector<int> derict;
            if (!::initialize_params(jointsType, side, min, max, derict))
                return py::none();
            return py::make_tuple(
                toArray(min), toArray(max),
                py::array_t<int>(static_cast<py::ssize_t>(derict.size()), derict.data()));
        },
        py::arg("joints_type"), py::arg("left_or_right"),
        "(min, max, derict) limit tables of a key and side, or None when there are none.");
    m.def("should_skip_joint", &::should_skip_joint, py::arg("joints_type"),
          py::arg("joint_index"));
    m.def("scale_value", &::scale_value, py::arg("value"), py::arg("in_min"), py::arg("in_max"),
          py::arg("out_min"), py::arg("out_max"));
    m.def("is_within_range", &::is_within_range, py::arg("value"), py::arg("min"), py::arg("max"));
}

void bindEnums(py::module_& m) {
    py::enum_<VELMORA>(m, "Model", "Hand models (C++ enum VELMORA).")
        .value("KESTA_ALT", KESTA_ALT)
        .value("KESTA", KESTA)
        .value("MARLO", MARLO)
        .value("TOVIN", TOVIN)
        .value("RAVEL", RAVEL)
        .value("SABRE", SABRE)
        .value("ZENIT", ZENIT)
        .export_values();
    py::enum_<HAND_TYPE>(m, "Side", "Hand side; the value is the hand's CAN identifier.")
        .value("RIGHT", RIGHT)
        .value("LEFT", LEFT)
        .export_values();
    py::enum_<COMM_TYPE>(m, "Comm", "Transport (C++ enum COMM_TYPE).")
        .value("CAN0", CAN0)
        .value("CAN1", CAN1)
        .value("MODBUS", MODBUS)
        .value("ETHERCAT", ETHERCAT)
        .export_values();
    py::enum_<hand::Reading>(m, "Reading", "The kinds of state a fresh read returns.")
        .value("POSITIONS", hand::Reading::Positions)
        .value("SPEEDS", hand::Reading::Speeds)
        .value("TORQUES", hand::Reading::Torques)
        .value("CURRENTS", hand::Reading::Currents)
        .value("TEMPERATURES", hand::Reading::Temperatures)
        .value("FAULTS", hand::Reading::Faults);
    py::enum_<MessageLevel>(m, "MessageLevel", "How serious a message of the library is.")
        .value("INFO", MessageLevel::Info)
        .value("WARNING", MessageLevel::Warning)
        .value("ERROR", MessageLevel::Error);
}

}  // namespace

}  // namespace python
}  // namespace velmora

PYBIND11_MODULE(_velmora, m) {
    namespace py = pybind11;
    using namespace velmora::python;

    m.doc() = "Drive dexterous robot hands over CAN: the velmora SDK from Python.";
    // pybind11 looks NumPy up on first use, under a C++ static-initialisation guard; the first
    // use must not come from two threads at once (each would wait for what the other holds).
    py::array_t<std::uint8_t> warmUp(0);
    static_cast<void>(warmUp);
    m.attr("__version__") = velmora::version();
    m.def("version", &velmora::version, "The version of the velmora library in use.");

    bindEnums(m);
    bindExceptions(m);
    bindConversions(m);

    m.def("set_message_sink", &setSink, py::arg("sink"),
          "Routes every message of the library to sink(level, text), from whatever thread "
          "writes it; None restores the default (standard output and error).");
    m.def("reset_message_sink", &resetSinkReleased,
          "Restores the default: each message to standard output or standard error.");
    m.def("_shutdown", &shutdown);
    py::module_::import("atexit").attr("register")(m.attr("_shutdown"));

    bindHands(m);
    bindSim(m);
    bindStream(m);
}
