// velmora.scan, identity() on the hand objects and HandMismatchException.
#include <pybind11/chrono.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>

#include "Bindings.h"
#include "Convert.h"
#include "velmora/velmora.h"

namespace velmora {
namespace python {

namespace {

// Created once and never freed, like the module's other exception types.
py::handle handMismatchType;

}  // namespace

void bindScan(py::module_& m) {
    const std::string qualified = "velmora.HandMismatchException";
    handMismatchType = py::handle(PyErr_NewExceptionWithDoc(
        qualified.c_str(),
        "The hand reports another model or side than the hand object was built for.",
        m.attr("HandException").ptr(), nullptr));
    if (!handMismatchType)
        throw py::error_already_set();
    m.add_object("HandMismatchException", handMismatchType);
    // Registered after the module's own translator, so tried before it.
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown)
                std::rethrow_exception(thrown);
        } catch (const HandMismatchException& e) {
            py::object exception = py::reinterpret_borrow<py::object>(handMismatchType)(e.what());
            exception.attr("code") = py::cast(e.code());
            PyErr_SetObject(handMismatchType.ptr(), exception.ptr());
        }
    });

    py::class_<HandIdentity>(m, "HandIdentity", "What one hand said about itself.")
        .def_readonly("identifier", &HandIdentity::identifier)
        .def_readonly("side", &HandIdentity::side)
        .def_readonly("side_reported", &HandIdentity::sideReported)
        .def_readonly("candidates", &HandIdentity::candidates)
        .def_readonly("firmware", &HandIdentity::firmware)
        .def_readonly("hardware", &HandIdentity::hardware)
        .def_readonly("degrees_of_freedom", &HandIdentity::degreesOfFreedom)
        .def_readonly("degrees_reported", &HandIdentity::degreesReported)
        .def_readonly("latency", &HandIdentity::latency)
        .def_readonly("complete", &HandIdentity::complete)
        .def_property_readonly("model", &HandIdentity::model)
        .def("fits", &HandIdentity::fits, py::arg("model"))
        .def("reported", &HandIdentity::reported)
        .def("model_text", &HandIdentity::modelText)
        .def("__repr__", [](const HandIdentity& h) {
            return "HandIdentity(identifier=" + std::to_string(h.identifier) + ", " +
                   h.modelText() + ", " + h.reported() + ", firmware='" + h.firmware + "')";
        });

    m.def(
        "scan",
        [](const std::string& channel, const py::object& timeoutArg, int bitRate) {
            const std::chrono::milliseconds timeout = toMilliseconds(timeoutArg, "timeout");
            GilRelease release;
            return scan(channel, timeout, bitRate);
        },
        py::arg("channel"), py::arg("timeout") = py::cast(kScanTimeout),
        py::arg("bit_rate") = 1000000,
        "The hands that answer the version requests on the channel, right hand first.");
    m.def("contradiction", &contradiction, py::arg("identity"), py::arg("model"), py::arg("side"),
          "Why the identity contradicts model and side ('it is a tovin, not a zenit'); '' when "
          "it fits.");

    py::reinterpret_borrow<py::class_<hand::HandHealth>>(m.attr("HandHealth"))
        .def_readonly("identity_checked", &hand::HandHealth::identityChecked)
        .def_readonly("model_mismatch", &hand::HandHealth::modelMismatch)
        .def_readonly("mismatch", &hand::HandHealth::mismatch);
}

}  // namespace python
}  // namespace velmora
