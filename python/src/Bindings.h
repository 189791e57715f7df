#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <stdexcept>

class VelmoraApi;

namespace velmora {
namespace hand {
class IHand;
}
namespace python {

/// A call on an object after its close() (velmora.HandClosedException).
class HandClosed : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// VelmoraApi, the hand interface and model classes, HandHealth, VirtualCanBus, HandFactory.
void bindHands(pybind11::module_& m);
/// The submodule `models`: the model catalogue.
void bindCatalogue(pybind11::module_& m);
/// The submodule `sim` (simulated hands); an empty one when built without the simulator.
void bindSim(pybind11::module_& m);
/// scan, HandIdentity, identity() on the hands and HandMismatchException; after bindHands.
void bindScan(pybind11::module_& m);
/// The object a Python VelmoraApi (or hand class) holds, shared so that it outlives a stream
/// of it; null for any other object. Raises HandClosedException once it is closed.
std::shared_ptr<VelmoraApi> sharedApi(pybind11::handle object);
std::shared_ptr<hand::IHand> sharedHand(pybind11::handle object);
/// HandStream and its readings and health.
void bindStream(pybind11::module_& m);

}  // namespace python
}  // namespace velmora
