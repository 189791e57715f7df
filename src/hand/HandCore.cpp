#include "detail/HandCore.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "detail/Identify.h"
#include "detail/Messages.h"
#include "velmora/Protocol.h"
#include "detail/Pacing.h"
#include "detail/SendBudget.h"

#include "velmora/RangeToArc.h"

namespace velmora {
namespace hand {
namespace detail {

namespace {

const char* readingName(Reading what) {
    switch (what) {
        case Reading::Positions:
            return "Positions";
        case Reading::Speeds:
            return "Speeds";
        case Reading::Torques:
            return "Torques";
        case Reading::Currents:
            return "Currents";
        case Reading::Temperatures:
            return "Temperatures";
        case Reading::Faults:
            return "Faults";
    }
    return "?";
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The hand whose sends this thread collects instead of sending, and where they go.
struct Capture {
    const HandCore* core;
    std::vector<ByteVector>* frames;
};
thread_local Capture* tCapture = nullptr;

}  // namespace

HandCore::HandCore(std::uint32_t handId, const std::string& channel, int bitRate, VELMORA model)
    : handId_(handId),
      model_(model),
      channelName_(channel),
      canBus_(communication::CanBusFactory::createCanBus(handId, channel, bitRate, model)),
      link_(communication::detail::linkTo(*canBus_)) {
    if (!link_) {
        throw std::logic_error("a hand needs one of the library's own channels");
    }
}

HandCore::~HandCore() {
    stopReceiving();
}

void HandCore::send(const ByteVector& frame) {
    if (tCapture != nullptr && tCapture->core == this) {
        tCapture->frames->push_back(frame);
        return;
    }
    std::shared_ptr<SendBudget> route;
    {
        std::lock_guard<std::mutex> lock(routeMutex_);
        route = route_;
    }
    if (!route || !route->sendThrough(*this, frame)) {
        sendDirect(frame);
    }
}

void HandCore::sendDirect(const ByteVector& frame) {
    canBus_->send(frame, handId_, false);
}

std::vector<ByteVector> HandCore::capture(const std::function<void()>& f) {
    std::vector<ByteVector> frames;
    Capture capture{this, &frames};
    Capture* const outer = tCapture;
    tCapture = &capture;
    try {
        f();
    } catch (...) {
        tCapture = outer;
        throw;
    }
    tCapture = outer;
    return frames;
}

std::vector<ByteVector> HandCore::requestFrames(Reading what) {
    const FreshReading* fresh = reading(what);
    if (!fresh) {
        throw UnsupportedFeatureException(std::string("readFresh(") + readingName(what) + ")");
    }
    return capture(fresh->request);
}

std::chrono::microseconds HandCore::pacingCost(const ByteVector& frame) const {
    std::chrono::microseconds cost = communication::detail::kFrameGap;
    if (!frame.empty()) {
        cost += communication::detail::extraPacing(
            model_, frame.front(), communication::detail::pacingVersion(ownVersion_));
    }
    return cost;
}

void HandCore::routeThrough(std::shared_ptr<SendBudget> budget) {
    std::lock_guard<std::mutex> lock(routeMutex_);
    route_ = std::move(budget);
    ++routeUsers_;
}

void HandCore::unroute() {
    std::lock_guard<std::mutex> lock(routeMutex_);
    if (--routeUsers_ <= 0) {
        routeUsers_ = 0;
        route_.reset();
    }
}

std::uint64_t HandCore::addReplyListener(std::function<void(std::uint8_t)> listener) {
    std::lock_guard<std::mutex> lock(listenersMutex_);
    listeners_.emplace_back(nextListenerKey_, std::move(listener));
    return nextListenerKey_++;
}

void HandCore::removeReplyListener(std::uint64_t key) {
    std::lock_guard<std::mutex> lock(listenersMutex_);
    listeners_.erase(std::remove_if(listeners_.begin(), listeners_.end(),
                                    [key](const auto& entry) { return entry.first == key; }),
                     listeners_.end());
}

void HandCore::requestMatrices() {
    for (const ByteVector& request : FingertipSensors::matrixRequests()) {
        send(request);
    }
}

void HandCore::requestSummaries(const SummaryCodes& codes) {
    for (std::uint8_t code : codes) {
        request(code);
    }
    sensors.reshapeToSummary();
}

bool HandCore::storeSummary(const SummaryCodes& codes, const ByteVector& frame) {
    for (std::size_t finger = 0; finger < codes.size(); ++finger) {
        if (frame[0] == codes[finger]) {
            sensors.storeSummary(finger, frame);
            caches.noteReply(frame[0]);
            return true;
        }
    }
    return false;
}

void HandCore::storeMatrixFrame(const ByteVector& frame) {
    sensors.onMatrixFrame(frame);
    caches.noteReply(frame[0]);
}

void HandCore::startReceiving(std::function<void(const ByteVector&)> onFrame) {
    onFrame_ = std::move(onFrame);
    running_ = true;
    receiveThread_ = std::thread([this] { receiveLoop(); });
}

void HandCore::stopReceiving() {
    running_ = false;
    endWaits();
    link_->wake();
    if (receiveThread_.joinable()) {
        receiveThread_.join();
    }
}

void HandCore::receiveLoop() {
    while (running_) {
        communication::CanMessage message;
        if (link_->receive(message) == communication::detail::Received::Frame) {
            deliver(message);
        }
    }
}

void HandCore::deliver(const communication::CanMessage& message) {
    // Only the whole identifier, flag bits included, makes a frame this hand's.
    if (message.id != handId_) {
        ++framesIgnored_;
        return;
    }
    ++framesReceived_;
    lastFrameNs_ = nowNs();
    const std::size_t length = std::min<std::size_t>(message.len, message.data.size());
    {
        std::lock_guard<std::mutex> lock(probeMutex_);
        if (probe_ != nullptr) {
            probe_->offer(message.id, message.data.data(), length);
        }
    }
    if (length == 0 || !onFrame_) {
        return;
    }
    onFrame_(ByteVector(message.data.begin(), message.data.begin() + length));
    std::lock_guard<std::mutex> lock(listenersMutex_);
    for (const auto& entry : listeners_) {
        entry.second(message.data[0]);
    }
}

void HandCore::defineReading(Reading what, FreshReading reading) {
    readings_[static_cast<std::size_t>(what)] = std::move(reading);
}

const FreshReading* HandCore::reading(Reading what) const {
    const std::optional<FreshReading>& fresh = readings_[static_cast<std::size_t>(what)];
    return fresh ? &*fresh : nullptr;
}

std::pair<ByteVector, ReplyCaches::Arrival> HandCore::shapedReading(const FreshReading& fresh) {
    auto shaped = caches.shapedReplies(
        fresh.replies, [&](const ReplyCaches::View& replies) { return fresh.shape(replies); });
    if (shaped.first.empty() || (fresh.values != 0 && shaped.first.size() != fresh.values)) {
        shaped.first.clear();
    }
    return shaped;
}

ByteVector HandCore::readFresh(Reading what, std::chrono::milliseconds timeout,
                               const KeepWaiting* keepWaiting) {
    return readFreshStamped(what, timeout, keepWaiting).values;
}

StampedReading HandCore::readFreshStamped(Reading what, std::chrono::milliseconds timeout,
                                          const KeepWaiting* keepWaiting) {
    const FreshReading* reading = this->reading(what);
    if (!reading) {
        throw UnsupportedFeatureException(std::string("readFresh(") + readingName(what) + ")");
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // A reply too short to fill the reading is not an answer: the hand is asked again, until
    // the deadline.
    while (true) {
        // Counted before the requests leave, so that only their answers (or later reports)
        // count.
        const std::vector<std::uint64_t> before = caches.replyCounts(reading->replies);
        reading->request();
        std::vector<std::uint8_t> missing;
        bool stopped = false;
        while (true) {
            // The caller is asked with no lock held: it may take locks of its own (a Python
            // caller takes the interpreter's).
            const auto now = std::chrono::steady_clock::now();
            const auto until =
                keepWaiting ? std::min(deadline, now + kKeepWaitingPeriod) : deadline;
            missing = caches.waitForReplies(reading->replies, before, until);
            if (missing.empty() || caches.closing() || until >= deadline)
                break;
            if (!(*keepWaiting)()) {
                stopped = true;
                break;
            }
        }
        if (!missing.empty()) {
            std::string text =
                caches.closing() ? "Hand " + hex(handId_) + " was closed before it replied: missing"
                : stopped        ? "Fresh read of hand " + hex(handId_) + " stopped: missing"
                                 : "No fresh reply from hand " + hex(handId_) + " within " +
                                std::to_string(timeout.count()) + " ms: missing";
            for (std::size_t i = 0; i < missing.size(); ++i) {
                text += (i == 0 ? " " : ", ") + hex(missing[i]);
            }
            throw HandTimeoutException(text);
        }
        auto shaped = shapedReading(*reading);
        if (!shaped.first.empty()) {
            StampedReading stamped;
            stamped.reading = what;
            stamped.values = std::move(shaped.first);
            stamped.received = shaped.second.steady;
            stamped.receivedSystem = shaped.second.system;
            stamped.sequence = ++freshReads_[static_cast<std::size_t>(what)];
            stamped.age = std::chrono::steady_clock::now() - stamped.received;
            return stamped;
        }
        // A hand that answers at once with cut replies would otherwise be asked for ever.
        if (std::chrono::steady_clock::now() >= deadline) {
            std::string text = "No whole reply from hand " + hex(handId_) + " within " +
                               std::to_string(timeout.count()) + " ms: too short";
            for (std::size_t i = 0; i < reading->replies.size(); ++i) {
                text += (i == 0 ? " " : ", ") + hex(reading->replies[i]);
            }
            throw HandTimeoutException(text);
        }
        if (keepWaiting && !(*keepWaiting)()) {
            throw HandTimeoutException("Fresh read of hand " + hex(handId_) +
                                       " stopped: too short");
        }
    }
}

RadianVector HandCore::toAngles(const ByteVector& positions) const {
    if (const auto side = sideName(handId_)) {
        return range_to_arc(modelKey_, *side, positions);
    }
    return {};
}

HandHealth HandCore::health() const {
    HandHealth health;
    health.framesReceived = framesReceived_;
    health.framesIgnored = framesIgnored_;
    const communication::detail::ChannelStats stats = link_->stats();
    health.sendFailures = stats.sendFailures;
    health.receiveErrors = stats.receiveErrors;
    health.channelUp = stats.up;
    health.reconnects = stats.reconnects;
    health.framesDropped = stats.drops;
    if (const std::int64_t last = lastFrameNs_; last != 0) {
        health.lastFrameAge = std::chrono::nanoseconds(nowNs() - last);
    }
    std::lock_guard<std::mutex> lock(probeMutex_);
    health.identityChecked = identityChecked_;
    health.modelMismatch = !mismatch_.empty();
    health.mismatch = mismatch_;
    return health;
}

HandIdentity HandCore::identity(std::chrono::milliseconds timeout) {
    const std::lock_guard<std::mutex> one(identityMutex_);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    velmora::detail::IdentityProbe probe({handId_});
    {
        std::lock_guard<std::mutex> lock(probeMutex_);
        if (closing_) {
            throw HandTimeoutException("Hand " + hex(handId_) + " was closed before it replied");
        }
        probe_ = &probe;
    }
    // The probe leaves the receive thread's reach however this ends.
    struct Detach {
        HandCore& core;
        ~Detach() {
            std::lock_guard<std::mutex> lock(core.probeMutex_);
            core.probe_ = nullptr;
        }
    } detach{*this};
    for (std::uint8_t code : velmora::detail::kVersionRequests) {
        probe.sending(handId_, code);
        request(code);
    }
    probe.waitSettled(deadline);
    const std::vector<HandIdentity> found = probe.results();
    if (found.empty()) {
        throw HandTimeoutException("No version answer from hand " + hex(handId_) + " within " +
                                   std::to_string(timeout.count()) + " ms");
    }
    const HandIdentity& id = found.front();
    const std::string why = contradiction(id, model_, handId_);
    {
        std::lock_guard<std::mutex> lock(probeMutex_);
        identityChecked_ = true;
        mismatch_ =
            why.empty() ? "" : "hand " + hex(handId_) + " reports " + id.reported() + ": " + why;
        if (!why.empty()) {
            throw HandMismatchException(mismatch_);
        }
    }
    return id;
}

void HandCore::endWaits() {
    caches.wake();
    std::lock_guard<std::mutex> lock(probeMutex_);
    closing_ = true;
    if (probe_ != nullptr) {
        probe_->wake();
    }
}

void HandCore::setOwnVersion(float version) {
    ownVersion_ = version;
    link_->setHandVersion(version);
}

float HandCore::firmwareVersion() const {
    const float own = ownVersion_;
    return own >= 0.0f ? own : Common::current_hand_version.load();
}

FreshReading joinedReading(HandCore& core, std::vector<std::uint8_t> codes, std::size_t values,
                           std::function<bool()> sendWhen) {
    FreshReading reading;
    reading.values = values;
    reading.request = [&core, codes, sendWhen = std::move(sendWhen)] {
        if (!sendWhen || sendWhen()) {
            for (std::uint8_t code : codes) {
                core.request(code);
            }
        }
    };
    reading.shape = [codes](const ReplyCaches::View& replies) {
        ByteVector joined;
        for (std::uint8_t code : codes) {
            const ByteVector& frame = replies.frame(code);
            if (frame.size() > 1) {
                joined.insert(joined.end(), frame.begin() + 1, frame.end());
            }
        }
        return joined;
    };
    reading.replies = std::move(codes);
    return reading;
}

ByteVector commandFrame(std::uint8_t code, ByteVector::const_iterator first,
                        ByteVector::const_iterator last) {
    ByteVector frame;
    frame.reserve(1 + static_cast<std::size_t>(last - first));
    frame.push_back(code);
    frame.insert(frame.end(), first, last);
    return frame;
}

std::optional<std::string> sideName(std::uint32_t handId) {
    if (handId == LEFT)
        return std::string("left");
    if (handId == RIGHT)
        return std::string("right");
    return std::nullopt;
}

void commandJointAngles(IHand& hand, std::uint32_t handId, int modelKey, std::size_t joints,
                        const char* sizeMessage, const RadianVector& angles) {
    if (angles.size() != joints) {
        reportUsage(sizeMessage);
        return;
    }
    if (const auto side = sideName(handId)) {
        hand.setJointPositions(arc_to_range(modelKey, *side, angles));
    }
}

RadianVector jointAngles(IHand& hand, std::uint32_t handId, int modelKey) {
    if (const auto side = sideName(handId)) {
        return range_to_arc(modelKey, *side, hand.getCurrentStatus());
    }
    return {};
}

std::string formatNumber(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

void reportUsage(const char* message) {
    velmora::detail::message(MessageLevel::Warning, velmora::detail::Stream::Out, message);
}

std::string versionReportText(const ByteVector& report) {
    std::ostringstream text;
    if (report.size() > 1)
        text << "freedom: " << int(report[1]) << "\n";
    if (report.size() > 2)
        text << "Robot version: " << int(report[2]) << "\n";
    if (report.size() > 3)
        text << "Version Number: " << int(report[3]) << "\n";
    if (report.size() > 4) {
        if (report[4] == 'R')
            text << "Hand direction: Right hand\n";
        if (report[4] == 'L')
            text << "Hand direction: Left hand\n";
    }
    if (report.size() > 5)
        text << "Software Version: " << protocol::versionNumber(report[5]) << "\n";
    if (report.size() > 6)
        text << "Hardware Version: " << protocol::versionNumber(report[6]) << "\n";
    return text.str();
}

}  // namespace detail
}  // namespace hand
}  // namespace velmora
