#pragma once

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "detail/CanSystem.h"

namespace velmora::testing {

/// Stands in for the operating system under a CanBus: records every call as one line of text
/// and fails the calls it is told to fail.
class FakeCanSystem : public communication::detail::CanSystem {
  public:
    static constexpr int kSocket = 7;
    static constexpr int kInterfaceIndex = 4;

    std::atomic<bool> failSocket{false};
    std::atomic<bool> failIndex{false};
    std::atomic<bool> failFlags{false};
    std::atomic<bool> interfaceUp{true};
    std::atomic<bool> failBind{false};
    std::atomic<bool> failTimeout{false};
    std::atomic<int> failError{ENODEV};  ///< errno of every failed call above
    std::atomic<int> interfaceIndex{kInterfaceIndex};
    std::atomic<int> writeError{0};      ///< errno of a short write
    int shortWrite = 0;                  ///< bytes to report written (0: whole frame)
    std::vector<int> runStatuses;        ///< exit status of each run, in order (then 0)
    std::deque<can_frame> framesToRead;  ///< read fails (time-out) once empty

    int failed() const {
        errno = failError;
        return -1;
    }

    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::vector<can_frame> written() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return written_;
    }
    /// Names the kernel saw in interface requests.
    std::vector<std::string> requestedNames() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return names_;
    }

    int openSocket(int domain, int type, int protocol) override {
        log("socket " + std::to_string(domain) + " " + std::to_string(type) + " " +
            std::to_string(protocol));
        return failSocket ? failed() : nextSocket.load();
    }
    int getInterfaceIndex(int fd, ifreq& ifr) override {
        remember(ifr);
        log("index " + std::to_string(fd));
        if (failIndex)
            return failed();
        ifr.ifr_ifindex = interfaceIndex;
        return 0;
    }
    int getInterfaceFlags(int fd, ifreq& ifr) override {
        remember(ifr);
        log("flags " + std::to_string(fd));
        if (failFlags)
            return -1;
        ifr.ifr_flags = static_cast<short>(interfaceUp ? (IFF_UP | IFF_RUNNING) : 0);
        return 0;
    }
    int bindSocket(int fd, const sockaddr_can& address) override {
        log("bind " + std::to_string(fd) + " family " + std::to_string(address.can_family) +
            " index " + std::to_string(address.can_ifindex));
        return failBind ? failed() : 0;
    }
    int setReceiveTimeout(int fd, const timeval& timeout) override {
        log("timeout " + std::to_string(fd) + " " + std::to_string(timeout.tv_sec) + "s " +
            std::to_string(timeout.tv_usec) + "us");
        return failTimeout ? failed() : 0;
    }
    ssize_t readFrame(int, can_frame& frame) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!readErrors.empty()) {
            errno = readErrors.front();
            readErrors.pop_front();
            return -1;
        }
        if (framesToRead.empty()) {
            errno = EAGAIN;
            return -1;
        }
        frame = framesToRead.front();
        framesToRead.pop_front();
        return sizeof frame;
    }
    int enableDropCount(int fd) override {
        std::lock_guard<std::mutex> lock(mutex_);
        dropCountSockets_.push_back(fd);
        return 0;
    }
    /// As readFrame; reports the next of kernelDrops when there is one.
    ssize_t receiveFrame(int fd, can_frame& frame, std::uint32_t& drops,
                         bool& dropsReported) override {
        const ssize_t got = readFrame(fd, frame);
        std::lock_guard<std::mutex> lock(mutex_);
        dropsReported = got > 0 && !kernelDrops.empty();
        if (dropsReported) {
            drops = kernelDrops.front();
            kernelDrops.pop_front();
        }
        return got;
    }
    /// Sockets SO_RXQ_OVFL was set on, in order.
    std::vector<int> dropCountSockets() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return dropCountSockets_;
    }
    std::deque<std::uint32_t> kernelDrops;  ///< the kernel's drop total with each frame read

    ssize_t writeFrame(int fd, const can_frame& frame) override {
        log("write " + std::to_string(fd));
        std::lock_guard<std::mutex> lock(mutex_);
        written_.push_back(frame);
        if (shortWrite) {
            errno = writeError;
            return shortWrite;
        }
        return static_cast<ssize_t>(sizeof frame);
    }
    int closeSocket(int fd) override {
        log("close " + std::to_string(fd));
        return 0;
    }
    int run(const std::vector<std::string>& argv) override {
        std::string line = "run";
        for (const auto& arg : argv)
            line += " [" + arg + "]";
        log(line);
        std::lock_guard<std::mutex> lock(mutex_);
        if (runCount_ < runStatuses.size())
            return runStatuses[runCount_++];
        return 0;
    }
    void sleepFor(std::chrono::milliseconds duration) override {
        log("sleep " + std::to_string(duration.count()) + "ms");
    }

    static constexpr int kWakeEvent = 9;
    bool failWakeEvent = false;

    int openWakeEvent() override {
        log("eventfd");
        return failWakeEvent ? -1 : kWakeEvent;
    }
    int signalWakeEvent(int fd) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            woken_ = true;
        }
        changed_.notify_all();
        log("wake " + std::to_string(fd));
        return 0;
    }
    /// Ready at once when a frame or a read error waits, or once woken; otherwise waits for
    /// either (pushFrame, wake) up to the time-out, which a test need not wait out.
    int waitReadable(int socketFd, int, std::chrono::milliseconds timeout, bool& socketReady,
                     bool& wakeReady) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++waits_;
        const auto ready = [&] {
            return woken_ || (socketFd >= 0 && (!framesToRead.empty() || !readErrors.empty()));
        };
        changed_.wait_for(lock, std::min(timeout, maxWait), ready);
        wakeReady = woken_;
        socketReady = socketFd >= 0 && (!framesToRead.empty() || !readErrors.empty());
        return (wakeReady ? 1 : 0) + (socketReady ? 1 : 0);
    }

    /// Hands a frame to the next read and wakes a waiting one.
    void pushFrame(const can_frame& f) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            framesToRead.push_back(f);
        }
        changed_.notify_all();
    }
    /// The next read fails with this errno.
    void pushReadError(int error) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            readErrors.push_back(error);
        }
        changed_.notify_all();
    }
    std::size_t waits() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return waits_;
    }

    std::chrono::milliseconds maxWait{std::chrono::milliseconds(20)};
    std::deque<int> readErrors;
    std::atomic<int> nextSocket{kSocket};

    static can_frame frame(std::uint32_t id, std::vector<std::uint8_t> data) {
        can_frame f;
        std::memset(&f, 0, sizeof f);
        f.can_id = id;
        f.can_dlc = static_cast<std::uint8_t>(data.size());
        if (!data.empty())
            std::memcpy(f.data, data.data(), data.size());
        return f;
    }

  private:
    std::vector<int> dropCountSockets_;

    void log(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(line);
    }
    void remember(const ifreq& ifr) {
        std::lock_guard<std::mutex> lock(mutex_);
        names_.emplace_back(ifr.ifr_name, strnlen(ifr.ifr_name, IFNAMSIZ));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<can_frame> written_;
    std::vector<std::string> names_;
    std::size_t runCount_ = 0;
    bool woken_ = false;
    std::size_t waits_ = 0;
    std::condition_variable changed_;
};

}  // namespace velmora::testing
