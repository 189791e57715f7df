#pragma once

#include <array>
#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

#include "velmora/Protocol.h"
#include "velmora/VelmoraTypes.h"
#include "velmora/sim/HandBody.h"
#include "velmora/sim/SimulatedHand.h"

namespace velmora {
namespace sim {

using Frames = std::vector<ByteVector>;

// The simulated hands take every command code from the model's command table. Where one reaches
// a family member as the family's first code + n, a static_assert beside it checks the table
// against that arithmetic.

/// The codes of the model's first N commands of quantity `q`, in table order.
template <std::size_t N>
constexpr std::array<std::uint8_t, N> codesOf(VELMORA model, protocol::Quantity q) {
    std::array<std::uint8_t, N> codes{};
    for (std::size_t i = 0; i < N; ++i) {
        codes[i] = protocol::codeOf(model, q, i);
    }
    return codes;
}

/// The quantities of a finger summary, in the order of its bytes (HandBody::fingerSummary).
inline constexpr protocol::Quantity kSummaryQuantities[] = {
    protocol::Quantity::NormalForce, protocol::Quantity::TangentialForce,
    protocol::Quantity::TangentialDirection, protocol::Quantity::Approach};

/// True when the model's codes of the summary quantities, one value per finger each, follow
/// each other in the order of a summary's bytes: code - normal force code is the byte.
constexpr bool consecutiveForces(VELMORA model) {
    const std::uint8_t first = protocol::codeOf(model, kSummaryQuantities[0]);
    for (std::size_t i = 0; i < std::size(kSummaryQuantities); ++i) {
        if (first == 0 || protocol::codeOf(model, kSummaryQuantities[i]) != first + i) {
            return false;
        }
    }
    return true;
}

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
    /// The matrix codes, protocol::kMatrixCode + finger. The code alone is the sensor probe:
    /// matrix sensors announce themselves (matrixAnnouncement), summary sensors (when
    /// `summaryAnswersProbe`) with their sensor kind report. With a payload it is a matrix
    /// read, answered with the finger's rows.
    void answerMatrixCode(const ByteVector& f, bool summaryAnswersProbe, Frames& out) const;
    /// How matrix sensors announce themselves: a three-byte frame of finger 0's matrix code.
    static ByteVector matrixAnnouncement() { return {protocol::kMatrixCode, 0x01, 0x02}; }
    /// The sensor kind a hand reports (protocol::kNoSensors, ...).
    std::uint8_t sensorKind() const;
    /// A version byte as `fields` numbers (at least two): whole part, tenths, then zeros.
    static ByteVector versionFields(std::uint8_t version, std::size_t fields);
    /// The 10- and 7-joint hands' version report, as their catalogue entry describes it.
    ByteVector versionReport() const;
    /// One value per finger of a summary quantity: byte `quantity` of each finger's summary
    /// (kSummaryQuantities).
    ByteVector forcePerFinger(std::size_t quantity) const;
    /// The finger whose summary the model's finger summary command `code` asks for, as its
    /// command table says; HandBody::kFingers (no finger) for any other code.
    std::size_t summaryFinger(std::uint8_t code) const {
        const protocol::Command* c = protocol::find(config_.model, code);
        return c != nullptr && c->reply.layout == protocol::Layout::FingerSummary
                   ? c->reply.first
                   : HandBody::kFingers;
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
