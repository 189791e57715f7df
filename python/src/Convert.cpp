#include "Convert.h"

#include <pybind11/chrono.h>

#include <cmath>
#include <cstring>
#include <string>

namespace velmora {
namespace python {

namespace {

std::string typeName(const py::handle& value) {
    return py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
}

// A string is a sequence too, but never of joint values.
bool isSequence(const py::handle& values) {
    return PySequence_Check(values.ptr()) && !py::isinstance<py::str>(values);
}

void checkShape(const py::handle& values, const char* name) {
    if (py::isinstance<py::array>(values)) {
        const auto array = py::reinterpret_borrow<py::array>(values);
        if (array.ndim() != 1) {
            throw py::value_error(std::string(name) + " must be one-dimensional, not of " +
                                  std::to_string(array.ndim()) + " dimensions");
        }
    }
}

}  // namespace

ByteVector toBytes(const py::handle& values, const char* name) {
    checkShape(values, name);
    if (py::isinstance<py::array_t<std::uint8_t, 0>>(values)) {
        const auto array = py::reinterpret_borrow<py::array_t<std::uint8_t, 0>>(values);
        const auto view = array.unchecked<1>();
        ByteVector out(static_cast<std::size_t>(view.shape(0)));
        for (py::ssize_t i = 0; i < view.shape(0); ++i)
            out[static_cast<std::size_t>(i)] = view(i);
        return out;
    }
    if (!isSequence(values)) {
        throw py::type_error(std::string(name) + " must be a sequence of integers 0..255, not " +
                             typeName(values));
    }
    const auto sequence = py::reinterpret_borrow<py::sequence>(values);
    const auto size = sequence.size();
    ByteVector out;
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        const py::object item = sequence[i];
        const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(item.ptr()));
        if (!index) {
            PyErr_Clear();
            throw py::type_error(std::string(name) + "[" + std::to_string(i) +
                                 "] must be an integer 0..255, not " + typeName(item));
        }
        int overflow = 0;
        const long long value = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        if (overflow != 0 || value < 0 || value > 255) {
            throw py::value_error(std::string(name) + "[" + std::to_string(i) + "] = " +
                                  py::repr(index).cast<std::string>() + " is outside 0..255");
        }
        out.push_back(static_cast<std::uint8_t>(value));
    }
    return out;
}

RadianVector toRadians(const py::handle& values, const char* name) {
    checkShape(values, name);
    if (py::isinstance<py::array_t<double, 0>>(values)) {
        const auto array = py::reinterpret_borrow<py::array_t<double, 0>>(values);
        const auto view = array.unchecked<1>();
        RadianVector out(static_cast<std::size_t>(view.shape(0)));
        for (py::ssize_t i = 0; i < view.shape(0); ++i)
            out[static_cast<std::size_t>(i)] = view(i);
        return out;
    }
    if (!isSequence(values)) {
        throw py::type_error(std::string(name) + " must be a sequence of numbers (radians), not " +
                             typeName(values));
    }
    const auto sequence = py::reinterpret_borrow<py::sequence>(values);
    const auto size = sequence.size();
    RadianVector out;
    out.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        const py::object item = sequence[i];
        if (py::isinstance<py::str>(item) || py::isinstance<py::bytes>(item)) {
            throw py::type_error(std::string(name) + "[" + std::to_string(i) +
                                 "] must be a number, not " + typeName(item));
        }
        const double value = PyFloat_AsDouble(item.ptr());
        if (value == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            throw py::type_error(std::string(name) + "[" + std::to_string(i) +
                                 "] must be a number, not " + typeName(item));
        }
        out.push_back(value);
    }
    return out;
}

std::chrono::milliseconds toMilliseconds(const py::handle& value, const char* name) {
    double seconds = 0;
    if (py::isinstance(value, py::module_::import("datetime").attr("timedelta"))) {
        seconds = value.attr("total_seconds")().cast<double>();
    } else if (PyNumber_Check(value.ptr()) && !py::isinstance<py::bool_>(value)) {
        seconds = PyFloat_AsDouble(value.ptr());
        if (seconds == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            throw py::type_error(std::string(name) + " must be a timedelta or seconds, not " +
                                 typeName(value));
        }
    } else {
        throw py::type_error(std::string(name) + " must be a timedelta or seconds, not " +
                             typeName(value));
    }
    // A day is far beyond any wait on a hand, and keeps the conversion exact.
    if (!(seconds >= 0 && seconds <= 86400)) {
        throw py::value_error(std::string(name) + " must be 0 .. 86400 seconds, not " +
                              py::repr(value).cast<std::string>());
    }
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

py::array_t<std::uint8_t> toArray(const ByteVector& values) {
    py::array_t<std::uint8_t> out(static_cast<py::ssize_t>(values.size()));
    if (!values.empty())
        std::memcpy(out.mutable_data(), values.data(), values.size());
    return out;
}

py::array_t<double> toArray(const RadianVector& values) {
    py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
    if (!values.empty())
        std::memcpy(out.mutable_data(), values.data(), values.size() * sizeof(double));
    return out;
}

namespace {

bool rectangular(const ByteMatrix& rows) {
    for (const auto& row : rows) {
        if (row.size() != rows.front().size())
            return false;
    }
    return true;
}

}  // namespace

py::object toArray(const ByteMatrix& rows) {
    if (rows.empty())
        return py::array_t<std::uint8_t>(std::vector<py::ssize_t>{0, 0});
    if (!rectangular(rows)) {
        py::list out;
        for (const auto& row : rows)
            out.append(toArray(row));
        return std::move(out);
    }
    const auto columns = rows.front().size();
    py::array_t<std::uint8_t> out(std::vector<py::ssize_t>{static_cast<py::ssize_t>(rows.size()),
                                                           static_cast<py::ssize_t>(columns)});
    auto* data = out.mutable_data();
    for (const auto& row : rows) {
        if (!row.empty())
            std::memcpy(data, row.data(), columns);
        data += columns;
    }
    return std::move(out);
}

py::object toArray(const ForceData& fingers) {
    if (fingers.empty())
        return py::array_t<std::uint8_t>(std::vector<py::ssize_t>{0, 0, 0});
    const auto& first = fingers.front();
    bool sameShape = rectangular(first) || first.empty();
    for (const auto& finger : fingers) {
        if (!sameShape)
            break;
        sameShape = finger.size() == first.size() && rectangular(finger) &&
                    (finger.empty() || finger.front().size() == first.front().size());
    }
    if (!sameShape) {
        py::list out;
        for (const auto& finger : fingers)
            out.append(toArray(finger));
        return std::move(out);
    }
    const std::size_t rows = first.size();
    const std::size_t columns = rows == 0 ? 0 : first.front().size();
    py::array_t<std::uint8_t> out(std::vector<py::ssize_t>{static_cast<py::ssize_t>(fingers.size()),
                                                           static_cast<py::ssize_t>(rows),
                                                           static_cast<py::ssize_t>(columns)});
    auto* data = out.mutable_data();
    for (const auto& finger : fingers) {
        for (const auto& row : finger) {
            if (columns != 0)
                std::memcpy(data, row.data(), columns);
            data += columns;
        }
    }
    return std::move(out);
}

}  // namespace python
}  // namespace velmora
