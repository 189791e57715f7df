#pragma once

#include <atomic>
#include <memory>
#include <ostream>

namespace CLI {
class App;
}

namespace velmora {
namespace bridge {

struct BridgeOptions;

/// The `bridge` subcommand of the velmora command. Built without DDS, the subcommand is there
/// but says so and fails.
class BridgeCommand {
  public:
    /// Adds `bridge` and its options to `app`.
    explicit BridgeCommand(CLI::App& app);
    ~BridgeCommand();
    BridgeCommand(const BridgeCommand&) = delete;
    BridgeCommand& operator=(const BridgeCommand&) = delete;

    /// True when the parsed command line chose `bridge`.
    bool chosen() const;
    /// Runs the bridge with the parsed options; the exit status.
    int run(std::ostream& out, std::ostream& err, const std::atomic<bool>& stop) const;

  private:
    struct Parsed;
    std::unique_ptr<Parsed> parsed_;
};

}  // namespace bridge
}  // namespace velmora
