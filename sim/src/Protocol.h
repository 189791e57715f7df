#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "velmora/Protocol.h"
#include "velmora/VelmoraTypes.h"
#include "velmora/sim/HandBody.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora {
namespace sim {

using Frames = std::vector<ByteVector>;

/// One model's side of the wire: what the hand does with each frame it receives.
class Protocol {
  public:
    Protocol(HandBody& body, const SimConfig& config) : body_(body), config_(config) {}
    virtual ~Protocol() = default;

    /// Applies one received frame and appends the replies.
    virtual void handle(const ByteVector& frame, Frames& replies) = 0;
    /// Called every tick of the mechanics: frames the hand sends on its own.
    virtual void onTick(Frames& /*out*/) {}

  protected:
    /// The hand's answer to a matrix read of finger f: its 12 rows, the row in the high
    /// nibble of byte 1.
    void appendMatrixRows(std::uint8_t code, std::size_t finger, Frames& out) const;
    using Reader = ByteVector (HandBody::*)(std::size_t, std::size_t) const;
    using Writer = void (HandBody::*)(std::size_t, const ByteVector&);
    /// A request (the code alone) is answered with n values from joint `first` on; a write
    /// applies its payload from joint `first` on.
    void readOrWrite(const ByteVector& f, std::size_t first, std::size_t n, Reader read,
                     Writer write, Frames& out);
    /// The model's commands whose payload is one byte per joint (positions, speeds, torques,
    /// accelerations, temperatures, faults), answered and applied as the model's command table
    /// says. False when `f` is not one of them.
    bool handleJointCommand(const ByteVector& f, Frames& out);
    /// Codes 0xB1..0xB5. The code alone is the sensor probe: matrix sensors announce
    /// themselves with three bytes, summary sensors (when `summaryAnswersProbe`) with their
    /// kind. With a payload it is a matrix read, answered with the finger's rows.
    void answerMatrixCode(const ByteVector& f, bool summaryAnswersProbe, Frames& out) const;
    /// The sensor kind a hand reports: 0 none, 1 summary, 2 matrix.
    std::uint8_t sensorKind() const;
    /// The 10- and 7-joint hands' version report (code 0x64).
    ByteVector versionReport(std::uint8_t degreesOfFreedom) const;
    /// One value per finger of a summary quantity: 0 normal force, 1 tangential force, 2 its
    /// direction, 3 approach increment.
    ByteVector forcePerFinger(std::size_t quantity) const;
    /// The finger of a 10- or 7-joint summary request: 0x28, 0x29, 0x30, 0x31, 0x32.
    static std::size_t summaryFinger(std::uint8_t code) {
        return code == 0x28 ? 0 : code == 0x29 ? 1 : static_cast<std::size_t>(code - 0x30 + 2);
    }
    /// code followed by values.
    static ByteVector frame(std::uint8_t code, const ByteVector& values);
    static ByteVector payload(const ByteVector& frame) {
        return ByteVector(frame.begin() + 1, frame.end());
    }

    HandBody& body_;
    const SimConfig& config_;
};

std::unique_ptr<Protocol> makeProtocol(HandBody& body, const SimConfig& config);

std::unique_ptr<Protocol> makeTovinProtocol(HandBody& body, const SimConfig& config);
std::unique_ptr<Protocol> makeMarloProtocol(HandBody& body, const SimConfig& config);
std::unique_ptr<Protocol> makeRavelProtocol(HandBody& body, const SimConfig& config);
std::unique_ptr<Protocol> makeZenitProtocol(HandBody& body, const SimConfig& config);
std::unique_ptr<Protocol> makeKestaProtocol(HandBody& body, const SimConfig& config);

}  // namespace sim
}  // namespace velmora
