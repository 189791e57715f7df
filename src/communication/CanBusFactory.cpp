#include "detail/CanSystem.h"
#include "detail/ChannelLink.h"
#include "velmora/CanBus.h"
#include "velmora/VirtualCanBus.h"

namespace velmora {
namespace communication {

namespace {
// Linux interface names cannot contain ':', so this prefix never hides a real interface.
constexpr char kVirtualPrefix[] = "virtual:";
}  // namespace

std::unique_ptr<ICanBus> CanBusFactory::createCanBus(std::uint32_t /*kind*/,
                                                     const std::string& name, int bitRate,
                                                     VELMORA model) {
    const std::string prefix = kVirtualPrefix;
    if (name.compare(0, prefix.size(), prefix) == 0) {
        return std::make_unique<VirtualCanBus>(name.substr(prefix.size()), model);
    }
    return std::make_unique<CanBus>(name, bitRate, model);
}

namespace detail {

std::unique_ptr<ChannelLink> linkTo(ICanBus& bus) {
    if (auto* socketCan = dynamic_cast<CanBus*>(&bus)) {
        return CanBusAccess::link(*socketCan);
    }
    if (auto* virtualBus = dynamic_cast<VirtualCanBus*>(&bus)) {
        return VirtualCanBusAccess::link(*virtualBus);
    }
    return nullptr;
}

}  // namespace detail

}  // namespace communication
}  // namespace velmora
