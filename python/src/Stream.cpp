// velmora.HandStream: a control loop's link to a hand that never waits for the bus.
#include <pybind11/chrono.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>

#include "Bindings.h"
#include "Convert.h"
#include "Docs.h"
#include "velmora/velmora.h"

namespace velmora {
namespace python {

namespace {

using hand::Reading;
using std::chrono::milliseconds;

// A wait gives the interpreter a chance to see Ctrl-C this often.
constexpr milliseconds kSignalCheck{50};

double seconds(std::chrono::nanoseconds d) {
    return std::chrono::duration<double>(d).count();
}

// A stream and what this Python object has handed out of it.
struct PyStream {
    // The hand object, kept for as long as the stream runs on it (declared first: it goes last).
    std::shared_ptr<void> owner;
    std::unique_ptr<HandStream> stream;
    std::atomic<std::uint64_t> handedOut{0};  // the last positions reading given to Python
    std::atomic<bool> closed{false};

    void close() {
        closed = true;
        GilRelease release;
        stream->close();
    }

    // Waits for a reading of `what` newer than `after` in steps that let Ctrl-C through;
    // None on time-out (negative: none) or once closed.
    std::optional<StampedReading> wait(Reading what, std::uint64_t after,
                                       std::optional<milliseconds> timeout) {
        const auto deadline = timeout ? std::chrono::steady_clock::now() + *timeout
                                      : std::chrono::steady_clock::time_point::max();
        while (!closed) {
            const auto left = deadline - std::chrono::steady_clock::now();
            const milliseconds step = std::min<milliseconds>(
                kSignalCheck, std::chrono::duration_cast<milliseconds>(
                                  std::max(left, std::chrono::steady_clock::duration::zero())));
            std::optional<StampedReading> reading;
            {
                GilRelease release;
                reading = stream->next(what, after, step);
            }
            if (reading) {
                if (what == Reading::Positions) {
                    handedOut = std::max<std::uint64_t>(handedOut, reading->sequence);
                }
                return reading;
            }
            if (PyErr_CheckSignals() != 0) {
                throw py::error_already_set();
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                break;
            }
        }
        return std::nullopt;
    }
};

std::optional<milliseconds> optionalTimeout(const py::object& value) {
    if (value.is_none()) {
        return std::nullopt;
    }
    return toMilliseconds(value, "timeout");
}

double rateArg(const py::object& value) {
    if (value.is_none()) {
        return HandStreamOptions::kEveryCycle;
    }
    return value.cast<double>();
}

HandStreamOptions optionsFrom(const py::object& rate, const py::object& temperatures,
                              const py::object& faults, const py::object& rates,
                              const py::object& keepAlive) {
    HandStreamOptions options;
    options.rate(Reading::Positions, rateArg(rate));
    if (!temperatures.is_none()) {
        options.rate(Reading::Temperatures, temperatures.cast<double>());
    }
    if (!faults.is_none()) {
        options.rate(Reading::Faults, faults.cast<double>());
    }
    if (!rates.is_none()) {
        for (const auto& [key, value] : rates.cast<py::dict>()) {
            options.rate(key.cast<Reading>(), rateArg(py::reinterpret_borrow<py::object>(value)));
        }
    }
    options.keepAlive = toMilliseconds(keepAlive, "keep_alive");
    return options;
}

py::object stampedOrNone(const std::optional<StampedReading>& reading) {
    if (!reading) {
        return py::none();
    }
    return py::cast(*reading);
}

void bindTypes(py::module_& m) {
    py::class_<StampedReading>(m, "StampedReading", docs::StampedReading)
        .def_readonly("reading", &StampedReading::reading, docs::StampedReading_reading)
        .def_property_readonly(
            "values", [](const StampedReading& r) { return toArray(r.values); },
            docs::StampedReading_values)
        .def_property_readonly(
            "received",
            [](const StampedReading& r) { return seconds(r.received.time_since_epoch()); },
            docs::StampedReading_received)
        .def_property_readonly(
            "received_time",
            [](const StampedReading& r) { return seconds(r.receivedSystem.time_since_epoch()); },
            docs::StampedReading_received_time)
        .def_readonly("sequence", &StampedReading::sequence, docs::StampedReading_sequence)
        .def_property_readonly(
            "age", [](const StampedReading& r) { return seconds(r.age); }, docs::StampedReading_age)
        .def("__repr__", [](const StampedReading& r) {
            return "StampedReading(" + std::string(models::readingName(r.reading).name) +
                   ", sequence=" + std::to_string(r.sequence) +
                   ", values=" + std::to_string(r.values.size()) + ")";
        });

    py::class_<StreamReadingHealth>(m, "StreamReadingHealth", docs::StreamReadingHealth)
        .def_readonly("requested_rate", &StreamReadingHealth::requestedRate,
                      docs::StreamReadingHealth_requested_rate)
        .def_readonly("achieved_rate", &StreamReadingHealth::achievedRate,
                      docs::StreamReadingHealth_achieved_rate)
        .def_readonly("readings", &StreamReadingHealth::readings,
                      docs::StreamReadingHealth_readings)
        .def_property_readonly(
            "cycle_cost", [](const StreamReadingHealth& h) { return seconds(h.cycleCost); },
            docs::StreamReadingHealth_cycle_cost);

    py::class_<HandStreamHealth>(m, "HandStreamHealth", docs::HandStreamHealth)
        .def_readonly("frames_per_second", &HandStreamHealth::framesPerSecond,
                      docs::HandStreamHealth_frames_per_second)
        .def_readonly("frame_limit_per_second", &HandStreamHealth::frameLimitPerSecond,
                      docs::HandStreamHealth_frame_limit_per_second)
        .def_readonly("budget_used", &HandStreamHealth::budgetUsed,
                      docs::HandStreamHealth_budget_used)
        .def_readonly("frames_sent", &HandStreamHealth::framesSent,
                      docs::HandStreamHealth_frames_sent)
        .def_readonly("commands_sent", &HandStreamHealth::commandsSent,
                      docs::HandStreamHealth_commands_sent)
        .def_readonly("commands_superseded", &HandStreamHealth::commandsSuperseded,
                      docs::HandStreamHealth_commands_superseded)
        .def_readonly("commands_unchanged", &HandStreamHealth::commandsUnchanged,
                      docs::HandStreamHealth_commands_unchanged)
        .def_readonly("keep_alives_sent", &HandStreamHealth::keepAlivesSent,
                      docs::HandStreamHealth_keep_alives_sent)
        .def_property_readonly(
            "readings",
            [](const HandStreamHealth& h) {
                py::dict readings;
                for (Reading what : models::kAllReadings) {
                    const StreamReadingHealth& r = h.readings[static_cast<std::size_t>(what)];
                    if (r.requestedRate > 0) {
                        readings[py::cast(what)] = r;
                    }
                }
                return readings;
            },
            docs::HandStreamHealth_readings);
}

Holder<PyStream> openStream(const py::object& hand, const py::object& rate,
                            const py::object& temperatures, const py::object& faults,
                            const py::object& rates, const py::object& keepAlive) {
    const HandStreamOptions options = optionsFrom(rate, temperatures, faults, rates, keepAlive);
    auto made = makeReleased<PyStream>();
    if (std::shared_ptr<VelmoraApi> api = sharedApi(hand)) {
        GilRelease release;
        made->stream = std::make_unique<HandStream>(*api, options);
        made->owner = std::move(api);
    } else if (std::shared_ptr<hand::IHand> object = sharedHand(hand)) {
        GilRelease release;
        made->stream = std::make_unique<HandStream>(*object, options);
        made->owner = std::move(object);
    } else {
        throw py::type_error("HandStream streams a velmora.VelmoraApi or a hand object");
    }
    return made;
}

}  // namespace

void bindStream(py::module_& m) {
    bindTypes(m);
    py::class_<PyStream, Holder<PyStream>>(m, "HandStream", docs::HandStream)
        .def(py::init(&openStream), py::arg("hand"), py::arg("rate") = py::none(),
             py::arg("temperatures") = py::none(), py::arg("faults") = py::none(),
             py::arg("rates") = py::none(), py::arg("keep_alive") = 1.0, docs::HandStream_init)
        .def(
            "command",
            [](PyStream& self, const py::object& positions) {
                self.stream->command(toBytes(positions, "positions"));
            },
            py::arg("positions"), docs::HandStream_command)
        .def(
            "command_arc",
            [](PyStream& self, const py::object& angles) {
                self.stream->commandArc(toRadians(angles, "angles"));
            },
            py::arg("angles"), docs::HandStream_command_arc)
        .def(
            "latest",
            [](PyStream& self) {
                const StreamState state = self.stream->latest();
                py::dict readings;
                for (const StampedReading& r : state.readings) {
                    if (!r.empty()) {
                        readings[py::cast(r.reading)] = r;
                    }
                }
                return readings;
            },
            docs::HandStream_latest)
        .def(
            "latest",
            [](PyStream& self, Reading what) {
                const StampedReading r = self.stream->latest(what);
                return r.empty() ? py::none() : py::cast(r);
            },
            py::arg("reading"), docs::HandStream_latest_2)
        .def(
            "wait",
            [](PyStream& self, const py::object& after, const py::object& timeout, Reading what) {
                const std::uint64_t held =
                    after.is_none() ? (what == Reading::Positions ? self.handedOut.load() : 0)
                                    : after.cast<const StampedReading&>().sequence;
                return stampedOrNone(self.wait(what, held, optionalTimeout(timeout)));
            },
            py::arg("after") = py::none(), py::arg("timeout") = 1.0,
            py::arg("reading") = Reading::Positions, docs::HandStream_wait)
        .def(
            "next",
            [](py::object self, const py::object& after, const py::object& timeout, Reading what) {
                py::object loop = py::module_::import("asyncio").attr("get_running_loop")();
                py::object call = py::module_::import("functools")
                                      .attr("partial")(self.attr("wait"), after, timeout, what);
                return loop.attr("run_in_executor")(py::none(), call);
            },
            py::arg("after") = py::none(), py::arg("timeout") = 1.0,
            py::arg("reading") = Reading::Positions, docs::HandStream_next)
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__",
             [](PyStream& self) {
                 auto reading = self.wait(Reading::Positions, self.handedOut, std::nullopt);
                 if (!reading) {
                     throw py::stop_iteration();
                 }
                 return *reading;
             })
        .def(
            "set_keep_alive",
            [](PyStream& self, const py::object& keepAlive) {
                self.stream->setKeepAlive(toMilliseconds(keepAlive, "keep_alive"));
            },
            py::arg("keep_alive"), docs::HandStream_set_keep_alive)
        .def(
            "health", [](PyStream& self) { return self.stream->health(); }, docs::HandStream_health)
        .def_property_readonly(
            "model", [](PyStream& self) { return self.stream->model(); }, docs::HandStream_model)
        .def("close", &PyStream::close, docs::HandStream_close)
        .def(
            "__enter__", [](py::object self) { return self; }, docs::HandStream_enter)
        .def(
            "__exit__",
            [](PyStream& self, const py::args&) {
                self.close();
                return false;
            },
            docs::HandStream_exit);
}

}  // namespace python
}  // namespace velmora
