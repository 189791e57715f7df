#pragma once

// What every hand model is: its names, its position vector and joints, its fingers, the readings
// it answers, its fingertip sensors, how its version report looks and its named poses. The hand
// models, the simulated hands, the command line, the bridge and Python all read these facts
// from here; the command table (velmora/Protocol.h) says what each code carries on the wire.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "velmora/Export.h"
#include "velmora/HandHealth.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace models {

inline constexpr std::size_t kFingers = 5;
/// The longest position vector of any model.
inline constexpr std::size_t kMaxSlots = 25;
/// The most flexion joints one finger has.
inline constexpr std::size_t kMaxFingerJoints = 3;
/// A fingertip matrix sensor: rows of values, the same on every model.
inline constexpr std::size_t kMatrixRows = 12;
inline constexpr std::size_t kMatrixColumns = 6;
/// A summary sensor's values per finger: normal force, tangential force, its direction and the
/// approach increment.
inline constexpr std::size_t kSummaryValues = 4;
inline constexpr int kNoSlot = -1;

/// Fingers, thumb first, as every per-finger reading orders them.
inline constexpr const char* kFingerNames[kFingers] = {"thumb", "index", "middle", "ring",
                                                       "little"};

/// The library class that serves a model.
enum class HandClass : std::uint8_t { Kesta, Marlo, Tovin, Ravel, Zenit };

/// Readings as a set, for ModelInfo::readings.
constexpr std::uint32_t bit(hand::Reading r) {
    return 1u << static_cast<unsigned>(r);
}
inline constexpr hand::Reading kAllReadings[] = {
    hand::Reading::Positions, hand::Reading::Speeds,       hand::Reading::Torques,
    hand::Reading::Currents,  hand::Reading::Temperatures, hand::Reading::Faults};

/// What a reading is called on every surface and its unit ("" when the hand defines none).
struct ReadingName {
    hand::Reading reading;
    const char* name;
    const char* unit;
};
inline constexpr ReadingName kReadingNames[] = {
    {hand::Reading::Positions, "positions", "0..255"},
    {hand::Reading::Speeds, "speeds", ""},
    {hand::Reading::Torques, "torques", ""},
    {hand::Reading::Currents, "currents", ""},
    {hand::Reading::Temperatures, "temperatures", "°C"},
    {hand::Reading::Faults, "faults", "code"},
};
constexpr const ReadingName& readingName(hand::Reading r) {
    return kReadingNames[static_cast<std::size_t>(r)];
}

/// How the hand's version answer looks: the code that asks for it, and what comes back.
enum class VersionStyle : std::uint8_t {
    Report,   ///< one frame: freedom, robot version, number, side 'L'/'R', software, hardware
    Fields,   ///< software version as one number per byte (major, minor, ...)
    Nibbles,  ///< software version in one byte: whole part high nibble, tenths low
};
struct VersionReport {
    VersionStyle style;
    /// The request that the hand answers with its (software) version.
    std::uint8_t code;
    /// Bytes of the answer, the code included.
    std::uint8_t length;
    /// The freedom byte of a Report; 0 where the answer does not carry one.
    std::uint8_t degreesOfFreedom;
    /// The code the hand answers with its own CAN identifier (its side); 0 when none.
    std::uint8_t identifierCode;
};

/// Fingertip sensors: every model's matrix sensor gives fingers x rows x columns values; some
/// models carry, instead, a sensor of a few summary values per finger.
struct Fingertips {
    std::uint8_t fingers = kFingers;
    std::uint8_t rows = kMatrixRows;
    std::uint8_t columns = kMatrixColumns;
    /// Values per finger of the summary sensor; 0 when the model has none.
    std::uint8_t summaryValues = 0;
};

/// The named poses every model has.
enum class PoseName : std::uint8_t { Open, Close, Point };
inline constexpr const char* kPoseNames[] = {"open", "close", "point"};

/// One slot of a model's position vector.
struct Slot {
    /// The joint's name (thumb_1, joint_0, ...); null for a slot that no joint answers to.
    const char* name;
    /// The finger whose closure this joint flexes, or -1.
    std::int8_t finger;
    /// True when the joint-angle tables convert it.
    bool hasAngle;
};

struct ModelInfo {
    VELMORA model;
    /// What the command line and Python call it.
    const char* name;
    /// "10-joint hand", ...
    const char* description;
    const char* className;
    HandClass handClass;
    /// ZenitHand's variant flag (1: the 21-joint hand), 0 for every other class.
    int variant;
    /// Joints that move.
    std::size_t degreesOfFreedom;
    /// Values of the position vector, one per slot (setJointPositions, getCurrentStatus).
    std::size_t slots;
    /// The slots that carry a joint.
    std::size_t joints;
    /// The key of its joint-angle tables (range_to_arc); 0 when it has none.
    int angleTableKey;
    /// Readings it answers with a reply to its own request (readFresh).
    std::uint32_t readings;
    /// Readings it reports only on its own: a fresh read waits for the hand's next report.
    std::uint32_t reportedReadings;
    Fingertips fingertips;
    VersionReport version;
    const Slot* slotTable;
    /// The flexion joints of each finger, from the base on; kNoSlot past the last.
    std::array<std::array<int, kMaxFingerJoints>, kFingers> fingerJoints;

    constexpr bool has(hand::Reading r) const { return (readings & bit(r)) != 0; }
    constexpr bool reports(hand::Reading r) const {
        return ((readings | reportedReadings) & bit(r)) != 0;
    }
    constexpr bool hasAngleTables() const { return angleTableKey != 0; }
    constexpr bool carriesJoint(std::size_t slot) const {
        return slot < slots && slotTable[slot].name != nullptr;
    }
    constexpr bool hasAngle(std::size_t slot) const {
        return slot < slots && slotTable[slot].hasAngle;
    }
    /// Slots with an angle.
    constexpr std::size_t angleJoints() const {
        std::size_t n = 0;
        for (std::size_t s = 0; s < slots; ++s)
            n += hasAngle(s) ? 1 : 0;
        return n;
    }
    /// The slot of the joint-th joint (in the order `state` shows them); kNoSlot past the last.
    constexpr int slotOfJoint(std::size_t joint) const {
        for (std::size_t s = 0; s < slots; ++s) {
            if (carriesJoint(s) && joint-- == 0)
                return static_cast<int>(s);
        }
        return kNoSlot;
    }
};

namespace detail {
// clang-format off
inline constexpr Slot kKestaSlots[] = {
    {"thumb_1", 0, false}, {"joint_1", -1, false}, {"index_1", 1, false},
    {"middle_1", 2, false}, {"ring_1", 3, false}, {"little_1", 4, false}};
inline constexpr Slot kMarloSlots[] = {
    {"joint_0", -1, true}, {"thumb_1", 0, true}, {"index_1", 1, true}, {"middle_1", 2, true},
    {"ring_1", 3, true}, {"little_1", 4, true}, {"thumb_2", 0, true}};
inline constexpr Slot kTovinSlots[] = {
    {"joint_0", -1, true}, {"thumb_1", 0, true}, {"index_1", 1, true}, {"middle_1", 2, true},
    {"ring_1", 3, true}, {"little_1", 4, true}, {"joint_6", -1, true}, {"joint_7", -1, true},
    {"joint_8", -1, true}, {"thumb_2", 0, true}};
inline constexpr Slot kRavelSlots[] = {
    {"thumb_1", 0, true}, {"index_1", 1, true}, {"middle_1", 2, true}, {"ring_1", 3, true},
    {"little_1", 4, true}, {"joint_5", -1, true}, {"joint_6", -1, true}, {"joint_7", -1, true},
    {"joint_8", -1, true}, {"joint_9", -1, true}, {"joint_10", -1, true}, {"joint_11", -1, true},
    {"joint_12", -1, true}, {"joint_13", -1, true}, {"joint_14", -1, true}, {"thumb_2", 0, true},
    {"index_2", 1, true}, {"middle_2", 2, true}, {"ring_2", 3, true}, {"little_2", 4, true}};
// The 25-joint hand's slots 11 to 14 answer to no joint; its 21-joint firmware has no angle
// tables for the second flexion joints of the four fingers (slots 16 to 19).
#define VELMORA_ZENIT_SLOTS(second)                                                              \
    {"thumb_1", 0, true}, {"index_1", 1, true}, {"middle_1", 2, true}, {"ring_1", 3, true},      \
    {"little_1", 4, true}, {"joint_5", -1, true}, {"joint_6", -1, true}, {"joint_7", -1, true},  \
    {"joint_8", -1, true}, {"joint_9", -1, true}, {"joint_10", -1, true}, {nullptr, -1, false},  \
    {nullptr, -1, false}, {nullptr, -1, false}, {nullptr, -1, false}, {"thumb_2", 0, true},      \
    {"index_2", 1, second}, {"middle_2", 2, second}, {"ring_2", 3, second},                      \
    {"little_2", 4, second}, {"thumb_3", 0, true}, {"index_3", 1, true}, {"middle_3", 2, true},  \
    {"ring_3", 3, true}, {"little_3", 4, true}
inline constexpr Slot kZenitSlots[] = {VELMORA_ZENIT_SLOTS(true)};
inline constexpr Slot kSabreSlots[] = {VELMORA_ZENIT_SLOTS(false)};
#undef VELMORA_ZENIT_SLOTS
// clang-format on

constexpr std::uint32_t readings(std::initializer_list<hand::Reading> list) {
    std::uint32_t set = 0;
    for (hand::Reading r : list)
        set |= bit(r);
    return set;
}
using R = hand::Reading;
inline constexpr std::uint32_t kKestaReadings =
    readings({R::Positions, R::Torques, R::Temperatures, R::Faults});
inline constexpr std::uint32_t kJointReadings =
    readings({R::Positions, R::Speeds, R::Torques, R::Temperatures, R::Faults});
inline constexpr std::uint32_t kRavelReadings =
    readings({R::Positions, R::Speeds, R::Currents, R::Faults});

constexpr Fingertips matrixOnly() {
    return {};
}
constexpr Fingertips withSummary() {
    Fingertips f;
    f.summaryValues = kSummaryValues;
    return f;
}
constexpr std::array<std::array<int, kMaxFingerJoints>, kFingers> kOneJointFingers(int thumb,
                                                                                   int thumb2) {
    return {{{thumb, thumb2, kNoSlot},
             {2, kNoSlot, kNoSlot},
             {3, kNoSlot, kNoSlot},
             {4, kNoSlot, kNoSlot},
             {5, kNoSlot, kNoSlot}}};
}

// clang-format off
inline constexpr ModelInfo kCatalogue[] = {
    {KESTA_ALT, "kesta_alt", "6-actuator hand", "KestaHand", HandClass::Kesta, 0, 6, 6, 6, 0,
     kKestaReadings, bit(R::Speeds), matrixOnly(), {VersionStyle::Fields, 0xC2, 4, 0, 0},
     kKestaSlots, kOneJointFingers(0, kNoSlot)},
    {KESTA, "kesta", "6-actuator hand", "KestaHand", HandClass::Kesta, 0, 6, 6, 6, 0,
     kKestaReadings, bit(R::Speeds), matrixOnly(), {VersionStyle::Fields, 0xC2, 4, 0, 0},
     kKestaSlots, kOneJointFingers(0, kNoSlot)},
    {MARLO, "marlo", "7-joint hand", "MarloHand", HandClass::Marlo, 0, 7, 7, 7, 7,
     kJointReadings, 0, withSummary(), {VersionStyle::Report, 0x64, 7, 7, 0},
     kMarloSlots, kOneJointFingers(1, 6)},
    {TOVIN, "tovin", "10-joint hand", "TovinHand", HandClass::Tovin, 0, 10, 10, 10, 10,
     kJointReadings, 0, withSummary(), {VersionStyle::Report, 0x64, 7, 10, 0},
     kTovinSlots, kOneJointFingers(1, 9)},
    {RAVEL, "ravel", "20-joint hand", "RavelHand", HandClass::Ravel, 0, 20, 20, 20, 20,
     kRavelReadings, 0, withSummary(), {VersionStyle::Nibbles, 0xC2, 2, 0, 0xC3},
     kRavelSlots,
     {{{0, 15, kNoSlot}, {1, 16, kNoSlot}, {2, 17, kNoSlot}, {3, 18, kNoSlot}, {4, 19, kNoSlot}}}},
    {SABRE, "sabre", "21-joint hand", "ZenitHand", HandClass::Zenit, 1, 21, 25, 21, 21,
     kJointReadings, 0, matrixOnly(), {VersionStyle::Fields, 0xC1, 5, 0, 0xC3},
     kSabreSlots,
     {{{0, 15, 20}, {1, 16, 21}, {2, 17, 22}, {3, 18, 23}, {4, 19, 24}}}},
    {ZENIT, "zenit", "25-joint hand", "ZenitHand", HandClass::Zenit, 0, 21, 25, 21, 25,
     kJointReadings, 0, matrixOnly(), {VersionStyle::Fields, 0xC1, 5, 0, 0xC3},
     kZenitSlots,
     {{{0, 15, 20}, {1, 16, 21}, {2, 17, 22}, {3, 18, 23}, {4, 19, 24}}}},
};
// clang-format on
}  // namespace detail

/// Every model value, in the order of the enumeration.
inline constexpr const ModelInfo (&kModels)[std::size(detail::kCatalogue)] = detail::kCatalogue;

/// The facts of `model`; the 25-joint hand's for a value outside the enumeration.
constexpr const ModelInfo& info(VELMORA model) {
    for (const ModelInfo& m : kModels) {
        if (m.model == model)
            return m;
    }
    return kModels[std::size(kModels) - 1];
}

/// True for kesta_alt: the 6-actuator hand again, under its older value.
constexpr bool isAlias(VELMORA model) {
    return model == KESTA_ALT;
}
/// Every hand once, in the enumeration's order: the model values but the aliases.
VELMORA_API std::vector<VELMORA> everyHand();

/// "kesta, kesta_alt, marlo, ..., sabre or zenit": the names a user may type.
VELMORA_API std::string modelChoices();
/// The model of a name (any case); empty for a name no model has.
VELMORA_API std::optional<VELMORA> modelFromName(std::string_view name);
/// The lower-case name of a model; "unknown" outside the enumeration.
VELMORA_API const char* modelName(VELMORA model);

/// "left" or "right" (any case): the hand's CAN identifier.
VELMORA_API std::optional<std::uint32_t> sideFromName(std::string_view name);
/// "left" for 0x28, "right" for 0x27, "unknown" for any other identifier.
VELMORA_API const char* sideName(std::uint32_t side);

/// A joint's short label for tables: the finger's letter and the joint's number on it (T1, I2)
/// for a flexion joint, J<slot> for any other; empty for a slot without a joint.
VELMORA_API std::string jointLabel(VELMORA model, std::size_t slot);
/// A joint's name (thumb_1, joint_0); empty for a slot without a joint.
VELMORA_API std::string jointName(VELMORA model, std::size_t slot);

/// The position vector of a named pose: every slot without a joint 0.
VELMORA_API ByteVector pose(VELMORA model, PoseName which);
/// The pose of a name ("open", "close", "point"); empty for any other.
VELMORA_API std::optional<PoseName> poseFromName(std::string_view name);

/// Values given one per joint (in the order `state` shows them) or one per slot, as one per
/// slot; empty when the count fits neither. Slots without a joint get `fill`.
template <typename T>
std::optional<std::vector<T>> perSlot(VELMORA model, const std::vector<T>& values, T fill = T{}) {
    const ModelInfo& m = info(model);
    if (values.size() == m.slots)
        return values;
    if (values.size() != m.joints)
        return std::nullopt;
    std::vector<T> out(m.slots, fill);
    for (std::size_t j = 0; j < values.size(); ++j)
        out[static_cast<std::size_t>(m.slotOfJoint(j))] = values[j];
    return out;
}

/// "takes 21 values, one per joint, or 25, one per slot": what a caller may give.
VELMORA_API std::string countsTaken(VELMORA model);

/// What a caller writes to a hand besides its positions.
enum class Setting : std::uint8_t {
    Speeds,
    Torques,
    Currents,
    ClearFaults,
    Accelerations,
    MotorSwitch,  ///< the bytes of a motor enable or disable
};
inline constexpr Setting kAllSettings[] = {Setting::Speeds,        Setting::Torques,
                                           Setting::Currents,      Setting::ClearFaults,
                                           Setting::Accelerations, Setting::MotorSwitch};
/// How each setting is called on every surface, in the order of Setting.
inline constexpr const char* kSettingNames[] = {"speeds",      "torques",       "currents",
                                                "fault codes", "accelerations", "motor switches"};

/// The value counts the setter of `setting` takes on `model`'s class, as a set (bit n: n
/// values); 0 when the class has no such setter. Any other count is refused with a message.
constexpr std::uint64_t settingCounts(VELMORA model, Setting setting) {
    constexpr auto n = [](unsigned count) { return std::uint64_t{1} << count; };
    switch (info(model).handClass) {
        case HandClass::Kesta:
            return setting == Setting::Currents || setting == Setting::MotorSwitch ? 0 : n(6);
        case HandClass::Marlo:
            return setting == Setting::Speeds || setting == Setting::Torques ? n(7) : 0;
        case HandClass::Tovin:
            return setting == Setting::Speeds || setting == Setting::Torques ? n(5) | n(10) : 0;
        case HandClass::Ravel:
            return setting == Setting::Speeds || setting == Setting::Currents ||
                           setting == Setting::ClearFaults
                       ? n(5)
                       : 0;
        case HandClass::Zenit:
            if (setting == Setting::MotorSwitch)
                return n(8) - 1;  // whatever fits one frame after the code: 0 to 7 bytes
            return setting == Setting::Speeds || setting == Setting::Torques ? n(25) : 0;
    }
    return 0;
}

/// "takes 5 or 10 values", "takes 0 to 7 values": what the setter of `setting` takes on `model`;
/// empty when the model has no such setter.
VELMORA_API std::string settingCountsTaken(VELMORA model, Setting setting);

}  // namespace models
}  // namespace velmora
