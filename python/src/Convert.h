#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace python {

namespace py = pybind11;

/// Arguments taken as they come and converted by the functions below, named in signatures (and
/// so in help()) as the stubs name their types.
struct ByteArg {
    py::object value;
};
struct RadianArg {
    py::object value;
};
struct Duration {
    py::object value;
};

/// Bytes from any sequence or 1-D array of integers. Raises TypeError for a non-integer and
/// ValueError for a value outside 0..255, naming the argument and the index, so that nothing is
/// sent for a bad value. The length is left to the library, which refuses a wrong one itself.
ByteVector toBytes(const py::handle& values, const char* name);
/// Radians from any sequence or 1-D array of numbers (TypeError otherwise).
RadianVector toRadians(const py::handle& values, const char* name);

/// A time-out or delay from a datetime.timedelta or a number of seconds (int or float), rounded
/// to the millisecond. ValueError for a negative, NaN or absurdly long one.
std::chrono::milliseconds toMilliseconds(const py::handle& value, const char* name);

py::array_t<std::uint8_t> toArray(const ByteVector& values);
py::array_t<double> toArray(const RadianVector& values);
/// Rows of equal length as a 2-D array; ragged rows as a list of 1-D arrays.
py::object toArray(const ByteMatrix& rows);
/// Fingers of equal shape as a 3-D array (fingers, rows, values); otherwise a list with one
/// entry per finger, each as toArray(ByteMatrix).
py::object toArray(const ForceData& fingers);

/// Releases the GIL for its lifetime, as py::gil_scoped_release, but lets a thread of a finishing
/// interpreter end: CPython ends a daemon thread that takes the GIL back during shutdown by
/// unwinding its stack, which a noexcept destructor would turn into std::terminate.
class GilRelease {
  public:
    GilRelease() : state_(PyEval_SaveThread()) {}
    ~GilRelease() noexcept(false) { PyEval_RestoreThread(state_); }
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

  private:
    PyThreadState* state_;
};

/// Deletes with the GIL released: destroying a hand or a simulated hand joins its threads, and
/// a thread of the hand may be waiting for the GIL to hand a message to a Python sink.
struct ReleaseGilDelete {
    template <class T>
    void operator()(T* object) const {
        GilRelease release;
        delete object;
    }
};
template <class T>
using Holder = std::unique_ptr<T, ReleaseGilDelete>;

/// Builds an object with the GIL released (opening a channel, starting threads and the first
/// requests to the hand take some time).
template <class T, class... Args>
Holder<T> makeReleased(Args&&... args) {
    GilRelease release;
    return Holder<T>(new T(std::forward<Args>(args)...));
}

}  // namespace python
}  // namespace velmora

namespace pybind11 {
namespace detail {

template <class Arg>
struct argument_caster {
    bool load(handle source, bool) {
        value.value = reinterpret_borrow<object>(source);
        return true;
    }
    static handle cast(const Arg& arg, return_value_policy, handle) { return arg.value.inc_ref(); }
    Arg value;
    // What pybind11's own casters provide (PYBIND11_TYPE_CASTER without the name).
    operator Arg*() { return &value; }
    operator Arg&() { return value; }
    operator Arg&&() && { return std::move(value); }
    template <typename T>
    using cast_op_type = movable_cast_op_type<T>;
};

template <>
struct type_caster<velmora::python::ByteArg> : argument_caster<velmora::python::ByteArg> {
    static constexpr auto name = const_name("velmora.ByteArg");
};
template <>
struct type_caster<velmora::python::RadianArg> : argument_caster<velmora::python::RadianArg> {
    static constexpr auto name = const_name("velmora.RadianArg");
};
template <>
struct type_caster<velmora::python::Duration> : argument_caster<velmora::python::Duration> {
    static constexpr auto name = const_name("velmora.Duration");
};

}  // namespace detail
}  // namespace pybind11
