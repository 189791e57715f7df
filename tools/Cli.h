#pragma once

#include <atomic>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace velmora {
namespace tools {

/// Runs the velmora command with its arguments (args[0] is the program name). Output goes to
/// `out`, errors to `err`; `stop` ends a running `sim` (the program sets it on SIGINT and
/// SIGTERM). Returns the exit status.
int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const std::atomic<bool>& stop);
/// The same, with `in` as what `-` reads.
int runCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err, const std::atomic<bool>& stop);

}  // namespace tools
}  // namespace velmora
