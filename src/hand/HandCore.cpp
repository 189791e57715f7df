#include "detail/HandCore.h"

#include <iostream>
#include <sstream>
#include <stdexcept>

#include "velmora/RangeToArc.h"

namespace velmora {
namespace hand {
namespace detail {

namespace {
// A receive that fails faster than this did not wait for the time-out: the channel is broken
// (an interface that went away, say), so the loop pauses before trying again.
constexpr auto kFastFailure = std::chrono::milliseconds(50);
constexpr auto kRetryPause = std::chrono::milliseconds(100);
}  // namespace

HandCore::HandCore(std::uint32_t handId, const std::string& channel, int bitRate, VELMORA model)
    : handId_(handId),
      canBus_(communication::CanBusFactory::createCanBus(handId, channel, bitRate, model)) {}

HandCore::~HandCore() {
    stopReceiving();
}

void HandCore::send(const ByteVector& frame) {
    canBus_->send(frame, handId_, false);
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
            return true;
        }
    }
    return false;
}

void HandCore::startReceiving(std::function<void(const ByteVector&)> onFrame) {
    running_ = true;
    receiveThread_ = std::thread([this, onFrame = std::move(onFrame)] { receiveLoop(onFrame); });
}

void HandCore::stopReceiving() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        running_ = false;
    }
    wake_.notify_all();
    if (receiveThread_.joinable()) {
        receiveThread_.join();
    }
}

void HandCore::receiveLoop(const std::function<void(const ByteVector&)>& onFrame) {
    while (running_) {
        communication::CanMessage message;
        const auto started = std::chrono::steady_clock::now();
        try {
            message = canBus_->recv(handId_);
        } catch (const std::runtime_error&) {
            if (std::chrono::steady_clock::now() - started < kFastFailure) {
                std::unique_lock<std::mutex> lock(wakeMutex_);
                wake_.wait_for(lock, kRetryPause, [this] { return !running_; });
            }
            continue;
        }
        if (message.len == 0) {
            continue;
        }
        onFrame(ByteVector(message.data.begin(), message.data.begin() + message.len));
    }
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

double versionNumber(std::uint8_t encoded) {
    return (encoded >> 4) + (encoded & 0x0F) / 10.0;
}

std::string formatNumber(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

void reportUsage(const char* message) {
    std::cout << message << std::endl;
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
        text << "Software Version: " << versionNumber(report[5]) << "\n";
    if (report.size() > 6)
        text << "Hardware Version: " << versionNumber(report[6]) << "\n";
    return text.str();
}

}  // namespace detail
}  // namespace hand
}  // namespace velmora
