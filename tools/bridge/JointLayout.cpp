#include "JointLayout.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>
#include <sstream>
#include <stdexcept>

#include "velmora/Models.h"
#include "velmora/RangeToArc.h"

namespace velmora {
namespace bridge {

namespace {

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool validSegment(const std::string& segment) {
    if (segment.empty() || std::isdigit(static_cast<unsigned char>(segment[0])))
        return false;
    for (char c : segment) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return false;
    }
    return true;
}

std::string count(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

JointLayout makeLayout(VELMORA model, std::uint32_t side, const std::vector<std::string>& names,
                       const std::string& prefix) {
    const models::ModelInfo& info = models::info(model);
    if (!info.hasAngleTables()) {
        throw std::invalid_argument(std::string("the ") + info.description +
                                    " has no joint-angle tables, and the bridge speaks radians");
    }
    if (side != LEFT && side != RIGHT)
        throw std::invalid_argument("the hand's side must be left (0x28) or right (0x27)");

    JointLayout layout;
    layout.model = model;
    layout.slotCount = info.slots;
    layout.side = models::sideName(side);
    layout.frameId = prefix + info.name + "_" + layout.side + "_hand";
    for (std::size_t slot = 0; slot < info.slots; ++slot) {
        if (info.hasAngle(slot))
            layout.slots.push_back(slot);
    }
    std::vector<int> direction;
    if (!initialize_params(info.angleTableKey, layout.side, layout.lower, layout.upper,
                           direction) ||
        layout.lower.size() < info.slots || layout.upper.size() < info.slots) {
        throw std::invalid_argument(std::string("the ") + info.description +
                                    " has no joint limits for its " + layout.side + " hand");
    }
    layout.lower.resize(info.slots);
    layout.upper.resize(info.slots);
    for (std::size_t slot = 0; slot < info.slots; ++slot) {
        if (layout.lower[slot] > layout.upper[slot])
            std::swap(layout.lower[slot], layout.upper[slot]);
    }
    if (names.empty()) {
        for (std::size_t slot : layout.slots)
            layout.names.push_back(prefix + models::jointName(model, slot));
        return layout;
    }
    if (names.size() != layout.slots.size()) {
        throw std::invalid_argument("this hand has " + count(layout.slots.size(), "joint") +
                                    ", but " + count(names.size(), "name") + " were given");
    }
    std::set<std::string> seen;
    for (const std::string& name : names) {
        if (name.empty())
            throw std::invalid_argument("a joint name is empty");
        if (!seen.insert(name).second)
            throw std::invalid_argument("joint name '" + name + "' is given twice");
    }
    for (const std::string& name : names)
        layout.names.push_back(prefix + name);
    return layout;
}

std::vector<std::string> readJointNames(std::istream& in) {
    std::vector<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        const std::string name = trimmed(line);
        if (!name.empty() && name[0] != '#')
            names.push_back(name);
    }
    return names;
}

std::string normalizeNamespace(const std::string& ns) {
    std::string rest = ns;
    if (!rest.empty() && rest[0] == '/')
        rest.erase(0, 1);
    if (rest.empty())
        return rest;
    std::istringstream segments(rest);
    std::string segment;
    std::size_t length = 0;
    while (std::getline(segments, segment, '/')) {
        if (!validSegment(segment))
            break;
        length += segment.size() + 1;
    }
    if (length != rest.size() + 1) {
        throw std::invalid_argument("'" + ns +
                                    "' is not a ROS namespace: use names of letters, digits and "
                                    "'_' (not starting with a digit) joined by '/'");
    }
    return rest;
}

std::string rosTopic(const std::string& ns, const std::string& name) {
    return ns.empty() ? "rt/" + name : "rt/" + ns + "/" + name;
}

std::vector<double> publishedAngles(const JointLayout& layout, const RadianVector& slotAngles) {
    if (slotAngles.size() != layout.slotCount)
        return {};
    std::vector<double> angles;
    angles.reserve(layout.slots.size());
    for (std::size_t slot : layout.slots)
        angles.push_back(slotAngles[slot]);
    return angles;
}

std::string handRefusal(const JointLayout& layout, const RadianVector& slotAngles) {
    if (slotAngles.size() != layout.slotCount) {
        return std::string("the ") + models::info(layout.model).description + " takes " +
               count(layout.slotCount, "position") + ", not " + std::to_string(slotAngles.size());
    }
    for (double angle : slotAngles) {
        if (!std::isfinite(angle))
            return "a position is not a finite number";
    }
    return "";
}

JointCommand mapCommand(const JointLayout& layout, const std::vector<std::string>& names,
                        const std::vector<double>& positions, const RadianVector& hold) {
    auto refuse = [](std::string why) { return JointCommand{{}, std::move(why)}; };
    for (double angle : positions) {
        if (!std::isfinite(angle))
            return refuse("a position is not a finite number");
    }
    const std::size_t slotCount = layout.slotCount;
    if (names.empty()) {
        if (positions.size() != layout.slots.size()) {
            return refuse(count(positions.size(), "position") +
                          " without names, but this hand has " +
                          count(layout.slots.size(), "joint"));
        }
        RadianVector angles(slotCount, 0.0);
        for (std::size_t j = 0; j < positions.size(); ++j)
            angles[layout.slots[j]] = positions[j];
        return {angles, ""};
    }
    if (positions.size() != names.size()) {
        return refuse(count(names.size(), "name") + " but " + count(positions.size(), "position"));
    }
    RadianVector angles = hold;
    if (names.size() < layout.slots.size() && hold.size() != slotCount)
        return refuse("names only some joints, and the hand's state is not known yet");
    angles.resize(slotCount, 0.0);
    std::set<std::size_t> named;
    std::vector<std::string> unknown;
    for (std::size_t i = 0; i < names.size(); ++i) {
        std::size_t joint = 0;
        while (joint < layout.names.size() && layout.names[joint] != names[i])
            ++joint;
        if (joint == layout.names.size()) {
            unknown.push_back(names[i]);
            continue;
        }
        if (!named.insert(joint).second)
            return refuse("joint '" + names[i] + "' is named twice");
        angles[layout.slots[joint]] = positions[i];
    }
    if (named.empty()) {
        JointCommand none = refuse("it names none of this hand's joints (" + names.front() +
                                   (names.size() > 1 ? ", ..." : "") + ")");
        none.unknown = unknown;
        return none;
    }
    return {angles, "", unknown};
}

RadianVector clampToLimits(const JointLayout& layout, const RadianVector& slotAngles,
                           std::vector<std::size_t>& clamped) {
    RadianVector out = slotAngles;
    for (std::size_t slot : layout.slots) {
        if (slot >= out.size())
            continue;
        const double held = std::clamp(out[slot], layout.lower[slot], layout.upper[slot]);
        if (held != out[slot])
            clamped.push_back(slot);
        out[slot] = held;
    }
    return out;
}

RadianVector sampleTrajectory(const SlotTrajectory& trajectory, const RadianVector& from,
                              std::chrono::nanoseconds elapsed) {
    if (trajectory.points.empty())
        return from;
    RadianVector previous = from;
    std::chrono::nanoseconds previousTime{0};
    for (std::size_t i = 0; i < trajectory.points.size(); ++i) {
        const RadianVector& next = trajectory.points[i];
        const std::chrono::nanoseconds at = trajectory.times[i];
        if (elapsed < at) {
            const double span = std::chrono::duration<double>(at - previousTime).count();
            const double part =
                span > 0 ? std::chrono::duration<double>(elapsed - previousTime).count() / span
                         : 0.0;
            RadianVector out = next;
            for (std::size_t s = 0; s < out.size() && s < previous.size(); ++s)
                out[s] = previous[s] + (next[s] - previous[s]) * std::clamp(part, 0.0, 1.0);
            return out;
        }
        previous = next;
        previousTime = at;
    }
    return trajectory.points.back();
}

}  // namespace bridge
}  // namespace velmora
