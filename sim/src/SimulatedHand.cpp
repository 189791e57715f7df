#include "velmora/sim/SimulatedHand.h"

#include <stdexcept>

#include "Protocol.h"
#include "RawCanBus.h"
#include "velmora/VirtualCanBus.h"

namespace velmora {
namespace sim {

namespace {
constexpr char kVirtualPrefix[] = "virtual:";
// Short receive time-out, so that a hand stops promptly.
constexpr int kReceiveTimeoutUs = 100000;

std::vector<std::vector<std::size_t>> fingerJoints(const models::ModelInfo& m) {
    std::vector<std::vector<std::size_t>> fingers(models::kFingers);
    for (std::size_t f = 0; f < models::kFingers; ++f) {
        for (int slot : m.fingerJoints[f]) {
            if (slot != models::kNoSlot)
                fingers[f].push_back(static_cast<std::size_t>(slot));
        }
    }
    return fingers;
}
}  // namespace

SimulatedHand::SimulatedHand(std::unique_ptr<communication::ICanBus> bus, SimConfig config)
    : config_(config),
      body_(models::info(config.model).slots, fingerJoints(models::info(config.model))),
      bus_(std::move(bus)),
      protocol_(makeProtocol(body_, config_)) {
    if (auto* virtualBus = dynamic_cast<communication::VirtualCanBus*>(bus_.get())) {
        virtualBus->setReceiveTimeout(0, kReceiveTimeoutUs);
    }
    receiver_ = std::thread([this] { receiveLoop(); });
    physics_ = std::thread([this] { physicsLoop(); });
}

SimulatedHand::~SimulatedHand() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        running_ = false;
    }
    wake_.notify_all();
    receiver_.join();
    physics_.join();
}

void SimulatedHand::receiveLoop() {
    while (running_) {
        communication::CanMessage message;
        const auto started = std::chrono::steady_clock::now();
        try {
            message = bus_->recv(config_.handId);
        } catch (const std::runtime_error&) {
            // A channel that fails at once (its interface went away) is retried calmly.
            if (std::chrono::steady_clock::now() - started < std::chrono::milliseconds(20)) {
                std::unique_lock<std::mutex> lock(wakeMutex_);
                wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return !running_; });
            }
            continue;
        }
        if (message.id != config_.handId || silent_) {
            continue;
        }
        ++framesReceived_;
        const ByteVector frame(message.data.begin(), message.data.begin() + message.len);
        if (frame.empty()) {
            continue;
        }
        Frames replies;
        {
            std::lock_guard<std::mutex> lock(protocolMutex_);
            protocol_->handle(frame, replies);
        }
        if (!replies.empty() && replyDelayMs_ > 0) {
            std::unique_lock<std::mutex> lock(wakeMutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(replyDelayMs_.load()),
                           [this] { return !running_; });
        }
        sendAll(std::move(replies));
    }
}

void SimulatedHand::physicsLoop() {
    auto last = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(wakeMutex_);
    while (!wake_.wait_for(lock, config_.tick, [this] { return !running_; })) {
        lock.unlock();
        const auto now = std::chrono::steady_clock::now();
        body_.step(std::chrono::duration<double>(now - last).count());
        last = now;
        Frames spontaneous;
        if (!silent_) {
            std::lock_guard<std::mutex> protocolLock(protocolMutex_);
            protocol_->onTick(spontaneous);
        }
        sendAll(std::move(spontaneous));
        lock.lock();
    }
}

void SimulatedHand::sendAll(std::vector<ByteVector> frames) {
    const ReplyFault fault = replyFault_;
    for (ByteVector& frame : frames) {
        if (fault == ReplyFault::Short && frame.size() > 1) {
            frame.pop_back();
        } else if (fault == ReplyFault::Malformed) {
            frame.resize(1);
        }
        bus_->send(frame, config_.handId, false);
        ++framesSent_;
    }
}

std::unique_ptr<communication::ICanBus> openSimChannel(const std::string& name) {
    const std::string prefix = kVirtualPrefix;
    if (name.compare(0, prefix.size(), prefix) == 0) {
        return std::make_unique<communication::VirtualCanBus>(name.substr(prefix.size()));
    }
    return std::make_unique<RawCanBus>(name, kReceiveTimeoutUs);
}

}  // namespace sim
}  // namespace velmora
