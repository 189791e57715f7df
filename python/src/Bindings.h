#pragma once

#include <pybind11/pybind11.h>

namespace velmora {
namespace python {

/// VelmoraApi, the hand interface and model classes, HandHealth, VirtualCanBus, HandFactory.
void bindHands(pybind11::module_& m);
/// The submodule `sim` (simulated hands); an empty one when built without the simulator.
void bindSim(pybind11::module_& m);
/// HandStream and its readings and health.
void bindStream(pybind11::module_& m);

}  // namespace python
}  // namespace velmora
