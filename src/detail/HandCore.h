#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "detail/FingertipSensors.h"
#include "detail/ReplyCaches.h"
#include "velmora/CanBus.h"
#include "velmora/IHand.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace hand {
namespace detail {

/// What every hand model is built on: the channel to one hand, the receive thread that hands
/// each frame of that hand to the model, the reply caches and the fingertip sensors.
class HandCore {
  public:
    /// Opens the channel; whatever that throws leaves the constructor, and nothing is started.
    HandCore(std::uint32_t handId, const std::string& channel, int bitRate, VELMORA model);
    /// Stops the receive thread, then closes the channel.
    ~HandCore();
    HandCore(const HandCore&) = delete;
    HandCore& operator=(const HandCore&) = delete;

    std::uint32_t handId() const { return handId_; }

    /// Sends one frame to the hand.
    void send(const ByteVector& frame);
    /// Sends a request: a frame holding only the code.
    void request(std::uint8_t code) { send({code}); }
    /// Asks every fingertip matrix sensor for its rows.
    void requestMatrices();

    /// Request codes of the one-row summary sensors, finger 0 to 4.
    using SummaryCodes = std::array<std::uint8_t, FingertipSensors::kFingers>;
    /// Sends the summary requests and gives the force data its one-row shape.
    void requestSummaries(const SummaryCodes& codes);
    /// Stores a summary reply when its code is one of `codes`; false for any other code.
    bool storeSummary(const SummaryCodes& codes, const ByteVector& frame);

    /// Starts the receive thread: every non-empty frame from the hand goes to onFrame, in the
    /// thread's context. The receive time-out and failed reads are not errors; the loop goes
    /// on, and never spins when the channel fails at once.
    void startReceiving(std::function<void(const ByteVector&)> onFrame);
    /// Clears the running flag and joins the thread (within one receive time-out).
    void stopReceiving();

    ReplyCaches caches;
    FingertipSensors sensors;

  private:
    void receiveLoop(const std::function<void(const ByteVector&)>& onFrame);

    const std::uint32_t handId_;
    std::unique_ptr<communication::ICanBus> canBus_;
    std::atomic<bool> running_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    std::thread receiveThread_;
};

/// A frame: the command code followed by the values in [first, last).
ByteVector commandFrame(std::uint8_t code, ByteVector::const_iterator first,
                        ByteVector::const_iterator last);
inline ByteVector commandFrame(std::uint8_t code, const ByteVector& values) {
    return commandFrame(code, values.begin(), values.end());
}

/// "left" for identifier 0x28, "right" for 0x27, nothing for any other identifier.
std::optional<std::string> sideName(std::uint32_t handId);

/// setJointPositionArc of a model: the angles converted with the model's tables for the hand's
/// side, then commanded through the hand's setJointPositions. Nothing is sent for an identifier
/// that names no side.
void commandJointAngles(IHand& hand, std::uint32_t handId, int modelKey, std::size_t joints,
                        const char* sizeMessage, const RadianVector& angles);

/// getCurrentStatusArc of a model: the hand's getCurrentStatus in radians; empty, and nothing
/// requested, for an identifier that names no side.
RadianVector jointAngles(IHand& hand, std::uint32_t handId, int modelKey);

/// A version byte: high nibble the whole part, low nibble tenths (0x15 is 1.5).
double versionNumber(std::uint8_t encoded);

/// A number in the default stream format (1.5, 2).
std::string formatNumber(double value);

/// Tells the caller on standard output that an argument was refused.
void reportUsage(const char* message);

/// The text of a version report (code 0x64: degrees of freedom, robot version, version number,
/// side letter, software and hardware version), one line per byte the report holds.
std::string versionReportText(const ByteVector& report);

}  // namespace detail
}  // namespace hand
}  // namespace velmora
