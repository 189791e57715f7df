#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "velmora/CanBus.h"
#include "velmora/VelmoraTypes.h"
#include "velmora/sim/HandBody.h"

namespace velmora {
namespace sim {

class Protocol;

/// The fingertip sensors a simulated hand carries.
enum class SensorKind {
    None,     ///< no fingertip sensors
    Summary,  ///< one summary row of four values per finger
    Matrix,   ///< a pressure matrix per finger (models::kMatrixRows x kMatrixColumns)
};

/// Ways a simulated hand's replies can go wrong, for tests of the library's robustness.
enum class ReplyFault {
    None,
    Short,      ///< every reply loses its last byte
    Malformed,  ///< every reply holds only its command code
};

struct SimConfig {
    VELMORA model = TOVIN;
    std::uint32_t handId = RIGHT;
    SensorKind sensor = SensorKind::Matrix;
    /// Version bytes: high nibble the whole part, low nibble tenths (0x15 is 1.5). 10-joint
    /// firmware up to 1.4 does not answer state requests; it reports its positions on its own.
    std::uint8_t softwareVersion = 0x15;
    std::uint8_t hardwareVersion = 0x20;
    /// Period of the mechanics.
    std::chrono::milliseconds tick{10};
};

/// A hand of any model (its slots and fingers from velmora/Models.h), attached to a CAN channel: it
/// answers every request of its model with the reply the library reads, applies every command to a
/// simulated mechanism and moves its joints over time. It answers at bus speed, without the
/// library's pacing.
class SimulatedHand {
  public:
    /// Takes the channel the hand listens and answers on (a VirtualCanBus peer endpoint, or a
    /// SocketCAN channel from openSimChannel) and starts the hand.
    SimulatedHand(std::unique_ptr<communication::ICanBus> bus, SimConfig config);
    ~SimulatedHand();
    SimulatedHand(const SimulatedHand&) = delete;
    SimulatedHand& operator=(const SimulatedHand&) = delete;

    const SimConfig& config() const { return config_; }
    HandBody& body() { return body_; }

    /// A silent hand neither answers nor obeys: as if it were unplugged.
    void setSilent(bool silent) { silent_ = silent; }
    /// Every reply leaves this much later.
    void setReplyDelay(std::chrono::milliseconds delay) { replyDelayMs_ = delay.count(); }
    void setReplyFault(ReplyFault fault) { replyFault_ = fault; }
    /// Every joint reports this fault code until the faults are cleared.
    void injectFault(std::uint8_t code) { body_.injectFault(code); }

    std::uint64_t framesReceived() const { return framesReceived_; }
    std::uint64_t framesSent() const { return framesSent_; }

  private:
    void receiveLoop();
    void physicsLoop();
    void sendAll(std::vector<ByteVector> frames);

    SimConfig config_;
    HandBody body_;
    std::unique_ptr<communication::ICanBus> bus_;
    std::unique_ptr<Protocol> protocol_;
    std::mutex protocolMutex_;
    std::atomic<bool> silent_{false};
    std::atomic<long> replyDelayMs_{0};
    std::atomic<ReplyFault> replyFault_{ReplyFault::None};
    std::atomic<std::uint64_t> framesReceived_{0};
    std::atomic<std::uint64_t> framesSent_{0};
    std::atomic<bool> running_{true};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    std::thread receiver_;
    std::thread physics_;
};

/// The channel a simulated hand uses for `name`: "virtual:BUS" gives a peer endpoint of the
/// in-process bus BUS; any other name opens that SocketCAN interface without pacing (it must
/// be up already). Throws std::runtime_error when the interface cannot be opened.
std::unique_ptr<communication::ICanBus> openSimChannel(const std::string& name);

}  // namespace sim
}  // namespace velmora
