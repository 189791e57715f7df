// The `velmora` extension module (imported as velmora._velmora by the velmora package).
#include <pybind11/chrono.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "Bindings.h"
#include "Convert.h"
#include "Docs.h"
#include "velmora/velmora.h"

namespace velmora {
namespace python {

namespace {

// Exception types, created once and never freed (they live as long as the process).
py::handle handExceptionType;
py::handle unsupportedFeatureType;
py::handle handTimeoutType;
py::handle handClosedType;
py::handle channelErrorType;

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

// "can9: no such CAN interface (errno 19)": the interface first, as a user looks for it.
std::string channelText(const ChannelException& e) {
    const int error = e.errorNumber();
    std::string reason = e.what();
    if (error == ENODEV && reason == "Failed to get CAN interface index") {
        reason = "no such CAN interface";
    } else if (error != 0) {
        reason += std::string(": ") + std::strerror(error);
    }
    return e.interfaceName() + ": " + reason +
           (error != 0 ? " (errno " + std::to_string(error) + ")" : std::string());
}

void raiseChannelError(const ChannelException& e) {
    const int error = e.errorNumber();
    py::object exception = py::reinterpret_borrow<py::object>(channelErrorType)(
        error, error != 0 ? std::strerror(error) : e.what());
    exception.attr("interface") = e.interfaceName();
    exception.attr("_text") = channelText(e);
    PyErr_SetObject(channelErrorType.ptr(), exception.ptr());
}

void bindExceptions(py::module_& m) {
    py::enum_<HandError>(m, "HandError", docs::HandError)
        .value("UNSUPPORTED_FEATURE", UNSUPPORTED_FEATURE)
        .value("HAND_TIMEOUT", HAND_TIMEOUT);

    handExceptionType =
        newExceptionType(m, "HandException", PyExc_RuntimeError, docs::HandException);
    unsupportedFeatureType = newExceptionType(m, "UnsupportedFeatureException", handExceptionType,
                                              docs::UnsupportedFeatureException);
    handTimeoutType =
        newExceptionType(m, "HandTimeoutException", handExceptionType, docs::HandTimeoutException);
    handClosedType =
        newExceptionType(m, "HandClosedException", handExceptionType, docs::HandClosedException);
    channelErrorType = newExceptionType(m, "ChannelError", PyExc_OSError, docs::ChannelError);
    py::setattr(channelErrorType, "__str__",
                py::cpp_function([](py::handle self) { return self.attr("_text"); },
                                 py::is_method(channelErrorType)));

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
        } catch (const HandClosed& e) {
            PyErr_SetString(handClosedType.ptr(), e.what());
        } catch (const ChannelException& e) {
            raiseChannelError(e);
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

// The library's messages as records of logging.getLogger("velmora"), at the levels of their
// names.
void logToLogging() {
    py::module_ logging = py::module_::import("logging");
    py::object logger = logging.attr("getLogger")("velmora");
    py::dict levels;
    levels[py::cast(MessageLevel::Info)] = logging.attr("INFO");
    levels[py::cast(MessageLevel::Warning)] = logging.attr("WARNING");
    levels[py::cast(MessageLevel::Error)] = logging.attr("ERROR");
    setSink(py::cpp_function([logger, levels](const py::object& level, const py::object& text) {
        logger.attr("log")(levels[level], text);
    }));
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
        [](int jointsType, const std::string& side, const ByteArg& handRange) {
            return toArray(
                ::range_to_arc(jointsType, side, toBytes(handRange.value, "hand_range")));
        },
        py::arg("joints_type"), py::arg("left_or_right"), py::arg("hand_range"),
        docs::range_to_arc);
    m.def(
        "arc_to_range",
        [](int jointsType, const std::string& side, const RadianArg& handArc) {
            return toArray(::arc_to_range(jointsType, side, toRadians(handArc.value, "hand_arc")));
        },
        py::arg("joints_type"), py::arg("left_or_right"), py::arg("hand_arc"), docs::arc_to_range);
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
        py::arg("joints_type"), py::arg("left_or_right"), docs::initialize_params);
    m.def("should_skip_joint", &::should_skip_joint, py::arg("joints_type"), py::arg("joint_index"),
          docs::should_skip_joint);
    m.def("scale_value", &::scale_value, py::arg("value"), py::arg("in_min"), py::arg("in_max"),
          py::arg("out_min"), py::arg("out_max"), docs::scale_value);
    m.def("is_within_range", &::is_within_range, py::arg("value"), py::arg("min"), py::arg("max"),
          docs::is_within_range);
}

void bindEnums(py::module_& m) {
    py::enum_<VELMORA>(m, "Model", docs::Model)
        .value("KESTA_ALT", KESTA_ALT)
        .value("KESTA", KESTA)
        .value("MARLO", MARLO)
        .value("TOVIN", TOVIN)
        .value("RAVEL", RAVEL)
        .value("SABRE", SABRE)
        .value("ZENIT", ZENIT)
        .export_values();
    py::enum_<HAND_TYPE>(m, "Side", docs::Side)
        .value("RIGHT", RIGHT)
        .value("LEFT", LEFT)
        .export_values();
    py::enum_<COMM_TYPE>(m, "Comm", docs::Comm)
        .value("CAN0", CAN0)
        .value("CAN1", CAN1)
        .value("MODBUS", MODBUS)
        .value("ETHERCAT", ETHERCAT)
        .export_values();
    py::enum_<hand::Reading>(m, "Reading", docs::Reading)
        .value("POSITIONS", hand::Reading::Positions)
        .value("SPEEDS", hand::Reading::Speeds)
        .value("TORQUES", hand::Reading::Torques)
        .value("CURRENTS", hand::Reading::Currents)
        .value("TEMPERATURES", hand::Reading::Temperatures)
        .value("FAULTS", hand::Reading::Faults);
    py::enum_<MessageLevel>(m, "MessageLevel", docs::MessageLevel)
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

    m.doc() = docs::module;
    // pybind11 looks NumPy up on first use, under a C++ static-initialisation guard; the first
    // use must not come from two threads at once (each would wait for what the other holds).
    py::array_t<std::uint8_t> warmUp(0);
    static_cast<void>(warmUp);
    m.attr("__version__") = velmora::version();
    m.def("version", &velmora::version, docs::version);

    bindEnums(m);
    bindExceptions(m);
    bindConversions(m);

    m.def("set_message_sink", &setSink, py::arg("sink"), docs::set_message_sink);
    m.def("reset_message_sink", &resetSinkReleased, docs::reset_message_sink);
    m.def("log_to_stdout", &resetSinkReleased, docs::log_to_stdout);
    m.def("log_to_logging", &logToLogging, docs::log_to_logging);
    m.def("_shutdown", &shutdown);
    py::module_::import("atexit").attr("register")(m.attr("_shutdown"));

    bindHands(m);
    bindCatalogue(m);
    bindScan(m);
    bindSim(m);
    logToLogging();
    bindStream(m);
}
