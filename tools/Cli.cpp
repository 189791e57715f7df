#include "Cli.h"

#include <unistd.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>

#include "Subcommands.h"
#include "bridge/BridgeCommand.h"
#include "velmora/MessageSink.h"
#include "velmora/Version.h"

namespace velmora {
namespace tools {

int runCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const std::atomic<bool>& stop) {
    return runCli(args, std::cin, out, err, stop);
}

int runCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err, const std::atomic<bool>& stop) {
    CLI::App app{"velmora: drive, watch and simulate dexterous robot hands on a CAN bus",
                 "velmora"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string(velmora::version()));

    // One line per subcommand.
    Subcommands commands;
    addScan(app, commands);
    addInterfaces(app, commands);
    addInfo(app, commands);
    addState(app, commands);
    addMove(app, commands);
    addStop(app, commands);
    addPose(app, commands);
    addMonitor(app, commands);
    addRecord(app, commands);
    addDecode(app, commands);
    addReplay(app, commands);
    addDemo(app, commands);
    addSim(app, commands);
    addUi(app, commands);

    const bridge::BridgeCommand bridgeCommand(app);

    if (args.size() <= 1) {
        out << app.help();
        err << "A subcommand is required\n";
        return kUsage;
    }
    if (args[1] == "--man-pages" || args[1] == "--bash-completion")
        return writeHelpFiles(app, args, out, err);
    if (args[1].empty() || args[1][0] != '-') {
        std::vector<std::string> names;
        for (const CLI::App* sub : app.get_subcommands({}))
            names.push_back(sub->get_name());
        if (std::find(names.begin(), names.end(), args[1]) == names.end()) {
            err << "velmora: " << unknownCommand(args[1], names) << "\n";
            return kUsage;
        }
    }

    std::vector<std::string> reversed(args.rbegin(), args.rend() - (args.empty() ? 0 : 1));
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
        app.exit(e, out, err);
        return kSuccess;
    } catch (const CLI::CallForAllHelp& e) {
        app.exit(e, out, err);
        return kSuccess;
    } catch (const CLI::CallForVersion&) {
        out << velmora::version() << "\n";
        return kSuccess;
    } catch (const CLI::ParseError& e) {
        // CLI11's own exit codes (105 and up) mean nothing to a script: every usage error is 2.
        app.exit(e, out, err);
        return kUsage;
    }

    Io io{out, err, stop, &out == &std::cout && ::isatty(STDOUT_FILENO), &in};
    installMessageSink(err);
    int status = kUsage;
    if (bridgeCommand.chosen()) {
        status = bridgeCommand.run(out, err, stop);
    } else {
        for (const auto& entry : commands.entries) {
            if (*entry.app) {
                status = entry.run(io);
                break;
            }
        }
    }
    resetMessageSink();
    return status;
}

}  // namespace tools
}  // namespace velmora
