#pragma once

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>

#include "Bridge.h"

namespace velmora::testing {

/// Cyclone DDS on the loopback interface only: no multicast (lo has none), the other
/// participants found by unicast to 127.0.0.1.
inline void useLoopbackOnly() {
    ::setenv("CYCLONEDDS_URI",
             "<CycloneDDS><Domain Id=\"any\"><General><Interfaces><NetworkInterface name=\"lo\"/>"
             "</Interfaces><AllowMulticast>false</AllowMulticast></General><Discovery>"
             "<ParticipantIndex>auto</ParticipantIndex><Peers><Peer address=\"127.0.0.1\"/>"
             "</Peers></Discovery></Domain></CycloneDDS>",
             1);
}

/// An output stream another thread may write to while the test reads what it holds.
class SharedText : public std::ostream {
  public:
    SharedText() : std::ostream(&buffer_) {}
    std::string text() const { return buffer_.text(); }

  private:
    class Buffer : public std::streambuf {
      public:
        std::string text() const {
            std::lock_guard<std::mutex> lock(mutex_);
            return text_;
        }

      protected:
        int_type overflow(int_type c) override {
            if (c != traits_type::eof()) {
                std::lock_guard<std::mutex> lock(mutex_);
                text_ += static_cast<char>(c);
            }
            return c;
        }
        std::streamsize xsputn(const char* s, std::streamsize n) override {
            std::lock_guard<std::mutex> lock(mutex_);
            text_.append(s, static_cast<std::size_t>(n));
            return n;
        }

      private:
        mutable std::mutex mutex_;
        std::string text_;
    };
    Buffer buffer_;
};

/// runBridge on a thread of its own, stopped when the object goes.
class RunningBridge {
  public:
    explicit RunningBridge(bridge::BridgeOptions options)
        : thread_([this, options] { status_ = bridge::runBridge(options, out, err, stop_); }) {}
    ~RunningBridge() { finish(); }
    RunningBridge(const RunningBridge&) = delete;
    RunningBridge& operator=(const RunningBridge&) = delete;

    /// Stops the bridge (as Ctrl-C does) and returns its exit status.
    int finish() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return status_;
    }
    bool finished() const { return status_ >= 0; }

    SharedText out;
    SharedText err;

  private:
    std::atomic<bool> stop_{false};
    std::atomic<int> status_{-1};
    std::thread thread_;
};

inline std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

}  // namespace velmora::testing
