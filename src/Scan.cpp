#include "velmora/Scan.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "detail/ChannelLink.h"
#include "detail/HandCore.h"
#include "detail/Identify.h"
#include "velmora/CanBus.h"

namespace velmora {

namespace {

using protocol::Command;
using protocol::Layout;
using protocol::Quantity;

std::string joinFields(const ByteVector& frame) {
    std::string text;
    for (std::size_t i = 1; i < frame.size(); ++i)
        text += (i == 1 ? "" : ".") + std::to_string(frame[i]);
    return text;
}

std::string nibbles(std::uint8_t encoded) {
    return hand::detail::formatNumber(protocol::versionNumber(encoded));
}

std::optional<std::uint32_t> sideOfLetter(std::uint8_t letter) {
    if (letter == 'R')
        return RIGHT;
    if (letter == 'L')
        return LEFT;
    return std::nullopt;
}

std::optional<std::uint32_t> sideOfIdentifier(std::uint8_t id) {
    if (id == RIGHT || id == LEFT)
        return id;
    return std::nullopt;
}

// The meaning of an answer's code that all candidates share; null when they differ or none is
// left.
const Command* sharedMeaning(const std::vector<VELMORA>& candidates, std::uint8_t code) {
    const Command* shared = nullptr;
    for (VELMORA m : candidates) {
        const Command* c = detail::answeredRequest(m, code);
        if (c == nullptr)
            return nullptr;
        if (shared != nullptr &&
            (shared->quantity != c->quantity || shared->reply.layout != c->reply.layout))
            return nullptr;
        shared = c;
    }
    return shared;
}

// A version report holds the model's degrees of freedom and a side letter; another model's
// answer with the same code (a 25-joint hand's temperatures) rarely does.
bool plausible(const models::ModelInfo& m, const Command& c, const ByteVector& frame) {
    if (c.reply.layout != Layout::VersionReport)
        return true;
    return (frame.size() < 2 || frame[1] == m.version.degreesOfFreedom) &&
           (frame.size() < 5 || sideOfLetter(frame[4]).has_value());
}

void decode(const Command& c, const ByteVector& frame, HandIdentity& id) {
    switch (c.reply.layout) {
        case Layout::VersionReport:
            if (frame.size() > 1) {
                id.degreesOfFreedom = frame[1];
                id.degreesReported = true;
            }
            if (frame.size() > 4) {
                if (const auto side = sideOfLetter(frame[4])) {
                    id.side = *side;
                    id.sideReported = true;
                }
            }
            if (frame.size() > 5)
                id.firmware = nibbles(frame[5]);
            if (frame.size() > 6)
                id.hardware = nibbles(frame[6]);
            break;
        case Layout::VersionFields:
        case Layout::VersionNibbles: {
            if (frame.size() < 2)
                break;
            const std::string text =
                c.reply.layout == Layout::VersionFields ? joinFields(frame) : nibbles(frame[1]);
            if (c.quantity == Quantity::SoftwareVersion)
                id.firmware = text;
            else if (c.quantity == Quantity::HardwareVersion)
                id.hardware = text;
            break;
        }
        case Layout::Identifier:
            if (frame.size() > 1) {
                if (const auto side = sideOfIdentifier(frame[1])) {
                    id.side = *side;
                    id.sideReported = true;
                }
            }
            break;
        default:
            break;
    }
}

// Joins names as "a, b or c".
std::string alternatives(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            text += i + 1 == names.size() ? " or " : ", ";
        text += names[i];
    }
    return text;
}

// A receive thread that hands every frame of the channel to the probe, from construction until
// destruction.
class ProbeReader {
  public:
    ProbeReader(communication::detail::ChannelLink& link, detail::IdentityProbe& probe)
        : link_(link), probe_(probe), thread_([this] { run(); }) {}
    ~ProbeReader() {
        running_ = false;
        link_.wake();
        thread_.join();
    }
    ProbeReader(const ProbeReader&) = delete;
    ProbeReader& operator=(const ProbeReader&) = delete;

  private:
    void run() {
        while (running_) {
            communication::CanMessage message;
            if (link_.receive(message) == communication::detail::Received::Frame) {
                probe_.offer(message.id, message.data.data(),
                             std::min<std::size_t>(message.len, message.data.size()));
            }
        }
    }

    communication::detail::ChannelLink& link_;
    detail::IdentityProbe& probe_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

std::vector<HandIdentity> probe(const std::string& channel,
                                const std::vector<std::uint32_t>& identifiers,
                                std::chrono::milliseconds timeout, int bitRate) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // None of the version requests takes a model's extra pause: the channel keeps its gap of a
    // few milliseconds between frames, whichever model it is paced as.
    const std::unique_ptr<communication::ICanBus> bus =
        communication::CanBusFactory::createCanBus(0, channel, bitRate, KESTA);
    const std::unique_ptr<communication::detail::ChannelLink> link =
        communication::detail::linkTo(*bus);
    detail::IdentityProbe answers(identifiers);
    {
        const ProbeReader reader(*link, answers);
        for (std::uint32_t identifier : identifiers) {
            for (std::uint8_t code : detail::kVersionRequests) {
                answers.sending(identifier, code);
                bus->send({code}, identifier, false);
            }
        }
        answers.waitSettled(deadline);
    }
    return answers.results();
}

}  // namespace

std::optional<VELMORA> HandIdentity::model() const {
    if (candidates.empty())
        return std::nullopt;
    const models::ModelInfo& first = models::info(candidates.front());
    for (VELMORA m : candidates) {
        const models::ModelInfo& other = models::info(m);
        if (other.handClass != first.handClass || other.variant != first.variant)
            return std::nullopt;
    }
    return candidates.back();
}

bool HandIdentity::fits(VELMORA m) const {
    return std::find(candidates.begin(), candidates.end(), m) != candidates.end();
}

std::string HandIdentity::reported() const {
    std::vector<std::string> parts;
    if (degreesOfFreedom > 0)
        parts.push_back(std::to_string(degreesOfFreedom) + " joints");
    if (sideReported)
        parts.push_back(std::string(models::sideName(side)) + " side");
    std::string text = parts.empty()       ? std::string("a version answer")
                       : parts.size() == 1 ? parts[0]
                                           : parts[0] + " and " + parts[1];
    if (!complete)
        text += " (incomplete answer)";
    return text;
}

std::string HandIdentity::modelText() const {
    if (candidates.empty())
        return "no model this library knows";
    std::vector<std::string> names;
    for (VELMORA m : candidates)
        names.emplace_back(models::modelName(m));
    return "a " + alternatives(names);
}

std::string contradiction(const HandIdentity& identity, VELMORA model, std::uint32_t side) {
    const bool modelFits = identity.fits(model);
    const bool sideFits = !identity.sideReported || identity.side == side;
    const std::string asked = models::modelName(model);
    if (modelFits && sideFits)
        return "";
    if (sideFits)
        return "it is " + identity.modelText() + ", not a " + asked;
    const std::string reportedSide = models::sideName(identity.side);
    const std::string askedSide = models::sideName(side);
    if (modelFits)
        return "it is a " + reportedSide + " hand, not a " + askedSide + " one";
    return "it is " + identity.modelText() + " on the " + reportedSide + " side, not a " + asked +
           " on the " + askedSide;
}

std::vector<std::uint8_t> versionRequests() {
    return {detail::kVersionRequests.begin(), detail::kVersionRequests.end()};
}

std::vector<HandIdentity> scan(const std::string& channel, std::chrono::milliseconds timeout,
                               int bitRate) {
    return probe(channel, {RIGHT, LEFT}, timeout, bitRate);
}

std::optional<HandIdentity> identify(const std::string& channel, std::uint32_t identifier,
                                     std::chrono::milliseconds timeout, int bitRate) {
    std::vector<HandIdentity> found = probe(channel, {identifier}, timeout, bitRate);
    if (found.empty())
        return std::nullopt;
    return found.front();
}

namespace detail {

HandIdentity classify(std::uint32_t identifier, const std::map<std::uint8_t, ByteVector>& answers) {
    HandIdentity id;
    id.identifier = identifier;
    id.side = identifier;
    // Best first: every answer the model gives, whole; every answer, some cut short; some of
    // them, none contradicting it.
    std::vector<VELMORA> whole, cut, partial;
    for (const models::ModelInfo& m : models::kModels) {
        bool fits = true;
        bool exact = true;
        for (const auto& [code, frame] : answers) {
            const Command* c = answeredRequest(m.model, code);
            if (c == nullptr || frame.size() > answerLength(*c) || !plausible(m, *c, frame)) {
                fits = false;
                break;
            }
            exact = exact && frame.size() == answerLength(*c);
        }
        if (!fits)
            continue;
        bool all = true;
        for (std::uint8_t code : kVersionRequests) {
            if (answeredRequest(m.model, code) != nullptr && answers.count(code) == 0)
                all = false;
        }
        (all ? (exact ? whole : cut) : partial).push_back(m.model);
    }
    id.complete = !whole.empty();
    id.candidates = !whole.empty() ? whole : !cut.empty() ? cut : partial;
    for (const auto& [code, frame] : answers) {
        id.answers.push_back(frame);
        if (const Command* c = sharedMeaning(id.candidates, code))
            decode(*c, frame, id);
    }
    if (!id.degreesReported && !id.candidates.empty()) {
        const std::size_t dof = models::info(id.candidates.front()).degreesOfFreedom;
        const bool agree = std::all_of(id.candidates.begin(), id.candidates.end(), [&](VELMORA m) {
            return models::info(m).degreesOfFreedom == dof;
        });
        id.degreesOfFreedom = agree ? dof : 0;
    }
    return id;
}

IdentityProbe::IdentityProbe(std::vector<std::uint32_t> identifiers) {
    for (std::uint32_t identifier : identifiers)
        peers_.push_back(Peer{identifier, {}, {}, std::nullopt, false});
}

void IdentityProbe::sending(std::uint32_t identifier, std::uint8_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Peer& peer : peers_) {
        if (peer.identifier == identifier)
            peer.sent.emplace(code, Clock::now());
    }
    lastSent_ = Clock::now();
}

void IdentityProbe::offer(std::uint32_t identifier, const std::uint8_t* data, std::size_t length) {
    if (length == 0 || !kVersionRequests.contains(data[0]))
        return;
    const auto now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    for (Peer& peer : peers_) {
        // The whole identifier, flag bits included, as a hand object compares it.
        if (peer.identifier != identifier)
            continue;
        const auto sent = peer.sent.find(data[0]);
        if (sent == peer.sent.end())
            return;  // not asked (yet): someone else's conversation
        ByteVector& kept = peer.answers[data[0]];
        if (length > kept.size())
            kept.assign(data, data + length);
        if (!peer.latency)
            peer.latency = now - sent->second;
        peer.settled = classify(peer.identifier, peer.answers).complete;
        changed_.notify_all();
        return;
    }
}

bool IdentityProbe::waitSettled(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    // Answers to the last requests may still be on their way, and one of them can change what
    // the hand is: none is taken as final before a hand has had time to give them.
    changed_.wait_until(lock, std::min(deadline, lastSent_ + kAnswerWindow),
                        [this] { return woken_; });
    const auto allSettled = [this] {
        return std::all_of(peers_.begin(), peers_.end(), [](const Peer& p) { return p.settled; });
    };
    changed_.wait_until(lock, deadline, [&] { return woken_ || allSettled(); });
    return allSettled();
}

void IdentityProbe::wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        woken_ = true;
    }
    changed_.notify_all();
}

std::vector<HandIdentity> IdentityProbe::results() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<HandIdentity> found;
    for (const Peer& peer : peers_) {
        if (peer.answers.empty())
            continue;
        HandIdentity id = classify(peer.identifier, peer.answers);
        id.latency = std::chrono::duration_cast<std::chrono::microseconds>(
            peer.latency.value_or(Clock::duration::zero()));
        found.push_back(std::move(id));
    }
    return found;
}

}  // namespace detail

}  // namespace velmora
