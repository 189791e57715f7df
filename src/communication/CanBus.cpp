#include "velmora/CanBus.h"

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "detail/CanSystem.h"
#include "detail/LocalTime.h"
#include "detail/Messages.h"
#include "detail/Pacing.h"
#include "velmora/HandException.h"

namespace velmora {
namespace communication {

namespace {

constexpr int kDefaultBitRate = 1000000;

// The kernel's interface names hold at most IFNAMSIZ - 1 characters; longer names are cut.
ifreq interfaceRequest(const std::string& name) {
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    name.copy(ifr.ifr_name, IFNAMSIZ - 1);
    return ifr;
}

// The name as it can be shown in a message: short, and nothing that is not printable ASCII.
std::string shownName(const std::string& name) {
    constexpr std::size_t kShown = 32;
    std::string shown;
    for (std::size_t i = 0; i < name.size() && i < kShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        shown.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return name.size() > kShown ? shown + "..." : shown;
}

// `ip` reads an argument beginning with '-' as an option, and the kernel ends a name at its
// first NUL, so both would bring up some interface other than the one named: refused before
// any system call.
void checkInterfaceName(const std::string& name) {
    const char* problem = nullptr;
    if (!name.empty() && name.front() == '-') {
        problem = "it begins with '-'";
    } else if (name.find('\0') != std::string::npos) {
        problem = "it contains a NUL character";
    }
    if (problem) {
        throw std::invalid_argument("Invalid CAN interface name \"" + shownName(name) +
                                    "\": " + problem);
    }
}

}  // namespace

ICanBus::~ICanBus() = default;

CanBus::CanBus(const std::string& name, int bitRate, VELMORA model)
    : CanBus(name, bitRate, model, detail::posixCanSystem()) {}

CanBus::CanBus(const std::string& name, int bitRate, VELMORA model,
               std::shared_ptr<detail::CanSystem> system)
    : name_(name), bitRate_(bitRate), model_(model), system_(std::move(system)) {
    open();
}

void CanBus::open() {
    checkInterfaceName(name_);
    socketFd_ = system_->openSocket(PF_CAN, SOCK_RAW, CAN_RAW);
    if (socketFd_ < 0) {
        const int error = errno;
        socketFd_ = -1;
        throw ChannelException("Failed to create CAN socket", name_, error);
    }
    // The destructor does not run for a constructor that throws: close before every throw. The
    // failed call's errno is taken before close can change it.
    auto fail = [this](const char* message, int error) {
        system_->closeSocket(socketFd_);
        socketFd_ = -1;
        throw ChannelException(message, name_, error);
    };

    ifreq indexRequest = interfaceRequest(name_);
    if (system_->getInterfaceIndex(socketFd_, indexRequest) < 0) {
        fail("Failed to get CAN interface index", errno);
    }
    const int interfaceIndex = indexRequest.ifr_ifindex;
    interfaceIndex_ = interfaceIndex;
    const int bitRate = bitRate_ < 1 ? kDefaultBitRate : bitRate_;

    ifreq flagsRequest = interfaceRequest(name_);
    const bool up = system_->getInterfaceFlags(socketFd_, flagsRequest) >= 0 &&
                    (flagsRequest.ifr_flags & IFF_UP) != 0;
    if (!up) {
        // Separate arguments, no shell: the interface name is never interpreted.
        system_->run({"sudo", "ip", "link", "set", name_, "down"});
        system_->sleepFor(std::chrono::milliseconds(100));
        const int status = system_->run({"sudo", "ip", "link", "set", name_, "up", "type", "can",
                                         "bitrate", std::to_string(bitRate)});
        if (status != 0) {
            velmora::detail::message(MessageLevel::Warning, velmora::detail::Stream::Err,
                                     "Warning: Failed to configure CAN interface");
        }
    }

    sockaddr_can address;
    std::memset(&address, 0, sizeof address);
    address.can_family = AF_CAN;
    address.can_ifindex = interfaceIndex;
    if (system_->bindSocket(socketFd_, address) < 0) {
        fail("Failed to bind CAN socket", errno);
    }

    timeval timeout{};
    timeout.tv_sec = 1;
    if (system_->setReceiveTimeout(socketFd_, timeout) < 0) {
        fail("Failed to set receive timeout", errno);
    }
    velmora::detail::info("CAN interface " + name_ + " opened successfully");
}

CanBus::~CanBus() {
    if (socketFd_ >= 0) {
        system_->closeSocket(socketFd_);
    }
}

void CanBus::send(const std::vector<std::uint8_t>& data, std::uint32_t canId, bool /*flag*/) {
    can_frame frame;
    std::memset(&frame, 0, sizeof frame);
    frame.can_id = canId;
    frame.can_dlc = static_cast<std::uint8_t>(std::min(data.size(), sizeof frame.data));
    std::copy_n(data.begin(), frame.can_dlc, frame.data);

    detail::sendPaced(
        sendMutex_, model_, detail::pacingVersion(handVersion_), data,
        [&] {
            if (system_->writeFrame(socketFd_, frame) != static_cast<ssize_t>(sizeof frame)) {
                if (errno == ENETDOWN || errno == ENODEV || errno == ENXIO) {
                    up_ = false;
                }
                ++sendFailures_;
                velmora::detail::message(MessageLevel::Error, velmora::detail::Stream::Out,
                                         "Failed to send CAN frame");
            }
        },
        [&](std::chrono::milliseconds pause) { system_->sleepFor(pause); });
}

CanMessage CanBus::recv(const std::uint32_t& canId) {
    can_frame frame;
    std::memset(&frame, 0, sizeof frame);
    if (system_->readFrame(socketFd_, frame) != static_cast<ssize_t>(sizeof frame)) {
        throw std::runtime_error("Failed to receive CAN frame");
    }
    CanMessage message;
    if (frame.can_id != canId) {
        return message;
    }
    message.id = frame.can_id;
    message.len = std::min<std::uint8_t>(frame.can_dlc, CAN_MAX_DLEN);
    std::copy_n(frame.data, message.len, message.data.begin());
    return message;
}

void CanBus::setReceiveTimeout(int seconds, int microseconds) {
    timeval timeout{};
    timeout.tv_sec = seconds;
    timeout.tv_usec = microseconds;
    if (system_->setReceiveTimeout(socketFd_, timeout) < 0) {
        throw std::runtime_error("Failed to set receive timeout");
    }
}

namespace {
void countAndReport(std::mutex& mutex, std::atomic<std::int32_t>& counter,
                    std::chrono::steady_clock::time_point& reference, const std::string& label) {
    std::lock_guard<std::mutex> lock(mutex);
    ++counter;
    const auto now = std::chrono::steady_clock::now();
    if (std::chrono::duration_cast<std::chrono::seconds>(now - reference).count() >= 1) {
        velmora::detail::info(label + std::to_string(counter.load()) + " 帧/秒");
        counter = 0;
        reference = now;
    }
}
}  // namespace

void CanBus::updateSendRate() {
    countAndReport(sendRateMutex_, sendCount_, sendRateReference_, "CAN帧发送速率: ");
}

void CanBus::updateReceiveRate() {
    countAndReport(receiveRateMutex_, receiveCount_, receiveRateReference_, "CAN帧接收速率: ");
}

std::string CanBus::printMillisecondTime() {
    return velmora::detail::formatLocalTime(std::chrono::system_clock::now());
}

namespace detail {

namespace {

// How long a receive waits for a frame, and how often a hand whose interface went away looks
// for it again: rarely enough that an idle or orphaned hand costs nothing, often enough that a
// replugged adapter is back within a fraction of a second.
constexpr std::chrono::milliseconds kReceiveWait{1000};
constexpr std::chrono::milliseconds kReopenPeriod{250};
// A read that failed for a reason the interface does not explain is retried after this pause,
// so that a broken socket never makes the receive thread spin.
constexpr std::chrono::milliseconds kErrorPause{100};

bool interfaceGone(int error) {
    return error == ENETDOWN || error == ENODEV || error == ENXIO;
}

}  // namespace

class CanBusLink final : public ChannelLink {
  public:
    explicit CanBusLink(CanBus& bus) : bus_(bus), wakeFd_(bus.system_->openWakeEvent()) {
        if (wakeFd_ < 0) {
            throw ChannelException("Failed to create CAN wake event", bus.name_, errno);
        }
        // Without it (an old kernel) the channel works the same, only blind to its drops.
        bus.system_->enableDropCount(bus.socketFd_);
    }

    ~CanBusLink() override { bus_.system_->closeSocket(wakeFd_); }

    Received receive(CanMessage& out) override {
        if (!bus_.up_) {
            if (pause(kReopenPeriod)) {
                return Received::Woken;
            }
            reopen();
            return Received::Timeout;
        }
        bool socketReady = false;
        bool wakeReady = false;
        bus_.system_->waitReadable(bus_.socketFd_, wakeFd_, kReceiveWait, socketReady, wakeReady);
        if (wakeReady) {
            return Received::Woken;
        }
        if (!socketReady) {
            // A quiet bus, or an interface that vanished without telling the socket.
            if (!interfaceStillThere()) {
                bus_.up_ = false;
            }
            return Received::Timeout;
        }
        can_frame frame;
        std::memset(&frame, 0, sizeof frame);
        std::uint32_t kernelDrops = 0;
        bool dropsReported = false;
        if (bus_.system_->receiveFrame(bus_.socketFd_, frame, kernelDrops, dropsReported) ==
            static_cast<ssize_t>(sizeof frame)) {
            if (dropsReported) {
                // Unsigned difference: the kernel's total wraps at 2^32.
                drops_ += static_cast<std::uint32_t>(kernelDrops - lastKernelDrops_);
                lastKernelDrops_ = kernelDrops;
            }
            out.id = frame.can_id;
            out.len = std::min<std::uint8_t>(frame.can_dlc, CAN_MAX_DLEN);
            std::copy_n(frame.data, out.len, out.data.begin());
            return Received::Frame;
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK || error == EINTR) {
            return Received::Timeout;
        }
        ++bus_.receiveErrors_;
        if (interfaceGone(error) || !interfaceStillThere()) {
            bus_.up_ = false;
        } else if (pause(kErrorPause)) {
            return Received::Woken;
        }
        return Received::Error;
    }

    void wake() override { bus_.system_->signalWakeEvent(wakeFd_); }

    ChannelStats stats() const override {
        ChannelStats stats;
        stats.sendFailures = bus_.sendFailures_;
        stats.receiveErrors = bus_.receiveErrors_;
        stats.reconnects = bus_.reconnects_;
        stats.drops = drops_;
        stats.up = bus_.up_;
        return stats;
    }

    void setHandVersion(float version) override { bus_.handVersion_ = version; }

  private:
    // Waits on the wake event alone; true when woken.
    bool pause(std::chrono::milliseconds duration) {
        bool socketReady = false;
        bool wakeReady = false;
        bus_.system_->waitReadable(-1, wakeFd_, duration, socketReady, wakeReady);
        return wakeReady;
    }

    // The interface of the channel's name exists, is up, and is the one the socket is bound to.
    bool interfaceStillThere() {
        int index = 0;
        return interfaceUp(index) && index == bus_.interfaceIndex_;
    }

    bool interfaceUp(int& index) {
        ifreq indexRequest = interfaceRequest(bus_.name_);
        if (bus_.system_->getInterfaceIndex(bus_.socketFd_, indexRequest) < 0) {
            return false;
        }
        index = indexRequest.ifr_ifindex;
        ifreq flagsRequest = interfaceRequest(bus_.name_);
        return bus_.system_->getInterfaceFlags(bus_.socketFd_, flagsRequest) >= 0 &&
               (flagsRequest.ifr_flags & IFF_UP) != 0;
    }

    // Binds a new socket to the interface of the same name once it is back (with a new index,
    // when it was deleted and created again), and puts it in place of the old one. Nothing is
    // configured: the interface comes back as whoever brought it back set it up.
    void reopen() {
        int index = 0;
        if (!interfaceUp(index)) {
            return;
        }
        const int fd = bus_.system_->openSocket(PF_CAN, SOCK_RAW, CAN_RAW);
        if (fd < 0) {
            return;
        }
        sockaddr_can address;
        std::memset(&address, 0, sizeof address);
        address.can_family = AF_CAN;
        address.can_ifindex = index;
        timeval timeout{};
        timeout.tv_sec = 1;
        if (bus_.system_->bindSocket(fd, address) < 0 ||
            bus_.system_->setReceiveTimeout(fd, timeout) < 0) {
            bus_.system_->closeSocket(fd);
            return;
        }
        bus_.system_->enableDropCount(fd);
        int old = -1;
        {
            std::lock_guard<std::mutex> lock(bus_.sendMutex_);
            old = bus_.socketFd_;
            bus_.socketFd_ = fd;
        }
        bus_.system_->closeSocket(old);
        lastKernelDrops_ = 0;
        bus_.interfaceIndex_ = index;
        ++bus_.reconnects_;
        bus_.up_ = true;
    }

    CanBus& bus_;
    const int wakeFd_;
    // The kernel's drop total of the current socket as last reported; read and written by the
    // receive thread only.
    std::uint32_t lastKernelDrops_ = 0;
    std::atomic<std::uint64_t> drops_{0};
};

std::unique_ptr<ChannelLink> CanBusAccess::link(CanBus& bus) {
    return std::make_unique<CanBusLink>(bus);
}

std::unique_ptr<CanBus> CanBusAccess::open(const std::string& name, int bitRate, VELMORA model,
                                           std::shared_ptr<CanSystem> system) {
    return std::unique_ptr<CanBus>(new CanBus(name, bitRate, model, std::move(system)));
}
}  // namespace detail

}  // namespace communication
}  // namespace velmora
