#pragma once

// Which hands are on a bus, and what each says it is.
//
//     for (const velmora::HandIdentity& h : velmora::scan("can0"))
//         std::cout << velmora::models::sideName(h.identifier) << ": " << h.modelText() << "\n";
//
// A scan sends only the version requests of the hand models (the code alone, which every model
// either answers or ignores; none of them is a command on any model), to both identifiers, and
// reads the answers.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "velmora/Export.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {

/// How long a scan listens for answers unless told otherwise.
inline constexpr std::chrono::milliseconds kScanTimeout{300};

/// What one hand said about itself in answer to the version requests.
struct VELMORA_API HandIdentity {
    /// The CAN identifier it answered on: 0x27 (right) or 0x28 (left).
    std::uint32_t identifier = 0;
    /// The side it reports (0x27 right, 0x28 left); its identifier when its answer names none.
    std::uint32_t side = 0;
    bool sideReported = false;
    /// The models whose version answer this is, in the order of the enumeration: one, or
    /// several the answer cannot tell apart (the 25-joint hand and its 21-joint variant); empty
    /// when it fits no model.
    std::vector<VELMORA> candidates;
    /// Software and hardware versions as the hand gives them ("1.5", "1.5.0.1"); empty when its
    /// answer did not carry them.
    std::string firmware;
    std::string hardware;
    /// The joints that move: as the hand reports them, or else those of its candidates when they
    /// agree; 0 when unknown.
    std::size_t degreesOfFreedom = 0;
    bool degreesReported = false;
    /// From the request to the hand's first answer.
    std::chrono::microseconds latency{0};
    /// Every answer its candidates give arrived, whole.
    bool complete = false;
    /// The answers as they arrived, code byte first, in order of their codes.
    std::vector<ByteVector> answers;

    /// The model, when the answer names exactly one; for candidates that the library drives
    /// alike (the two 6-actuator values) the later value. Empty otherwise.
    std::optional<VELMORA> model() const;
    /// True when `m` is one of the candidates.
    bool fits(VELMORA m) const;
    /// What the hand reports: "10 joints and right side".
    std::string reported() const;
    /// "a tovin", "a sabre or zenit", or "no model this library knows".
    std::string modelText() const;
};

/// Why a hand's identity contradicts `model` on the identifier `side`, as "it is a tovin, not a
/// zenit"; empty when it fits.
VELMORA_API std::string contradiction(const HandIdentity& identity, VELMORA model,
                                      std::uint32_t side);

/// The requests a scan sends, in the order it sends them to each identifier.
VELMORA_API std::vector<std::uint8_t> versionRequests();

/// The hands that answer on `channel` (a SocketCAN interface such as "can0", or "virtual:NAME"),
/// right hand first. Returns once every identifier has answered in full, and at the latest
/// `timeout` after the call began: on a quiet bus, an empty list after `timeout`. Frames of
/// other identifiers, and of codes it did not ask for, are left alone. Throws what opening the
/// channel throws.
VELMORA_API std::vector<HandIdentity> scan(const std::string& channel,
                                           std::chrono::milliseconds timeout = kScanTimeout,
                                           int bitRate = 1000000);

/// scan for one identifier (RIGHT or LEFT) alone: nothing is sent to the other.
VELMORA_API std::optional<HandIdentity> identify(const std::string& channel,
                                                 std::uint32_t identifier,
                                                 std::chrono::milliseconds timeout = kScanTimeout,
                                                 int bitRate = 1000000);

}  // namespace velmora
