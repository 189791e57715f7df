#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "velmora/Models.h"
#include "velmora/Protocol.h"
#include "velmora/Scan.h"

namespace velmora {
namespace detail {

/// Up to this many distinct version codes across the models.
inline constexpr std::size_t kMaxVersionRequests = 8;

/// The codes that ask a hand what it is: each model's version request, the request of its
/// hardware version and of its identifier, once each, in code order.
struct VersionRequests {
    std::array<std::uint8_t, kMaxVersionRequests> codes{};
    std::size_t size = 0;

    constexpr bool contains(std::uint8_t code) const {
        for (std::size_t i = 0; i < size; ++i) {
            if (codes[i] == code)
                return true;
        }
        return false;
    }
    constexpr void add(std::uint8_t code) {
        if (code == 0 || contains(code) || size == kMaxVersionRequests)
            return;
        std::size_t at = size++;
        for (; at > 0 && codes[at - 1] > code; --at)
            codes[at] = codes[at - 1];
        codes[at] = code;
    }
    constexpr const std::uint8_t* begin() const { return codes.data(); }
    constexpr const std::uint8_t* end() const { return codes.data() + size; }
};

constexpr VersionRequests versionRequestsOf() {
    VersionRequests r;
    for (const models::ModelInfo& m : models::kModels) {
        r.add(m.version.code);
        r.add(m.version.identifierCode);
        r.add(protocol::codeOf(m.model, protocol::Quantity::HardwareVersion));
    }
    return r;
}
inline constexpr VersionRequests kVersionRequests = versionRequestsOf();

/// The model's command of `code` when the code alone asks it for an answer; null otherwise.
constexpr const protocol::Command* answeredRequest(VELMORA model, std::uint8_t code) {
    for (const protocol::Command& c : protocol::commands(model)) {
        if (c.code == code)
            return c.request && c.reply.layout != protocol::Layout::None ? &c : nullptr;
    }
    return nullptr;
}

/// The whole answer's length, code included.
constexpr std::size_t answerLength(const protocol::Command& c) {
    return 1u + c.reply.count;
}

/// Whatever hand hears one of these codes alone, nothing moves and nothing is stored: on every
/// model the code is unknown or a read without a write.
constexpr bool safeOnEveryModel(const VersionRequests& requests) {
    for (std::uint8_t code : requests) {
        for (const models::ModelInfo& m : models::kModels) {
            for (const protocol::Command& c : protocol::commands(m.model)) {
                if (c.code == code && (!c.request || c.write.layout != protocol::Layout::None))
                    return false;
            }
        }
    }
    return requests.size > 0;
}
static_assert(safeOnEveryModel(kVersionRequests),
              "a version request is a command on some model: a scan must never send one");

/// Every answer a scan reads has a fixed length: what tells the models apart. (Loops over the
/// tables rather than comparing answeredRequest() with null: compilers with null-pointer checks
/// on cannot compare a table entry's address with null in a constant expression.)
constexpr bool fixedLengths() {
    for (const models::ModelInfo& m : models::kModels) {
        bool own = false;
        for (const protocol::Command& c : protocol::commands(m.model)) {
            if (!c.request || c.reply.layout == protocol::Layout::None)
                continue;
            for (std::uint8_t code : kVersionRequests) {
                if (c.code == code && c.reply.count == 0)
                    return false;
            }
            if (c.code == m.version.code) {
                if (answerLength(c) != m.version.length)
                    return false;
                own = true;
            }
        }
        if (!own)
            return false;
    }
    return true;
}
static_assert(fixedLengths(), "every version answer has the length its model's catalogue gives");

/// What an identifier's answers say: the hand's identity. `answers` maps each code to the
/// frame the hand answered it with (code byte first).
HandIdentity classify(std::uint32_t identifier, const std::map<std::uint8_t, ByteVector>& answers);

/// Collects the answers of one or two identifiers to the version requests, from frames that
/// any thread offers, and tells when each has answered in full.
class IdentityProbe {
  public:
    using Clock = std::chrono::steady_clock;

    explicit IdentityProbe(std::vector<std::uint32_t> identifiers);

    /// Call right before the request of `code` leaves for `identifier`.
    void sending(std::uint32_t identifier, std::uint8_t code);
    /// A frame read from the bus, of any identifier.
    void offer(std::uint32_t identifier, const std::uint8_t* data, std::size_t length);
    /// Waits until every identifier has answered in full, the deadline, or wake(); true in the
    /// first case.
    bool waitSettled(Clock::time_point deadline);
    void wake();
    /// The identifiers that answered at all, in the order given.
    std::vector<HandIdentity> results() const;

  private:
    struct Peer {
        std::uint32_t identifier;
        std::map<std::uint8_t, Clock::time_point> sent;
        std::map<std::uint8_t, ByteVector> answers;
        std::optional<Clock::duration> latency;
        bool settled = false;
    };

    /// How long after its request a hand's answer may still arrive.
    static constexpr std::chrono::milliseconds kAnswerWindow{10};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Peer> peers_;
    Clock::time_point lastSent_{};
    bool woken_ = false;
};

}  // namespace detail
}  // namespace velmora
