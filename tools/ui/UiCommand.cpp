// velmora ui: the hand on a web page.
#include <CLI/CLI.hpp>

#include <sstream>
#include <thread>

#include "Subcommands.h"
#include "UiHand.h"
#include "UiServer.h"
#include "velmora/Models.h"

namespace velmora {
namespace tools {

namespace {

using namespace std::chrono_literals;

struct UiOptions {
    HandOptions hand;
    std::string listen = "127.0.0.1:" + std::to_string(kDefaultUiPort);
    std::string token;
};

std::pair<std::string, int> parseListen(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    const std::string usage =
        "--listen takes ADDR:PORT (127.0.0.1:" + std::to_string(kDefaultUiPort) +
        ", 0.0.0.0:0), not '" + text + "'";
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        throw UsageError(usage);
    const std::string host = text.substr(0, colon), port = text.substr(colon + 1);
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(port) > 65535)
        throw UsageError(usage);
    if (host.find(':') != std::string::npos && (host.front() != '[' || host.back() != ']'))
        throw UsageError(usage + ": an IPv6 address goes in brackets, [::1]:PORT");
    return {host, std::stoi(port)};
}

void checkToken(const std::string& token) {
    const bool fits = token.size() >= 16 && token.size() <= 128 &&
                      token.find_first_not_of(
                          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                          "0123456789._~-") == std::string::npos;
    if (!fits)
        throw UsageError("--token must be 16 to 128 letters, digits or . _ ~ -");
}

int runUi(const UiOptions& options, Io& io) {
    const auto [host, port] = parseListen(options.listen);
    UiServerOptions serving;
    serving.host = host;
    serving.port = port;
    serving.token = options.token;
    if (!serving.token.empty())
        checkToken(serving.token);
    else if (!isLoopback(host))
        serving.token = newToken();

    HandSession session(options.hand);
    if (!session.waitForFirstReply(session.timeout(), io.stop)) {
        if (io.stop)
            return kSuccess;
        std::ostringstream why;
        why << "hand 0x" << std::hex << session.side() << std::dec << " did not answer within "
            << session.timeout().count() << " ms";
        throw std::runtime_error(why.str());
    }
    serving.side = session.side();
    serving.channel = session.channel();
    serving.simulated = session.simulated() != nullptr;

    UiHand hand(session.hand(), session.model(), session.timeout());
    UiServer server(hand, serving);
    server.start();
    io.out << "velmora ui: " << models::modelName(session.model()) << " "
           << models::sideName(session.side()) << " on " << session.channel() << " at "
           << server.url() << std::endl;
    if (host == "0.0.0.0" || host == "[::]")
        io.out << "velmora ui: from another machine, open it with this machine's address"
               << std::endl;
    io.out << "velmora ui: Ctrl-C stops the server and holds the hand" << std::endl;
    while (!io.stop)
        std::this_thread::sleep_for(50ms);
    server.stop();
    return kSuccess;  // the hand holds where it is as `hand` goes
}

}  // namespace

void addUi(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<UiOptions>();
    CLI::App* command = app.add_subcommand(
        "ui",
        "Serve a web page that shows the hand live and drives it (sliders, poses, stop), until "
        "interrupted");
    addHandOptions(command, options->hand);
    command
        ->add_option("--listen,-l", options->listen,
                     "ADDR:PORT to serve on; port 0 picks a free one. An address other than "
                     "loopback needs a token, made at start unless --token gives one")
        ->capture_default_str();
    command->add_option("--token", options->token,
                        "Token every request that changes anything carries (16 to 128 "
                        "letters, digits or . _ ~ -)");
    commands.add(command, [options](Io& io) {
        return guarded("ui", io, [&] { return runUi(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
