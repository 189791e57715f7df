#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/Child.h"
#include "velmora/VelmoraTypes.h"

namespace velmora::integration {

using namespace std::chrono_literals;
using Frames = std::vector<ByteVector>;

/// Skips the running test with `reason` when there is one.
#define VELMORA_SKIP_IF(reason_expression)              \
    do {                                                \
        if (const auto reason_ = (reason_expression)) { \
            GTEST_SKIP() << *reason_;                   \
        }                                               \
    } while (false)

/// Why a test cannot run here: CAN interfaces that do not exist or are not up.
std::optional<std::string> needUp(std::initializer_list<std::string> names);
/// ... an interface that does not exist or is up.
std::optional<std::string> needDown(const std::string& name);
/// ... programs missing from PATH.
std::optional<std::string> needPrograms(std::initializer_list<std::string> names);
/// ... not root, but the test creates and deletes interfaces (and SocketCAN must be there).
std::optional<std::string> needRoot();

bool interfaceExists(const std::string& name);
bool interfaceUp(const std::string& name);

/// One frame as candump recorded it.
struct WireFrame {
    std::uint32_t id = 0;
    ByteVector data;
    /// The kernel's receive time stamp, seconds since the epoch (not compared).
    double time = 0;
    bool operator==(const WireFrame& other) const { return id == other.id && data == other.data; }
};
/// candump's notation: "027#0102".
std::string toText(const WireFrame& frame);
std::string toText(const std::vector<WireFrame>& frames);
std::string toText(const ByteVector& bytes);
/// A line of `candump -L`: "(1700000000.000000) can0 027#0102".
std::optional<WireFrame> parseCandumpLine(const std::string& line);

/// A raw CAN socket of the test's own, for marker frames.
class RawSocket {
  public:
    explicit RawSocket(const std::string& interfaceName);
    ~RawSocket();
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;
    void send(std::uint32_t id, const ByteVector& data);

  private:
    int fd_ = -1;
};

/// `candump -L` on one interface. The constructor returns once candump records (it sends marker
/// frames until one shows up); finish() sends an end marker, waits until candump has recorded
/// it, stops candump and returns what it recorded in between, markers left out.
class Candump {
  public:
    static constexpr std::uint32_t kMarkerId = 0x7F0;

    explicit Candump(const std::string& interfaceName);
    std::vector<WireFrame> finish();

  private:
    std::string interface_;
    RawSocket markers_;
    Child candump_;
};

/// A vcan interface the test creates (as root) and deletes again.
class ScratchInterface {
  public:
    ScratchInterface(std::string name, bool up);
    ~ScratchInterface();
    ScratchInterface(const ScratchInterface&) = delete;
    ScratchInterface& operator=(const ScratchInterface&) = delete;

    void create(bool up);
    void remove();
    void setUp();
    void setDown();

  private:
    std::string name_;
};

/// A `sudo` of the test's own, first on PATH while it lives: it notes each command it is
/// asked to run and then runs it.
class LoggingSudo {
  public:
    LoggingSudo();
    ~LoggingSudo();
    LoggingSudo(const LoggingSudo&) = delete;
    LoggingSudo& operator=(const LoggingSudo&) = delete;

    /// The argument vectors given to sudo so far, in order.
    std::vector<std::vector<std::string>> commands() const;

  private:
    std::string dir_;
    std::string oldPath_;
};

/// A fresh directory under /tmp, removed with its content by the destructor.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

/// Open sockets of this process.
int openSockets();
/// CPU time (user + system) this process has used.
std::chrono::microseconds processCpuTime();

/// Polls `condition` every `interval` until it holds or the deadline passes. For conditions
/// that put frames on the bus, so the interval is not tiny.
template <class Condition>
bool pollUntil(Condition condition, std::chrono::milliseconds deadline = 30000ms,
               std::chrono::milliseconds interval = 50ms) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}

}  // namespace velmora::integration
