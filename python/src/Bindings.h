#pragma once

#include <pybind11/pybind11.h>

namespace velmora {
namespace python {

/// VelmoraApi, the hand interface and model classes, HandHealth, VirtualCanBus, HandFactory.
void bindHands(pybind11::module_& m);
/// The submodule `models`: the model catalogue.
void bindCatalogue(pybind11::module_& m);
/// The submodule `sim` (simulated hands); an empty one when built without the simulator.
void bindSim(pybind11::module_& m);
/// scan, HandIdentity, identity() on the hands and HandMismatchException; after bindHands.
void bindScan(pybind11::module_& m);

}  // namespace python
}  // namespace velmora
