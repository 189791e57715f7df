#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "velmora/Export.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace Common {

/// Firmware generation last reported by a 10-joint hand in this process (1.0 until then). It
/// selects part of the channels' pacing and whether the 10-joint getters request state.
VELMORA_API extern std::atomic<float> current_hand_version;

}  // namespace Common

namespace communication {

namespace detail {
class CanSystem;
class CanBusAccess;
class CanBusLink;
class VirtualCanBusAccess;
}  // namespace detail

/// One received frame. All zero when the frame read was for another identifier.
struct CanMessage {
    std::uint32_t id = 0;
    std::uint8_t len = 0;  ///< valid bytes in data, 0..8
    std::array<std::uint8_t, 8> data{};
};

/// A CAN channel: sends frames to and receives frames from one identifier. Implementations say
/// which of their calls may run on several threads at once.
class VELMORA_API ICanBus {
  public:
    virtual ~ICanBus();
    /// Sends one frame of up to 8 data bytes; `flag` has no effect.
    virtual void send(const std::vector<std::uint8_t>& data, std::uint32_t canId, bool flag) = 0;
    /// Consumes one frame: the frame itself when its identifier is canId, otherwise the all-zero
    /// message. Throws std::runtime_error("Failed to receive CAN frame") on the receive time-out.
    virtual CanMessage recv(const std::uint32_t& canId) = 0;
};

/// A raw Linux SocketCAN channel bound to one interface.
///
/// Opening brings a down interface up with `sudo ip link set ...`. Consecutive frames are at
/// least 3 ms apart; some models' command codes add a further pause after each send.
///
/// Threads: send from any number of threads (frames leave one at a time, under the send lock);
/// recv from one thread at a time; the rate operations from any thread. A hand object owns its
/// channel: its receive thread is the channel's only reader, and when the interface goes away
/// that thread opens it again once it is back.
class VELMORA_API CanBus : public ICanBus {
  public:
    /// Throws std::invalid_argument, before any system call, for a name that begins with '-'
    /// or holds a NUL character.
    CanBus(const std::string& name, int bitRate, VELMORA model);
    ~CanBus() override;
    CanBus(const CanBus&) = delete;
    CanBus& operator=(const CanBus&) = delete;

    void send(const std::vector<std::uint8_t>& data, std::uint32_t canId, bool flag) override;
    CanMessage recv(const std::uint32_t& canId) override;

    /// Throws std::runtime_error("Failed to set receive timeout") if the socket refuses it.
    void setReceiveTimeout(int seconds, int microseconds);
    /// Counts one sent frame; prints the count of frames since the last report once a second.
    void updateSendRate();
    /// Counts one received frame; prints the count once a second.
    void updateReceiveRate();
    /// Local time as "YYYY-MM-DD HH:MM:SS.mmm".
    static std::string printMillisecondTime();

  private:
    friend class detail::CanBusAccess;
    friend class detail::CanBusLink;
    VELMORA_NO_EXPORT CanBus(const std::string& name, int bitRate, VELMORA model,
                             std::shared_ptr<detail::CanSystem> system);
    VELMORA_NO_EXPORT void open();

    int socketFd_ = -1;  // replaced under the send lock, and only by the receiving thread
    std::string name_;
    int bitRate_;
    std::mutex sendMutex_;
    std::mutex sendRateMutex_;
    std::atomic<std::int32_t> sendCount_{0};
    std::chrono::steady_clock::time_point sendRateReference_{};
    std::mutex receiveRateMutex_;
    std::atomic<std::int32_t> receiveCount_{0};
    std::chrono::steady_clock::time_point receiveRateReference_{};
    VELMORA model_;
    std::shared_ptr<detail::CanSystem> system_;
    // For the hand that owns the channel: the interface it is bound to, whether it is there,
    // counters, and the firmware generation of its own hand (negative until reported).
    int interfaceIndex_ = 0;
    std::atomic<bool> up_{true};
    std::atomic<std::uint64_t> sendFailures_{0};
    std::atomic<std::uint64_t> receiveErrors_{0};
    std::atomic<std::uint64_t> reconnects_{0};
    std::atomic<float> handVersion_{-1.0f};
};

/// Builds the channel for a hand (any thread). A name beginning with "virtual:" opens an in-process
/// VirtualCanBus on the bus named by the rest (for example "virtual:can0"); any other name opens
/// the SocketCAN interface of that name.
class VELMORA_API CanBusFactory {
  public:
    static std::unique_ptr<ICanBus> createCanBus(std::uint32_t kind, const std::string& name,
                                                 int bitRate, VELMORA model);
};

}  // namespace communication
}  // namespace velmora
