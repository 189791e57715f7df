#pragma once

// The HTTP side of `velmora ui`: the embedded page, the hand's facts and readings as JSON, a
// stream of readings (Server-Sent Events) and the commands, behind a token where it matters.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "UiHand.h"

namespace velmora {
namespace tools {

/// The header every request that changes anything carries: the token, or any value when the
/// server has none. A page on another site cannot set it on a request to this one.
inline constexpr const char* kTokenHeader = "X-Velmora-Token";
/// Bytes of a request body, at most.
inline constexpr std::size_t kMaxBody = 4096;
/// Default port of `velmora ui`.
inline constexpr int kDefaultUiPort = 8765;

struct UiServerOptions {
    /// Address to listen on: 127.0.0.1, ::1, 0.0.0.0, a host name.
    std::string host = "127.0.0.1";
    /// 0 picks a free port.
    int port = kDefaultUiPort;
    /// Required on every request that changes anything; empty for none (loopback only).
    std::string token;
    /// What the page says about the hand.
    std::uint32_t side = 0x27;
    std::string channel;
    bool simulated = false;
};

/// True for an address only this machine reaches (127.0.0.0/8, ::1, localhost).
bool isLoopback(const std::string& host);
/// 128 random bits as 32 lower-case hex digits.
std::string newToken();

class UiServer {
  public:
    /// Throws std::invalid_argument for a non-loopback host without a token.
    UiServer(UiHand& hand, UiServerOptions options);
    /// Stops serving; the streams end.
    ~UiServer();
    UiServer(const UiServer&) = delete;
    UiServer& operator=(const UiServer&) = delete;

    /// Binds and starts serving; throws std::runtime_error, with the reason, when the address
    /// cannot be listened on (the port is taken, the address is not this machine's).
    void start();
    void stop();

    /// The port listened on (the one picked for port 0), once started.
    int port() const { return port_; }
    const std::string& token() const { return options_.token; }
    /// http://HOST:PORT/ with the token in the fragment, which the page reads and no request
    /// carries.
    std::string url() const;

  private:
    struct Impl;
    UiHand& hand_;
    UiServerOptions options_;
    int port_ = 0;
    std::unique_ptr<Impl> impl_;
    std::thread listener_;
    std::atomic<bool> listening_{false};
};

}  // namespace tools
}  // namespace velmora
