#include "velmora/VirtualCanBus.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <stdexcept>
#include <thread>
#include <utility>
#include "detail/ChannelLink.h"
#include "detail/Messages.h"
#include "detail/PreciseSleep.h"

#include "detail/Pacing.h"

namespace velmora {
namespace communication {
namespace detail {

class VirtualBusHub;

/// One endpoint's bounded receive queue, and the hub it is attached to.
class VirtualBusEndpoint {
  public:
    explicit VirtualBusEndpoint(std::shared_ptr<VirtualBusHub> hub) : hub_(std::move(hub)) {}

    VirtualBusHub& hub() const { return *hub_; }

    void deliver(const CanMessage& frame, std::chrono::steady_clock::time_point sentAt) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.size() >= VirtualCanBus::kQueueCapacity) {
                ++dropped_;
                return;
            }
            queue_.push_back({frame, sentAt});
        }
        arrived_.notify_one();
    }

    /// Waits up to the receive time-out (forever when it is zero) for the next frame; false
    /// when none came. With `wakeable`, also false once wake() was called.
    bool take(CanMessage& frame, bool wakeable = false) {
        std::chrono::steady_clock::time_point sentAt;
        return take(frame, sentAt, wakeable);
    }

    bool take(CanMessage& frame, std::chrono::steady_clock::time_point& sentAt,
              bool wakeable = false) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto ready = [&] { return !queue_.empty() || (wakeable && woken_); };
        if (timeout_.count() == 0) {
            arrived_.wait(lock, ready);
        } else if (!arrived_.wait_for(lock, timeout_, ready)) {
            return false;
        }
        if (queue_.empty()) {
            return false;
        }
        frame = queue_.front().first;
        sentAt = queue_.front().second;
        queue_.pop_front();
        return true;
    }

    void wake() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            woken_ = true;
        }
        arrived_.notify_all();
    }

    bool woken() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return woken_;
    }

    void setTimeout(std::chrono::microseconds timeout) {
        std::lock_guard<std::mutex> lock(mutex_);
        timeout_ = timeout;
    }

    std::size_t dropped() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return dropped_;
    }

  private:
    const std::shared_ptr<VirtualBusHub> hub_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::pair<CanMessage, std::chrono::steady_clock::time_point>> queue_;
    std::size_t dropped_ = 0;
    bool woken_ = false;
    std::chrono::microseconds timeout_{std::chrono::seconds(1)};
};

/// The endpoints attached to one bus name. Frames are handed out under the hub's lock, so every
/// endpoint sees the frames of all senders in the same order.
class VirtualBusHub {
  public:
    void attach(const std::shared_ptr<VirtualBusEndpoint>& endpoint) {
        std::lock_guard<std::mutex> lock(mutex_);
        endpoints_.push_back(endpoint);
    }

    void detach(const VirtualBusEndpoint* endpoint) {
        std::lock_guard<std::mutex> lock(mutex_);
        endpoints_.erase(std::remove_if(endpoints_.begin(), endpoints_.end(),
                                        [endpoint](const auto& e) { return e.get() == endpoint; }),
                         endpoints_.end());
    }

    void broadcast(const VirtualBusEndpoint* sender, const CanMessage& frame) {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto sentAt = std::chrono::steady_clock::now();
        for (const auto& endpoint : endpoints_) {
            if (endpoint.get() != sender) {
                endpoint->deliver(frame, sentAt);
            }
        }
    }

  private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<VirtualBusEndpoint>> endpoints_;
};

namespace {

std::shared_ptr<VirtualBusHub> hubNamed(const std::string& name) {
    // Never destroyed: endpoints in static objects may outlive any static registry.
    static auto* mutex = new std::mutex;
    static auto* hubs = new std::map<std::string, std::weak_ptr<VirtualBusHub>>;

    std::lock_guard<std::mutex> lock(*mutex);
    for (auto it = hubs->begin(); it != hubs->end();) {
        it = it->second.expired() ? hubs->erase(it) : std::next(it);
    }
    std::shared_ptr<VirtualBusHub> hub = (*hubs)[name].lock();
    if (!hub) {
        hub = std::make_shared<VirtualBusHub>();
        (*hubs)[name] = hub;
    }
    return hub;
}

}  // namespace
}  // namespace detail

VirtualCanBus::VirtualCanBus(const std::string& busName)
    : busName_(busName),
      endpoint_(std::make_shared<detail::VirtualBusEndpoint>(detail::hubNamed(busName))) {
    endpoint_->hub().attach(endpoint_);
}

VirtualCanBus::VirtualCanBus(const std::string& busName, VELMORA model) : VirtualCanBus(busName) {
    pacedAs_ = model;
    velmora::detail::info("CAN interface virtual:" + busName_ + " opened successfully");
}

VirtualCanBus::~VirtualCanBus() {
    endpoint_->hub().detach(endpoint_.get());
}

void VirtualCanBus::send(const std::vector<std::uint8_t>& data, std::uint32_t canId,
                         bool /*flag*/) {
    CanMessage frame;
    frame.id = canId;
    frame.len = static_cast<std::uint8_t>(std::min(data.size(), frame.data.size()));
    std::copy_n(data.begin(), frame.len, frame.data.begin());
    auto write = [&] { endpoint_->hub().broadcast(endpoint_.get(), frame); };

    if (!pacedAs_) {
        if (detail::payloadFits(data)) {
            write();
        }
        return;
    }
    detail::sendPaced(sendMutex_, *pacedAs_, detail::pacingVersion(handVersion_), data, write,
                      [](std::chrono::milliseconds pause) {
#if defined(VELMORA_FUZZ_UNPACED_VIRTUAL_BUS)
                          // Fuzz builds only: a getter's requests would cost milliseconds each.
                          (void)pause;
#else
                          velmora::detail::sleepPrecisely(pause);
#endif
                      });
}

CanMessage VirtualCanBus::recv(const std::uint32_t& canId) {
    CanMessage frame;
    if (!endpoint_->take(frame)) {
        throw std::runtime_error("Failed to receive CAN frame");
    }
    return frame.id == canId ? frame : CanMessage{};
}

CanMessage VirtualCanBus::recvAny() {
    std::chrono::steady_clock::time_point sentAt;
    return recvAny(sentAt);
}

CanMessage VirtualCanBus::recvAny(std::chrono::steady_clock::time_point& sentAt) {
    CanMessage frame;
    if (!endpoint_->take(frame, sentAt)) {
        throw std::runtime_error("Failed to receive CAN frame");
    }
    return frame;
}

void VirtualCanBus::setReceiveTimeout(int seconds, int microseconds) {
    // The same values a socket accepts for SO_RCVTIMEO.
    if (seconds < 0 || microseconds < 0 || microseconds >= 1000000) {
        throw std::runtime_error("Failed to set receive timeout");
    }
    endpoint_->setTimeout(std::chrono::seconds(seconds) + std::chrono::microseconds(microseconds));
}

std::size_t VirtualCanBus::droppedFrames() const {
    return endpoint_->dropped();
}

namespace detail {

namespace {

// An in-process bus never goes away and never fails a write.
class VirtualBusLink final : public ChannelLink {
  public:
    VirtualBusLink(VirtualBusEndpoint& endpoint, std::atomic<float>& handVersion)
        : endpoint_(endpoint), handVersion_(handVersion) {}

    Received receive(CanMessage& out) override {
        if (endpoint_.take(out, true)) {
            return Received::Frame;
        }
        return endpoint_.woken() ? Received::Woken : Received::Timeout;
    }
    void wake() override { endpoint_.wake(); }
    ChannelStats stats() const override {
        ChannelStats stats;
        stats.drops = endpoint_.dropped();
        return stats;
    }
    void setHandVersion(float version) override { handVersion_ = version; }

  private:
    VirtualBusEndpoint& endpoint_;
    std::atomic<float>& handVersion_;
};

}  // namespace

std::unique_ptr<ChannelLink> VirtualCanBusAccess::link(VirtualCanBus& bus) {
    return std::make_unique<VirtualBusLink>(*bus.endpoint_, bus.handVersion_);
}

}  // namespace detail

}  // namespace communication
}  // namespace velmora
