#pragma once

#include <string>

#include "velmora/CanBus.h"

namespace velmora {
namespace sim {

/// A SocketCAN endpoint without pacing, for a simulated hand that answers at bus speed. It
/// does not configure the interface: the interface must be up.
class RawCanBus : public communication::ICanBus {
  public:
    RawCanBus(const std::string& interfaceName, int receiveTimeoutUs);
    ~RawCanBus() override;
    RawCanBus(const RawCanBus&) = delete;
    RawCanBus& operator=(const RawCanBus&) = delete;

    void send(const std::vector<std::uint8_t>& data, std::uint32_t canId, bool flag) override;
    communication::CanMessage recv(const std::uint32_t& canId) override;

  private:
    int fd_ = -1;
};

}  // namespace sim
}  // namespace velmora
