#include <csignal>
#include <iostream>

#include "Cli.h"

namespace {
std::atomic<bool> stopRequested{false};
extern "C" void onSignal(int) {
    stopRequested = true;
}
}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    return velmora::tools::runCli(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr,
                                  stopRequested);
}
