// velmora pose: save the hand's positions under a name, list what is saved.
#include "Pose.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Subcommands.h"
#include "velmora/Models.h"

#ifdef VELMORA_HAVE_TOML
#include <toml++/toml.h>
#endif

namespace velmora {
namespace tools {

namespace {

struct PoseOptions {
    HandOptions hand;
    std::string name;
    std::string model;
};

#ifdef VELMORA_HAVE_TOML
toml::table loadPoses(const std::string& path) {
    if (!std::filesystem::exists(path))
        return {};
    try {
        return toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        throw std::runtime_error(path + ": " + std::string(e.description()));
    }
}

int runSave(const PoseOptions& options, Io& io) {
    const std::string& name = options.name;
    if (name.empty() ||
        name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_-") != std::string::npos)
        throw UsageError("pose name '" + name + "' must be lower-case letters, digits, _ or -");
    for (const char* builtIn : models::kPoseNames) {
        if (name == builtIn)
            throw UsageError("'" + name + "' is a built-in pose: choose another name");
    }
    HandOptions hand = options.hand;
    hand.requireAnswer = true;
    HandSession session(hand);
    const ByteVector positions = session.hand().readState(session.timeout());
    const std::string path = posesPath();
    toml::table poses = loadPoses(path);
    const char* model = models::modelName(session.model());
    if (!poses.contains(model))
        poses.insert(model, toml::table{});
    toml::table* table = poses[model].as_table();
    if (!table)
        throw std::runtime_error(path + ": [" + model + "] is not a table");
    toml::array values;
    for (std::uint8_t v : positions)
        values.push_back(static_cast<std::int64_t>(v));
    table->insert_or_assign(name, std::move(values));
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const std::string partial = path + ".new";
    {
        std::ofstream out(partial, std::ios::trunc);
        out << poses << "\n";
        if (!out)
            throw std::runtime_error("cannot write " + partial);
    }
    std::filesystem::rename(partial, path);  // a reader never sees half a file
    io.out << "saved " << name << " for " << model << ":";
    for (const Labelled& v : meaningful(session.model(), positions))
        io.out << " " << v.label << "=" << v.value;
    io.out << "\n";
    return kSuccess;
}

int runList(const PoseOptions& options, Io& io) {
    const std::optional<VELMORA> only =
        options.model.empty() ? std::nullopt : std::optional<VELMORA>(parseModel(options.model));
    const toml::table poses = loadPoses(posesPath());
    for (const models::ModelInfo& m : models::kModels) {
        if (only && m.model != *only)
            continue;
        std::string line;
        for (const char* builtIn : models::kPoseNames)
            line += std::string(" ") + builtIn;
        if (const toml::table* table = poses[m.name].as_table()) {
            for (const auto& [key, value] : *table)
                line += " " + std::string(key.str());
        }
        io.out << m.name << ":" << line << "\n";
    }
    return kSuccess;
}
#else
int poseOff(Io& io) {
    io.err << "velmora pose: saved poses are off: this velmora was built without TOML "
              "(libtomlplusplus-dev)\n";
    return kHandFailed;
}
int runSave(const PoseOptions&, Io& io) {
    return poseOff(io);
}
int runList(const PoseOptions&, Io& io) {
    return poseOff(io);
}
#endif

}  // namespace

std::string posesPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && *config) {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home)
            throw std::runtime_error("neither XDG_CONFIG_HOME nor HOME is set: no place for poses");
        base = std::string(home) + "/.config";
    }
    return base + "/velmora/poses.toml";
}

std::optional<ByteVector> savedPose(VELMORA model, const std::string& name) {
#ifdef VELMORA_HAVE_TOML
    const std::string path = posesPath();
    const toml::table poses = loadPoses(path);
    const toml::array* values = poses[models::modelName(model)][name].as_array();
    if (!values)
        return std::nullopt;
    ByteVector out;
    for (const toml::node& v : *values) {
        const auto number = v.value<std::int64_t>();
        if (!number || *number < 0 || *number > 255)
            throw std::runtime_error(path + ": pose " + name + " holds a value that is not 0..255");
        out.push_back(static_cast<std::uint8_t>(*number));
    }
    return out;
#else
    (void)model;
    (void)name;
    throw std::runtime_error("saved poses are off: this velmora was built without TOML");
#endif
}

void addPose(CLI::App& app, Subcommands& commands) {
    auto options = std::make_shared<PoseOptions>();
    CLI::App* pose =
        app.add_subcommand("pose", "Save the hand's positions under a name, list saved poses");
    pose->require_subcommand(1);
    CLI::App* save = pose->add_subcommand("save", "Save the positions the hand reports now");
    save->add_option("name", options->name, "Name of the pose (move --pose NAME)")->required();
    addHandOptions(save, options->hand);
    CLI::App* list = pose->add_subcommand("list", "List the saved and built-in poses per model");
    addModelOption(list, options->model, false);
    commands.add(save, [options](Io& io) {
        return guarded("pose", io, [&] { return runSave(*options, io); });
    });
    commands.add(list, [options](Io& io) {
        return guarded("pose", io, [&] { return runList(*options, io); });
    });
}

}  // namespace tools
}  // namespace velmora
