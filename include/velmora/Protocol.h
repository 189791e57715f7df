#pragma once

// What each command code of each hand model means on the wire: one table per model, read by
// the simulated hands and by `velmora decode`.
//
// Every frame goes to or comes from the hand's identifier (0x27 right, 0x28 left). Byte 0 is the
// command code. A frame holding the code alone is a request; the hand answers with a frame of
// the same code. A frame with a payload is a write from the host or, right after a request of
// its code, the hand's reply.

#include <cstddef>
#include <cstdint>

#include "velmora/Models.h"
#include "velmora/VelmoraTypes.h"

namespace velmora {
namespace protocol {

/// What a payload's bytes are.
enum class Layout : std::uint8_t {
    None,            ///< no payload
    Joints,          ///< one byte per joint, from joint `first` on (the model's command order)
    FingerSlots,     ///< the six state slots of finger `first` (25-joint hand)
    Fingers,         ///< one byte per finger, thumb first
    FingerSummary,   ///< finger `first`'s summary: normal, tangential, direction, approach
    MatrixRows,      ///< fingertip matrix of finger `first`: byte 1 row << 4, then 6 values
    Text,            ///< ASCII characters
    VersionReport,   ///< freedom, robot version, number, side 'L'/'R', software, hardware
    VersionFields,   ///< one version number per byte: major, minor, ...
    VersionNibbles,  ///< one byte: whole part in the high nibble, tenths in the low one
    Identifier,      ///< one byte: the hand's CAN identifier
    SensorKind,      ///< one byte: 0 none, 1 summary, 2 matrix
    Bytes,           ///< bytes the library passes through without meaning
};

/// What a command is about.
enum class Quantity : std::uint8_t {
    Positions,
    Speeds,
    Torques,
    Currents,
    Temperatures,
    Faults,
    RotorLocks,
    Accelerations,
    NormalForce,
    TangentialForce,
    TangentialDirection,
    Approach,
    FingerSummary,
    Matrix,
    Version,
    SoftwareVersion,
    HardwareVersion,
    MechanicalVersion,
    Serial,
    Uid,
    HandId,
    SensorKind,
    AllStatus,
    ClearFaults,
    ReHome,
    FactoryReset,
    SaveParameters,
    MotorSwitch,
    FingerForce,
};

/// The payload of one direction of a command: its layout, the first joint, finger or slot it
/// covers and how many values it carries (0: as many as the frame holds).
struct Payload {
    Layout layout = Layout::None;
    std::uint8_t first = 0;
    std::uint8_t count = 0;
};

struct Command {
    std::uint8_t code;
    const char* name;
    Quantity quantity;
    /// The code alone asks the hand for `reply`.
    bool request;
    /// What the hand answers with the same code (Layout::None: no answer).
    Payload reply;
    /// What a command from the host carries (Layout::None: not a command).
    Payload write;
    /// Unit of the values, "" when the hand does not define one.
    const char* unit;
};

/// A version byte (Layout::VersionNibbles, and the software and hardware bytes of a version
/// report): the whole part in the high nibble, tenths in the low one; 0x15 is 1.5.
constexpr unsigned versionWhole(std::uint8_t version) {
    return version >> 4u;
}
constexpr unsigned versionTenths(std::uint8_t version) {
    return version & 0x0Fu;
}
constexpr double versionNumber(std::uint8_t version) {
    return versionWhole(version) + versionTenths(version) / 10.0;
}
/// The byte of version whole.tenths; whole below 16, tenths below 10.
constexpr std::uint8_t versionByte(unsigned whole, unsigned tenths) {
    return static_cast<std::uint8_t>((whole & 0x0Fu) << 4u | (tenths & 0x0Fu));
}
static_assert(versionByte(1, 5) == 0x15 && versionNumber(0x15) == 1.5);

/// The byte of a sensor-kind report (Layout::SensorKind): what the fingertips carry.
inline constexpr std::uint8_t kNoSensors = 0;
inline constexpr std::uint8_t kSummarySensors = 1;
/// Matrix sensors (hand::TOUCH_TYPE_MATRIX).
inline constexpr std::uint8_t kMatrixSensors = 2;

/// Finger 0's fingertip matrix code, the same on every model; finger f's is kMatrixCode + f.
inline constexpr std::uint8_t kMatrixCode = 0xB1;
/// The matrix codes take a second byte on a matrix read; the hand answers with rows.
inline constexpr std::uint8_t kMatrixReadByte = 0xC6;
inline constexpr std::size_t kSlotsPerFinger = 6;
inline constexpr int kNoJoint = -1;
/// 25-joint hand: the joint (command order) each state slot holds, finger 0's six slots first.
inline constexpr int kZenitSlotJoint[30] = {
    10,       5, 0, 15, kNoJoint, 20,  //
    kNoJoint, 6, 1, 16, kNoJoint, 21,  //
    kNoJoint, 7, 2, 17, kNoJoint, 22,  //
    kNoJoint, 8, 3, 18, kNoJoint, 23,  //
    kNoJoint, 9, 4, 19, kNoJoint, 24,
};

namespace detail {
constexpr Payload none() {
    return {};
}
constexpr Payload joints(std::uint8_t first, std::uint8_t count) {
    return {Layout::Joints, first, count};
}
constexpr Payload fingers() {
    return {Layout::Fingers, 0, 5};
}
constexpr Payload of(Layout layout, std::uint8_t first = 0, std::uint8_t count = 0) {
    return {layout, first, count};
}
constexpr Command readWrite(std::uint8_t code, const char* name, Quantity q, Payload both,
                            const char* unit = "") {
    return {code, name, q, true, both, both, unit};
}
constexpr Command readOnly(std::uint8_t code, const char* name, Quantity q, Payload reply,
                           const char* unit = "") {
    return {code, name, q, true, reply, none(), unit};
}
constexpr Command writeOnly(std::uint8_t code, const char* name, Quantity q, Payload write) {
    return {code, name, q, false, none(), write, ""};
}
constexpr Command matrix(std::uint8_t finger) {
    return {static_cast<std::uint8_t>(kMatrixCode + finger),
            "fingertip matrix",
            Quantity::Matrix,
            true,
            of(Layout::MatrixRows, finger, 6),
            of(Layout::Bytes, 0, 1),
            ""};
}
constexpr Command force(std::uint8_t code, const char* name, Quantity q) {
    return readOnly(code, name, q, fingers());
}
constexpr Command summary(std::uint8_t code, std::uint8_t finger) {
    return readOnly(code, "finger summary", Quantity::FingerSummary,
                    of(Layout::FingerSummary, finger, 4));
}
constexpr const char* kDegrees = "°C";
}  // namespace detail

/// A model's commands, in code order.
struct Table {
    const Command* first;
    std::size_t size;
    constexpr const Command* begin() const { return first; }
    constexpr const Command* end() const { return first + size; }
};

// clang-format off
/// 6-actuator hand.
inline constexpr Command kKesta[] = {
    detail::readWrite(0x01, "positions", Quantity::Positions, detail::joints(0, 6)),
    detail::readWrite(0x02, "torques", Quantity::Torques, detail::joints(0, 6)),
    // A write of speeds is confirmed with the speeds.
    detail::readWrite(0x05, "speeds", Quantity::Speeds, detail::joints(0, 6)),
    detail::readWrite(0x07, "accelerations", Quantity::Accelerations, detail::joints(0, 6)),
    detail::readOnly(0x33, "temperatures", Quantity::Temperatures, detail::joints(0, 6), detail::kDegrees),
    detail::readOnly(0x35, "faults", Quantity::Faults, detail::joints(0, 6)),
    detail::writeOnly(0x38, "re-home", Quantity::ReHome, detail::of(Layout::Bytes, 0, 1)),
    detail::writeOnly(0x83, "clear faults", Quantity::ClearFaults, detail::of(Layout::Bytes)),
    detail::matrix(0), detail::matrix(1), detail::matrix(2), detail::matrix(3), detail::matrix(4),
    detail::readOnly(0xC0, "serial number", Quantity::Serial, detail::of(Layout::Text)),
    detail::readOnly(0xC1, "hardware version", Quantity::HardwareVersion, detail::of(Layout::VersionFields, 0, 3)),
    detail::readOnly(0xC2, "software version", Quantity::SoftwareVersion, detail::of(Layout::VersionFields, 0, 3)),
    detail::readOnly(0xC4, "mechanical version", Quantity::MechanicalVersion, detail::of(Layout::VersionFields, 0, 3)),
    detail::writeOnly(0xCE, "factory reset", Quantity::FactoryReset, detail::of(Layout::Bytes, 0, 1)),
    detail::writeOnly(0xCF, "save parameters", Quantity::SaveParameters, detail::of(Layout::Bytes, 0, 1)),
};

/// 7-joint hand: every state fits one frame.
inline constexpr Command kMarlo[] = {
    detail::readWrite(0x01, "positions", Quantity::Positions, detail::joints(0, 7)),
    detail::readWrite(0x02, "torques", Quantity::Torques, detail::joints(0, 7)),
    detail::readWrite(0x05, "speeds", Quantity::Speeds, detail::joints(0, 7)),
    detail::force(0x20, "normal force", Quantity::NormalForce),
    detail::force(0x21, "tangential force", Quantity::TangentialForce),
    detail::force(0x22, "tangential direction", Quantity::TangentialDirection),
    detail::force(0x23, "approach increment", Quantity::Approach),
    detail::summary(0x28, 0), detail::summary(0x29, 1), detail::summary(0x30, 2),
    detail::summary(0x31, 3), detail::summary(0x32, 4),
    detail::readOnly(0x33, "temperatures", Quantity::Temperatures, detail::joints(0, 7), detail::kDegrees),
    detail::readOnly(0x35, "faults", Quantity::Faults, detail::joints(0, 7)),
    detail::readOnly(0x64, "version report", Quantity::Version, detail::of(Layout::VersionReport, 0, 6)),
    detail::readOnly(0xB0, "sensor kind", Quantity::SensorKind, detail::of(Layout::SensorKind, 0, 1)),
    detail::matrix(0), detail::matrix(1), detail::matrix(2), detail::matrix(3), detail::matrix(4),
};

/// 10-joint hand: positions, torques, speeds, temperatures and faults take two frames each.
inline constexpr Command kTovin[] = {
    detail::readWrite(0x01, "positions 0-5", Quantity::Positions, detail::joints(0, 6)),
    detail::readWrite(0x02, "torques 0-4", Quantity::Torques, detail::joints(0, 5)),
    detail::readWrite(0x03, "torques 5-9", Quantity::Torques, detail::joints(5, 5)),
    detail::readWrite(0x04, "positions 6-9", Quantity::Positions, detail::joints(6, 4)),
    detail::readWrite(0x05, "speeds 0-4", Quantity::Speeds, detail::joints(0, 5)),
    detail::readWrite(0x06, "speeds 5-9", Quantity::Speeds, detail::joints(5, 5)),
    detail::readOnly(0x09, "all status", Quantity::AllStatus, detail::none()),
    detail::force(0x20, "normal force", Quantity::NormalForce),
    detail::force(0x21, "tangential force", Quantity::TangentialForce),
    detail::force(0x22, "tangential direction", Quantity::TangentialDirection),
    detail::force(0x23, "approach increment", Quantity::Approach),
    detail::summary(0x28, 0), detail::summary(0x29, 1), detail::summary(0x30, 2),
    detail::summary(0x31, 3), detail::summary(0x32, 4),
    detail::readOnly(0x33, "temperatures 0-4", Quantity::Temperatures, detail::joints(0, 5), detail::kDegrees),
    detail::readOnly(0x34, "temperatures 5-9", Quantity::Temperatures, detail::joints(5, 5), detail::kDegrees),
    detail::readOnly(0x35, "faults 0-4", Quantity::Faults, detail::joints(0, 5)),
    detail::readOnly(0x36, "faults 5-9", Quantity::Faults, detail::joints(5, 5)),
    detail::readOnly(0x64, "version report", Quantity::Version, detail::of(Layout::VersionReport, 0, 6)),
    detail::readOnly(0xB0, "sensor kind", Quantity::SensorKind, detail::of(Layout::SensorKind, 0, 1)),
    detail::matrix(0), detail::matrix(1), detail::matrix(2), detail::matrix(3), detail::matrix(4),
};

/// 20-joint hand: joints in four groups of five (one joint of each finger per group); speeds,
/// currents and faults per finger.
inline constexpr Command kRavel[] = {
    detail::readWrite(0x01, "positions 0-4", Quantity::Positions, detail::joints(0, 5)),
    detail::readWrite(0x02, "positions 5-9", Quantity::Positions, detail::joints(5, 5)),
    detail::readWrite(0x03, "positions 10-14", Quantity::Positions, detail::joints(10, 5)),
    detail::readWrite(0x04, "positions 15-19", Quantity::Positions, detail::joints(15, 5)),
    detail::readWrite(0x05, "speeds", Quantity::Speeds, detail::fingers()),
    detail::readWrite(0x06, "currents", Quantity::Currents, detail::fingers()),
    // A write clears the faults.
    {0x07, "faults", Quantity::Faults, true, detail::fingers(), detail::fingers(), ""},
    detail::readOnly(0x08, "rotor locks", Quantity::RotorLocks, detail::fingers()),
    detail::force(0x20, "normal force", Quantity::NormalForce),
    detail::force(0x21, "tangential force", Quantity::TangentialForce),
    detail::force(0x22, "tangential direction", Quantity::TangentialDirection),
    detail::force(0x23, "approach increment", Quantity::Approach),
    detail::summary(0x30, 0), detail::summary(0x31, 1), detail::summary(0x32, 2),
    detail::summary(0x33, 3), detail::summary(0x34, 4),
    detail::readOnly(0xB0, "sensor kind", Quantity::SensorKind, detail::of(Layout::SensorKind, 0, 1)),
    detail::matrix(0), detail::matrix(1), detail::matrix(2), detail::matrix(3), detail::matrix(4),
    detail::readOnly(0xC0, "UID", Quantity::Uid, detail::of(Layout::Bytes, 0, 7)),
    detail::readOnly(0xC1, "hardware version", Quantity::HardwareVersion, detail::of(Layout::VersionNibbles, 0, 1)),
    detail::readOnly(0xC2, "software version", Quantity::SoftwareVersion, detail::of(Layout::VersionNibbles, 0, 1)),
    detail::readOnly(0xC3, "hand identifier", Quantity::HandId, detail::of(Layout::Identifier, 0, 1)),
};

/// 25-joint hand (and its 21-joint variant): state per finger in six slots; speeds and torques
/// are written five joints a frame in command order.
inline constexpr Command kZenit[] = {
#define VELMORA_FINGER_FAMILY(first, name, q, writeLayout, unit)                                   \
    {first + 0, name, q, true, detail::of(Layout::FingerSlots, 0, 6), writeLayout(0), unit},     \
    {first + 1, name, q, true, detail::of(Layout::FingerSlots, 1, 6), writeLayout(1), unit},     \
    {first + 2, name, q, true, detail::of(Layout::FingerSlots, 2, 6), writeLayout(2), unit},     \
    {first + 3, name, q, true, detail::of(Layout::FingerSlots, 3, 6), writeLayout(3), unit},     \
    {first + 4, name, q, true, detail::of(Layout::FingerSlots, 4, 6), writeLayout(4), unit}
#define VELMORA_SLOTS(f) detail::of(Layout::FingerSlots, f, 6)
#define VELMORA_GROUP(g) detail::joints(5 * (g), 5)
#define VELMORA_NONE(f) detail::none()
    VELMORA_FINGER_FAMILY(0x41, "positions", Quantity::Positions, VELMORA_SLOTS, ""),
    VELMORA_FINGER_FAMILY(0x49, "speeds", Quantity::Speeds, VELMORA_GROUP, ""),
    VELMORA_FINGER_FAMILY(0x51, "torques", Quantity::Torques, VELMORA_GROUP, ""),
    VELMORA_FINGER_FAMILY(0x59, "faults", Quantity::Faults, VELMORA_NONE, ""),
    VELMORA_FINGER_FAMILY(0x61, "temperatures", Quantity::Temperatures, VELMORA_NONE, detail::kDegrees),
#undef VELMORA_FINGER_FAMILY
#undef VELMORA_SLOTS
#undef VELMORA_GROUP
#undef VELMORA_NONE
    // Byte 1 says which: 0 disables, anything else enables.
    detail::writeOnly(0x85, "motor switch", Quantity::MotorSwitch, detail::of(Layout::Bytes)),
    detail::force(0x90, "normal force", Quantity::NormalForce),
    detail::force(0x91, "tangential force", Quantity::TangentialForce),
    detail::force(0x92, "tangential direction", Quantity::TangentialDirection),
    detail::force(0x93, "approach increment", Quantity::Approach),
    detail::readOnly(0x98, "finger force", Quantity::FingerForce, detail::of(Layout::Bytes)),
    detail::readOnly(0x99, "finger force", Quantity::FingerForce, detail::of(Layout::Bytes)),
    detail::readOnly(0x9A, "finger force", Quantity::FingerForce, detail::of(Layout::Bytes)),
    detail::readOnly(0x9B, "finger force", Quantity::FingerForce, detail::of(Layout::Bytes)),
    detail::readOnly(0x9C, "finger force", Quantity::FingerForce, detail::of(Layout::Bytes)),
    detail::readOnly(0xB0, "sensor kind", Quantity::SensorKind, detail::of(Layout::SensorKind, 0, 1)),
    detail::matrix(0), detail::matrix(1), detail::matrix(2), detail::matrix(3), detail::matrix(4),
    detail::readOnly(0xC0, "UID", Quantity::Uid, detail::of(Layout::Bytes, 0, 7)),
    detail::readOnly(0xC1, "software version", Quantity::SoftwareVersion, detail::of(Layout::VersionFields, 0, 4)),
    detail::readOnly(0xC2, "hardware version", Quantity::HardwareVersion, detail::of(Layout::VersionFields, 0, 4)),
    detail::readOnly(0xC3, "hand identifier", Quantity::HandId, detail::of(Layout::Identifier, 0, 1)),
    detail::writeOnly(0xCE, "factory reset", Quantity::FactoryReset, detail::of(Layout::Bytes)),
    detail::writeOnly(0xCF, "save parameters", Quantity::SaveParameters, detail::of(Layout::Bytes)),
};
// clang-format on

constexpr Table commands(VELMORA model) {
    switch (model) {
        case KESTA_ALT:
        case KESTA:
            return {kKesta, sizeof kKesta / sizeof kKesta[0]};
        case MARLO:
            return {kMarlo, sizeof kMarlo / sizeof kMarlo[0]};
        case TOVIN:
            return {kTovin, sizeof kTovin / sizeof kTovin[0]};
        case RAVEL:
            return {kRavel, sizeof kRavel / sizeof kRavel[0]};
        case SABRE:
        case ZENIT:
            break;
    }
    return {kZenit, sizeof kZenit / sizeof kZenit[0]};
}

/// The command of `code` in the model's protocol; null for a code the model does not know.
constexpr const Command* find(VELMORA model, std::uint8_t code) {
    for (const Command& c : commands(model)) {
        if (c.code == code)
            return &c;
    }
    return nullptr;
}

/// True when the model's command `code` writes, or else answers with, `count` joints from
/// joint `first` on: what a model that splits its joints over several frames relies on.
/// (A loop rather than find(): compilers with null-pointer checks on cannot compare a table
/// entry's address with null in a constant expression.)
constexpr bool carriesJoints(VELMORA model, std::uint8_t code, std::size_t first,
                             std::size_t count) {
    for (const Command& c : commands(model)) {
        if (c.code == code) {
            const Payload& p = c.write.layout == Layout::Joints ? c.write : c.reply;
            return p.layout == Layout::Joints && p.first == first && p.count == count;
        }
    }
    return false;
}

/// The code of the model's command of quantity `q` covering joint, finger or slot family
/// member `index` (the n-th command of that quantity); 0 when there is none.
constexpr std::uint8_t codeOf(VELMORA model, Quantity q, std::size_t index = 0) {
    for (const Command& c : commands(model)) {
        if (c.quantity == q && index-- == 0)
            return c.code;
    }
    return 0;
}

/// True when the model's first `n` commands of quantity `q` exist and have consecutive codes:
/// what lets a model reach member i of a family as its first code + i.
constexpr bool consecutiveCodes(VELMORA model, Quantity q, std::size_t n) {
    const std::uint8_t first = codeOf(model, q);
    for (std::size_t i = 0; i < n; ++i) {
        if (first == 0 || codeOf(model, q, i) != first + i)
            return false;
    }
    return true;
}

// Each model's codes by name, for the hand models and the simulated hands alike. A request is
// the code alone; the hand answers with a frame of the same code.

/// The 6-actuator hand's codes by name.
namespace kesta {
inline constexpr std::uint8_t kPositions = codeOf(KESTA, Quantity::Positions);
inline constexpr std::uint8_t kTorques = codeOf(KESTA, Quantity::Torques);
inline constexpr std::uint8_t kSpeeds = codeOf(KESTA, Quantity::Speeds);
inline constexpr std::uint8_t kAccelerations = codeOf(KESTA, Quantity::Accelerations);
inline constexpr std::uint8_t kTemperatures = codeOf(KESTA, Quantity::Temperatures);
inline constexpr std::uint8_t kFaults = codeOf(KESTA, Quantity::Faults);
inline constexpr std::uint8_t kReHome = codeOf(KESTA, Quantity::ReHome);
inline constexpr std::uint8_t kClearFaults = codeOf(KESTA, Quantity::ClearFaults);
inline constexpr std::uint8_t kSerialNumber = codeOf(KESTA, Quantity::Serial);
inline constexpr std::uint8_t kHardwareVersion = codeOf(KESTA, Quantity::HardwareVersion);
inline constexpr std::uint8_t kSoftwareVersion = codeOf(KESTA, Quantity::SoftwareVersion);
inline constexpr std::uint8_t kMechanicalVersion = codeOf(KESTA, Quantity::MechanicalVersion);
inline constexpr std::uint8_t kFactoryReset = codeOf(KESTA, Quantity::FactoryReset);
inline constexpr std::uint8_t kSaveParameters = codeOf(KESTA, Quantity::SaveParameters);
}  // namespace kesta

/// The 7-joint hand's codes by name.
namespace marlo {
inline constexpr std::uint8_t kPositions = codeOf(MARLO, Quantity::Positions);
inline constexpr std::uint8_t kTorques = codeOf(MARLO, Quantity::Torques);
inline constexpr std::uint8_t kSpeeds = codeOf(MARLO, Quantity::Speeds);
inline constexpr std::uint8_t kNormalForce = codeOf(MARLO, Quantity::NormalForce);
inline constexpr std::uint8_t kTangentialForce = codeOf(MARLO, Quantity::TangentialForce);
inline constexpr std::uint8_t kTangentialDirection = codeOf(MARLO, Quantity::TangentialDirection);
inline constexpr std::uint8_t kApproach = codeOf(MARLO, Quantity::Approach);
inline constexpr std::uint8_t kTemperatures = codeOf(MARLO, Quantity::Temperatures);
inline constexpr std::uint8_t kFaults = codeOf(MARLO, Quantity::Faults);
inline constexpr std::uint8_t kVersion = codeOf(MARLO, Quantity::Version);
inline constexpr std::uint8_t kSensorKind = codeOf(MARLO, Quantity::SensorKind);
}  // namespace marlo

/// The 10-joint hand's codes by name.
namespace tovin {
inline constexpr std::uint8_t kPositions0to5 = codeOf(TOVIN, Quantity::Positions, 0);
inline constexpr std::uint8_t kTorques0to4 = codeOf(TOVIN, Quantity::Torques, 0);
inline constexpr std::uint8_t kTorques5to9 = codeOf(TOVIN, Quantity::Torques, 1);
inline constexpr std::uint8_t kPositions6to9 = codeOf(TOVIN, Quantity::Positions, 1);
inline constexpr std::uint8_t kSpeeds0to4 = codeOf(TOVIN, Quantity::Speeds, 0);
inline constexpr std::uint8_t kSpeeds5to9 = codeOf(TOVIN, Quantity::Speeds, 1);
inline constexpr std::uint8_t kAllStatus = codeOf(TOVIN, Quantity::AllStatus);
inline constexpr std::uint8_t kNormalForce = codeOf(TOVIN, Quantity::NormalForce);
inline constexpr std::uint8_t kTangentialForce = codeOf(TOVIN, Quantity::TangentialForce);
inline constexpr std::uint8_t kTangentialDirection = codeOf(TOVIN, Quantity::TangentialDirection);
inline constexpr std::uint8_t kApproach = codeOf(TOVIN, Quantity::Approach);
inline constexpr std::uint8_t kTemperaturesA = codeOf(TOVIN, Quantity::Temperatures, 0);
inline constexpr std::uint8_t kTemperaturesB = codeOf(TOVIN, Quantity::Temperatures, 1);
inline constexpr std::uint8_t kFaultsA = codeOf(TOVIN, Quantity::Faults, 0);
inline constexpr std::uint8_t kFaultsB = codeOf(TOVIN, Quantity::Faults, 1);
inline constexpr std::uint8_t kVersion = codeOf(TOVIN, Quantity::Version);
inline constexpr std::uint8_t kSensorKind = codeOf(TOVIN, Quantity::SensorKind);
}  // namespace tovin

/// The 20-joint hand's codes by name.
namespace ravel {
inline constexpr std::uint8_t kPositions0to4 = codeOf(RAVEL, Quantity::Positions, 0);
inline constexpr std::uint8_t kPositions5to9 = codeOf(RAVEL, Quantity::Positions, 1);
inline constexpr std::uint8_t kPositions10to14 = codeOf(RAVEL, Quantity::Positions, 2);
inline constexpr std::uint8_t kPositions15to19 = codeOf(RAVEL, Quantity::Positions, 3);
inline constexpr std::uint8_t kSpeeds = codeOf(RAVEL, Quantity::Speeds);
inline constexpr std::uint8_t kCurrents = codeOf(RAVEL, Quantity::Currents);
inline constexpr std::uint8_t kFaults = codeOf(RAVEL, Quantity::Faults);
inline constexpr std::uint8_t kRotorLocks = codeOf(RAVEL, Quantity::RotorLocks);
inline constexpr std::uint8_t kNormalForce = codeOf(RAVEL, Quantity::NormalForce);
inline constexpr std::uint8_t kTangentialForce = codeOf(RAVEL, Quantity::TangentialForce);
inline constexpr std::uint8_t kTangentialDirection = codeOf(RAVEL, Quantity::TangentialDirection);
inline constexpr std::uint8_t kApproach = codeOf(RAVEL, Quantity::Approach);
inline constexpr std::uint8_t kSensorKind = codeOf(RAVEL, Quantity::SensorKind);
inline constexpr std::uint8_t kUid = codeOf(RAVEL, Quantity::Uid);
inline constexpr std::uint8_t kHardwareVersion = codeOf(RAVEL, Quantity::HardwareVersion);
inline constexpr std::uint8_t kSoftwareVersion = codeOf(RAVEL, Quantity::SoftwareVersion);
/// The hand's CAN identifier, which tells its side.
inline constexpr std::uint8_t kDirection = codeOf(RAVEL, Quantity::HandId);
}  // namespace ravel

/// The 25-joint hand's codes by name (its 21-joint variant shares them). Each joint-state
/// family, and the finger forces, has one code per finger, thumb first: these are finger 0's.
namespace zenit {
inline constexpr std::uint8_t kPositions = codeOf(ZENIT, Quantity::Positions);
inline constexpr std::uint8_t kSpeeds = codeOf(ZENIT, Quantity::Speeds);
inline constexpr std::uint8_t kTorques = codeOf(ZENIT, Quantity::Torques);
inline constexpr std::uint8_t kFaults = codeOf(ZENIT, Quantity::Faults);
inline constexpr std::uint8_t kTemperatures = codeOf(ZENIT, Quantity::Temperatures);
inline constexpr std::uint8_t kMotorSwitch = codeOf(ZENIT, Quantity::MotorSwitch);
inline constexpr std::uint8_t kNormalForce = codeOf(ZENIT, Quantity::NormalForce);
inline constexpr std::uint8_t kTangentialForce = codeOf(ZENIT, Quantity::TangentialForce);
inline constexpr std::uint8_t kTangentialDirection = codeOf(ZENIT, Quantity::TangentialDirection);
inline constexpr std::uint8_t kApproach = codeOf(ZENIT, Quantity::Approach);
inline constexpr std::uint8_t kThumbForce = codeOf(ZENIT, Quantity::FingerForce);
inline constexpr std::uint8_t kSensorKind = codeOf(ZENIT, Quantity::SensorKind);
inline constexpr std::uint8_t kUid = codeOf(ZENIT, Quantity::Uid);
inline constexpr std::uint8_t kSoftwareVersion = codeOf(ZENIT, Quantity::SoftwareVersion);
inline constexpr std::uint8_t kHardwareVersion = codeOf(ZENIT, Quantity::HardwareVersion);
/// The hand's CAN identifier.
inline constexpr std::uint8_t kCommId = codeOf(ZENIT, Quantity::HandId);
inline constexpr std::uint8_t kFactoryReset = codeOf(ZENIT, Quantity::FactoryReset);
inline constexpr std::uint8_t kSaveParameter = codeOf(ZENIT, Quantity::SaveParameters);
}  // namespace zenit

/// Length of the model's position vector (its command order), from the model catalogue.
constexpr std::size_t jointCount(VELMORA model) {
    return models::info(model).slots;
}

/// The key of the model's joint-angle tables (`range_to_arc` and the rest): its slot count,
/// except the 21-joint firmware of the 25-joint hand, whose tables are keyed 21. The 6-actuator
/// hand's key, 6, has no tables.
constexpr int angleTableKey(VELMORA model) {
    return models::info(model).hasAngleTables() ? models::info(model).angleTableKey
                                                : static_cast<int>(jointCount(model));
}

/// True when the joint-angle tables know the model: all but the 6-actuator hand.
constexpr bool hasAngleTables(VELMORA model) {
    return models::info(model).hasAngleTables();
}

/// False for the command order's indices that no joint answers to (the 25-joint hand's 11 to
/// 14).
constexpr bool hasJoint(VELMORA model, std::size_t joint) {
    return models::info(model).carriesJoint(joint);
}

}  // namespace protocol
}  // namespace velmora
