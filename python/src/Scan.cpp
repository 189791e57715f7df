// velmora.scan, identity() on the hand objects and HandMismatchException.
#include <pybind11/chrono.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>

#include "Bindings.h"
#include "Convert.h"
#include "Docs.h"
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
        qualified.c_str(), docs::HandMismatchException, m.attr("HandException").ptr(), nullptr));
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

    py::class_<HandIdentity>(m, "HandIdentity", docs::HandIdentity)
        .def_readonly("identifier", &HandIdentity::identifier, docs::HandIdentity_identifier)
        .def_readonly("side", &HandIdentity::side, docs::HandIdentity_side)
        .def_readonly("side_reported", &HandIdentity::sideReported,
                      docs::HandIdentity_side_reported)
        .def_readonly("candidates", &HandIdentity::candidates, docs::HandIdentity_candidates)
        .def_readonly("firmware", &HandIdentity::firmware, docs::HandIdentity_firmware)
        .def_readonly("hardware", &HandIdentity::hardware, docs::HandIdentity_hardware)
        .def_readonly("degrees_of_freedom", &HandIdentity::degreesOfFreedom,
                      docs::HandIdentity_degrees_of_freedom)
        .def_readonly("degrees_reported", &HandIdentity::degreesReported,
                      docs::HandIdentity_degrees_reported)
        .def_readonly("latency", &HandIdentity::latency, docs::HandIdentity_latency)
        .def_readonly("complete", &HandIdentity::complete, docs::HandIdentity_complete)
        .def_property_readonly("model", &HandIdentity::model, docs::HandIdentity_model)
        .def("fits", &HandIdentity::fits, py::arg("model"), docs::HandIdentity_fits)
        .def("reported", &HandIdentity::reported, docs::HandIdentity_reported)
        .def("model_text", &HandIdentity::modelText, docs::HandIdentity_model_text)
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
        py::arg("bit_rate") = 1000000, docs::scan);
    m.def("contradiction", &contradiction, py::arg("identity"), py::arg("model"), py::arg("side"),
          docs::contradiction);

    py::reinterpret_borrow<py::class_<hand::HandHealth>>(m.attr("HandHealth"))
        .def_readonly("identity_checked", &hand::HandHealth::identityChecked,
                      docs::HandHealth_identity_checked)
        .def_readonly("model_mismatch", &hand::HandHealth::modelMismatch,
                      docs::HandHealth_model_mismatch)
        .def_readonly("mismatch", &hand::HandHealth::mismatch, docs::HandHealth_mismatch);
}

}  // namespace python
}  // namespace velmora
