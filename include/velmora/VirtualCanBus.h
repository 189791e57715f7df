#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "velmora/CanBus.h"
#include "velmora/Export.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace communication {

namespace detail {
class VirtualBusEndpoint;
}

/// An in-process CAN bus: a stand-in for a CAN interface in tests, simulators and demos.
///
/// Every endpoint opened on the same bus name in one process receives a copy of each frame that
/// any other endpoint on that bus sends (not its own), in send order, as sockets on one vcan
/// interface do. Each endpoint buffers at most kQueueCapacity frames; beyond that new frames are
/// dropped for that endpoint, as a full socket buffer does. Thread-safe: any number of senders,
/// one receiver per endpoint, endpoints joining and leaving at any time.
///
/// Hands reach it through CanBusFactory with a channel name such as "virtual:can0".
class VELMORA_API VirtualCanBus : public ICanBus {
  public:
    static constexpr std::size_t kQueueCapacity = 1024;

    /// A peer endpoint without pacing, for a simulated hand or a test standing in for one.
    explicit VirtualCanBus(const std::string& busName);
    /// An endpoint paced exactly as a CanBus channel of that model.
    VirtualCanBus(const std::string& busName, VELMORA model);
    ~VirtualCanBus() override;
    VirtualCanBus(const VirtualCanBus&) = delete;
    VirtualCanBus& operator=(const VirtualCanBus&) = delete;

    void send(const std::vector<std::uint8_t>& data, std::uint32_t canId, bool flag) override;
    CanMessage recv(const std::uint32_t& canId) override;
    /// Consumes one frame of any identifier, as a raw socket reads it (for recorders and
    /// monitors of the whole bus). Throws std::runtime_error("Failed to receive CAN frame") on the
    /// receive time-out.
    CanMessage recvAny();
    /// recvAny, and the time the frame was put on the bus (as a kernel's receive time stamp).
    CanMessage recvAny(std::chrono::steady_clock::time_point& sentAt);

    /// Receive time-out (1 s when opened); 0 s and 0 us waits forever. Throws
    /// std::runtime_error("Failed to set receive timeout") for a negative or malformed value.
    void setReceiveTimeout(int seconds, int microseconds);

    const std::string& busName() const noexcept { return busName_; }
    /// Frames this endpoint lost because its receive queue was full.
    std::size_t droppedFrames() const;

  private:
    friend class detail::VirtualCanBusAccess;

    std::string busName_;
    std::optional<VELMORA> pacedAs_;
    std::mutex sendMutex_;
    std::shared_ptr<detail::VirtualBusEndpoint> endpoint_;
    std::atomic<float> handVersion_{-1.0f};  // the owning hand's firmware, once reported
};

}  // namespace communication
}  // namespace velmora
