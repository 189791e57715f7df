#include "velmora/Models.h"

#include <algorithm>
#include <cctype>

#include "velmora/Protocol.h"

namespace velmora {
namespace models {

namespace {

using protocol::Layout;
using protocol::Quantity;

// The catalogue against the command table: what a model says it has, its wire protocol must
// carry.

constexpr bool inEnumOrder() {
    for (std::size_t i = 0; i < std::size(kModels); ++i) {
        if (static_cast<std::size_t>(kModels[i].model) != i)
            return false;
    }
    return true;
}
static_assert(inEnumOrder(), "the catalogue lists the models in the enumeration's order");

constexpr bool readingNamesInOrder() {
    for (std::size_t i = 0; i < std::size(kReadingNames); ++i) {
        if (static_cast<std::size_t>(kReadingNames[i].reading) != i)
            return false;
    }
    return std::size(kReadingNames) == std::size(kAllReadings);
}
static_assert(readingNamesInOrder(), "reading names follow hand::Reading");

constexpr Quantity quantityOf(hand::Reading r) {
    switch (r) {
        case hand::Reading::Positions:
            return Quantity::Positions;
        case hand::Reading::Speeds:
            return Quantity::Speeds;
        case hand::Reading::Torques:
            return Quantity::Torques;
        case hand::Reading::Currents:
            return Quantity::Currents;
        case hand::Reading::Temperatures:
            return Quantity::Temperatures;
        case hand::Reading::Faults:
            break;
    }
    return Quantity::Faults;
}

// Every reading a model answers has a request in its table; a reading it only reports has a
// reply there.
constexpr bool readingsOnTheWire(const ModelInfo& m) {
    for (hand::Reading r : kAllReadings) {
        const std::uint8_t code = protocol::codeOf(m.model, quantityOf(r));
        if (m.reports(r) && code == 0)
            return false;
        if (!m.reports(r) && code != 0)
            return false;  // a reading the table has but the catalogue forgot
    }
    return true;
}

// The positions the table's frames carry add up to the position vector; on the 25-joint hand
// the slot map has one entry per joint.
constexpr bool positionsOnTheWire(const ModelInfo& m) {
    if (m.handClass == HandClass::Zenit) {
        std::size_t mapped = 0;
        for (int joint : protocol::kZenitSlotJoint) {
            if (joint != protocol::kNoJoint) {
                if (!m.carriesJoint(static_cast<std::size_t>(joint)))
                    return false;
                ++mapped;
            }
        }
        return mapped == m.joints;
    }
    std::size_t carried = 0;
    for (const protocol::Command& c : protocol::commands(m.model)) {
        if (c.quantity == Quantity::Positions && c.write.layout == Layout::Joints)
            carried += c.write.count;
    }
    return carried == m.slots;
}

// The version answer's code, style and length are the table's.
constexpr bool versionOnTheWire(const ModelInfo& m) {
    for (const protocol::Command& c : protocol::commands(m.model)) {
        if (c.code != m.version.code)
            continue;
        const Layout want = m.version.style == VersionStyle::Report   ? Layout::VersionReport
                            : m.version.style == VersionStyle::Fields ? Layout::VersionFields
                                                                      : Layout::VersionNibbles;
        const bool software =
            c.quantity == Quantity::SoftwareVersion ||
            (c.quantity == Quantity::Version && m.version.style == VersionStyle::Report);
        return c.reply.layout == want && software && 1u + c.reply.count == m.version.length;
    }
    return false;
}

constexpr bool slotsAgree(const ModelInfo& m) {
    std::size_t joints = 0;
    for (std::size_t s = 0; s < m.slots; ++s) {
        joints += m.carriesJoint(s) ? 1 : 0;
        if (m.hasAngle(s) && (!m.carriesJoint(s) || !m.hasAngleTables()))
            return false;
    }
    for (const auto& finger : m.fingerJoints) {
        for (int s : finger) {
            if (s != kNoSlot &&
                (!m.carriesJoint(static_cast<std::size_t>(s)) || m.slotTable[s].finger < 0))
                return false;
        }
    }
    return joints == m.joints && m.slots <= kMaxSlots;
}

constexpr bool catalogueAgrees() {
    for (const ModelInfo& m : kModels) {
        if (!readingsOnTheWire(m) || !positionsOnTheWire(m) || !versionOnTheWire(m) ||
            !slotsAgree(m))
            return false;
    }
    return true;
}
static_assert(catalogueAgrees(), "the model catalogue contradicts the command table");

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The order a user reads the choices in: the 6-actuator hand's usual value first.
constexpr VELMORA kChoiceOrder[] = {KESTA, KESTA_ALT, MARLO, TOVIN, RAVEL, SABRE, ZENIT};
static_assert(std::size(kChoiceOrder) == std::size(kModels), "every model is a choice");

}  // namespace

std::vector<VELMORA> everyHand() {
    std::vector<VELMORA> hands;
    for (const ModelInfo& m : kModels) {
        if (!isAlias(m.model))
            hands.push_back(m.model);
    }
    return hands;
}

std::string modelChoices() {
    std::string text;
    for (std::size_t i = 0; i < std::size(kChoiceOrder); ++i) {
        if (i > 0)
            text += i + 1 == std::size(kChoiceOrder) ? " or " : ", ";
        text += info(kChoiceOrder[i]).name;
    }
    return text;
}

std::optional<VELMORA> modelFromName(std::string_view name) {
    const std::string wanted = lower(name);
    for (const ModelInfo& m : kModels) {
        if (wanted == m.name)
            return m.model;
    }
    return std::nullopt;
}

const char* modelName(VELMORA model) {
    for (const ModelInfo& m : kModels) {
        if (m.model == model)
            return m.name;
    }
    return "unknown";
}

std::optional<std::uint32_t> sideFromName(std::string_view name) {
    const std::string wanted = lower(name);
    if (wanted == "left")
        return LEFT;
    if (wanted == "right")
        return RIGHT;
    return std::nullopt;
}

const char* sideName(std::uint32_t side) {
    return side == LEFT ? "left" : side == RIGHT ? "right" : "unknown";
}

std::string jointName(VELMORA model, std::size_t slot) {
    const ModelInfo& m = info(model);
    return m.carriesJoint(slot) ? m.slotTable[slot].name : "";
}

std::string jointLabel(VELMORA model, std::size_t slot) {
    const ModelInfo& m = info(model);
    if (!m.carriesJoint(slot))
        return "";
    const Slot& s = m.slotTable[slot];
    if (s.finger < 0)
        return "J" + std::to_string(slot);
    const std::string name = s.name;
    const auto underscore = name.rfind('_');
    return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])))) +
           name.substr(underscore + 1);
}

ByteVector pose(VELMORA model, PoseName which) {
    constexpr std::uint8_t kOpen = 230, kClosed = 40, kRest = 128;
    const ModelInfo& m = info(model);
    ByteVector values(m.slots, which == PoseName::Open ? kOpen : kRest);
    if (which != PoseName::Open) {
        for (const auto& finger : m.fingerJoints) {
            for (int s : finger) {
                if (s != kNoSlot)
                    values[static_cast<std::size_t>(s)] = kClosed;
            }
        }
    }
    if (which == PoseName::Point) {
        for (int s : m.fingerJoints[1]) {
            if (s != kNoSlot)
                values[static_cast<std::size_t>(s)] = kOpen;
        }
    }
    for (std::size_t s = 0; s < values.size(); ++s) {
        if (!m.carriesJoint(s))
            values[s] = 0;
    }
    return values;
}

std::optional<PoseName> poseFromName(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kPoseNames); ++i) {
        if (name == kPoseNames[i])
            return static_cast<PoseName>(i);
    }
    return std::nullopt;
}

std::string countsTaken(VELMORA model) {
    const ModelInfo& m = info(model);
    const std::string slots = std::to_string(m.slots);
    if (m.joints == m.slots)
        return "takes " + slots + " values, one per joint";
    return "takes " + std::to_string(m.joints) + " values, one per joint, or " + slots +
           ", one per slot";
}

std::string settingCountsTaken(VELMORA model, Setting setting) {
    const std::uint64_t counts = settingCounts(model, setting);
    std::vector<unsigned> taken;
    for (unsigned n = 0; n < 64; ++n) {
        if ((counts >> n) & 1u)
            taken.push_back(n);
    }
    if (taken.empty())
        return "";
    const bool run = taken.size() > 2 && taken.back() - taken.front() + 1 == taken.size();
    std::string text = "takes " + std::to_string(taken.front());
    if (run) {
        text += " to " + std::to_string(taken.back());
    } else {
        for (std::size_t i = 1; i < taken.size(); ++i)
            text += (i + 1 == taken.size() ? " or " : ", ") + std::to_string(taken[i]);
    }
    return text + (taken.size() == 1 && taken.front() == 1 ? " value" : " values");
}

}  // namespace models
}  // namespace velmora
