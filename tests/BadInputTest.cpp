// Bad input through the public API, one test per row: every setter of every model with 0 to 40
// values, NaN and infinities in radians, any force index, odd channel names and bit rates, and
// the conversion functions with keys and sides they have no table for. Each gets its message or
// exception; nothing malformed is sent and nothing crashes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "support/HandTesting.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::hand::IHand;

namespace {

constexpr std::size_t kMaxSize = 40;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const char* modelName(VELMORA model) {
    switch (model) {
        case KESTA_ALT:
            return "KESTA_ALT";
        case KESTA:
            return "KESTA";
        case MARLO:
            return "MARLO";
        case TOVIN:
            return "TOVIN";
        case RAVEL:
            return "RAVEL";
        case SABRE:
            return "SABRE";
        case ZENIT:
            return "ZENIT";
    }
    return "unknown";
}

// The factory opens only channels whose name holds "can".
std::string canBusName() {
    return "can." + uniqueBusName();
}

std::unique_ptr<IHand> openHand(VELMORA model, const std::string& bus, HandPeer& peer) {
    auto hand = factory::HandFactory::createHand(model, RIGHT, "virtual:" + bus, 1000000);
    if (!hand)
        throw std::logic_error("no hand on " + bus);
    peer.drain();
    return hand;
}

// ---------------------------------------------------------------------------------------------
// Setters with 0 to 40 values.

using Setter = std::function<void(IHand&, std::size_t n)>;

struct SetterRow {
    VELMORA model;
    const char* setter;
    Setter call;
    std::set<std::size_t> accepted;  ///< sizes that send frames
    /// What a refused size prints; nullptr when the model lacks the operation.
    std::function<std::string(std::size_t)> refusal;
};

std::function<std::string(std::size_t)> says(std::string message) {
    return [message](std::size_t) { return message; };
}

// The channel refuses a frame longer than eight bytes; the code takes one.
std::string overlongFrame(std::size_t n) {
    return "CAN frame not sent: " + std::to_string(n + 1) + " data bytes, a frame holds at most 8";
}

std::set<std::size_t> upTo(std::size_t last) {
    std::set<std::size_t> sizes;
    for (std::size_t n = 0; n <= last; ++n)
        sizes.insert(n);
    return sizes;
}

Setter bytes(void (IHand::*setter)(const ByteVector&)) {
    return [setter](IHand& hand, std::size_t n) { (hand.*setter)(sequence(1, n)); };
}

Setter radians() {
    return [](IHand& hand, std::size_t n) { hand.setJointPositionArc(RadianVector(n, 0.1)); };
}

Setter accelerations() {
    return [](IHand& hand, std::size_t n) {
        dynamic_cast<hand::KestaHand&>(hand).setAcceleration(sequence(1, n));
    };
}

std::vector<SetterRow> setterRows() {
    std::vector<SetterRow> rows;
    const auto add = [&](VELMORA model, const char* setter, Setter call,
                         std::set<std::size_t> accepted,
                         std::function<std::string(std::size_t)> refusal) {
        rows.push_back({model, setter, std::move(call), std::move(accepted), std::move(refusal)});
    };
    const auto unsupported = [&](VELMORA model, const char* setter, Setter call) {
        add(model, setter, std::move(call), {}, nullptr);
    };

    for (VELMORA kesta : {KESTA, KESTA_ALT}) {
        add(kesta, "setJointPositions", bytes(&IHand::setJointPositions), {6},
            says("Joint position size is not 6"));
        // No joint-limit table for this hand: no size converts.
        add(kesta, "setJointPositionArc", radians(), {}, says("Joint position size is not 6"));
        add(kesta, "setSpeed", bytes(&IHand::setSpeed), {6}, says("Speed size is not 6"));
        add(kesta, "setTorque", bytes(&IHand::setTorque), {6}, says("Torque size is not 6"));
        add(kesta, "clearFaultCode", bytes(&IHand::clearFaultCode), {6},
            says("Fault code size is not 6"));
        add(kesta, "setAcceleration", accelerations(), {6}, says("Acceleration size is not 6"));
        unsupported(kesta, "setCurrent", bytes(&IHand::setCurrent));
        unsupported(kesta, "setMotorEnable", bytes(&IHand::setMotorEnable));
        unsupported(kesta, "setMotorDisable", bytes(&IHand::setMotorDisable));
    }

    add(MARLO, "setJointPositions", bytes(&IHand::setJointPositions), {7},
        says("Joint position size is not 7"));
    add(MARLO, "setJointPositionArc", radians(), {7}, says("Joint position size is not 7"));
    add(MARLO, "setSpeed", bytes(&IHand::setSpeed), {7}, says("Joint speed size is not 7"));
    add(MARLO, "setTorque", bytes(&IHand::setTorque), {7}, says("Torque size is not 7"));
    unsupported(MARLO, "setCurrent", bytes(&IHand::setCurrent));
    unsupported(MARLO, "clearFaultCode", bytes(&IHand::clearFaultCode));
    unsupported(MARLO, "setMotorEnable", bytes(&IHand::setMotorEnable));
    unsupported(MARLO, "setMotorDisable", bytes(&IHand::setMotorDisable));

    add(TOVIN, "setJointPositions", bytes(&IHand::setJointPositions), {10},
        says("Joint position size is not 10"));
    add(TOVIN, "setJointPositionArc", radians(), {10}, says("Joint position size is not 10"));
    add(TOVIN, "setSpeed", bytes(&IHand::setSpeed), {5, 10}, says("Joint speed size is not 5"));
    add(TOVIN, "setTorque", bytes(&IHand::setTorque), {5, 10}, says("Torque size is not 5"));
    unsupported(TOVIN, "setCurrent", bytes(&IHand::setCurrent));
    unsupported(TOVIN, "clearFaultCode", bytes(&IHand::clearFaultCode));
    unsupported(TOVIN, "setMotorEnable", bytes(&IHand::setMotorEnable));
    unsupported(TOVIN, "setMotorDisable", bytes(&IHand::setMotorDisable));

    add(RAVEL, "setJointPositions", bytes(&IHand::setJointPositions), {20},
        says("Joint position size is not 20"));
    add(RAVEL, "setJointPositionArc", radians(), {20}, says("Joint position size is not 20"));
    add(RAVEL, "setSpeed", bytes(&IHand::setSpeed), {5}, says("Speed size is not 5"));
    add(RAVEL, "setCurrent", bytes(&IHand::setCurrent), {5}, says("Current size is not 5"));
    add(RAVEL, "clearFaultCode", bytes(&IHand::clearFaultCode), {5},
        says("clearFaultCode size is not 5"));
    unsupported(RAVEL, "setTorque", bytes(&IHand::setTorque));
    unsupported(RAVEL, "setMotorEnable", bytes(&IHand::setMotorEnable));
    unsupported(RAVEL, "setMotorDisable", bytes(&IHand::setMotorDisable));

    for (VELMORA zenit : {SABRE, ZENIT}) {
        add(zenit, "setJointPositions", bytes(&IHand::setJointPositions), {25},
            says("Joint position size is not 25"));
        add(zenit, "setJointPositionArc", radians(), {25}, says("Joint position size is not 25"));
        add(zenit, "setSpeed", bytes(&IHand::setSpeed), {25}, says("Joint speed size is not 25"));
        add(zenit, "setTorque", bytes(&IHand::setTorque), {25},
            says("Joint torque size is not 25"));
        // Any switch bytes that fit one frame are the hand's to judge.
        add(zenit, "setMotorEnable", bytes(&IHand::setMotorEnable), upTo(7), overlongFrame);
        add(zenit, "setMotorDisable", bytes(&IHand::setMotorDisable), upTo(7), overlongFrame);
        unsupported(zenit, "setCurrent", bytes(&IHand::setCurrent));
        unsupported(zenit, "clearFaultCode", bytes(&IHand::clearFaultCode));
    }
    return rows;
}

// The setting a row's setter writes, for the catalogue's counts; empty for the positions.
std::optional<models::Setting> settingOf(const std::string& setter) {
    using models::Setting;
    const std::pair<const char*, Setting> names[] = {{"setSpeed", Setting::Speeds},
                                                     {"setTorque", Setting::Torques},
                                                     {"setCurrent", Setting::Currents},
                                                     {"clearFaultCode", Setting::ClearFaults},
                                                     {"setAcceleration", Setting::Accelerations},
                                                     {"setMotorEnable", Setting::MotorSwitch},
                                                     {"setMotorDisable", Setting::MotorSwitch}};
    for (const auto& [name, setting] : names) {
        if (setter == name)
            return setting;
    }
    return std::nullopt;
}

void PrintTo(const SetterRow& row, std::ostream* os) {
    *os << modelName(row.model) << ' ' << row.setter;
}

class SetterSizes : public ::testing::TestWithParam<SetterRow> {};

TEST_P(SetterSizes, EverySizeFrom0To40) {
    const SetterRow& row = GetParam();
    // What the catalogue says each setter takes is what the model's class takes.
    if (const auto setting = settingOf(row.setter)) {
        std::set<std::size_t> listed;
        for (std::size_t n = 0; n < 64; ++n) {
            if ((models::settingCounts(row.model, *setting) >> n) & 1u)
                listed.insert(n);
        }
        EXPECT_EQ(listed, row.accepted);
    }
    const std::string bus = canBusName();
    HandPeer peer(bus, RIGHT);
    auto hand = openHand(row.model, bus, peer);

    for (std::size_t n = 0; n <= kMaxSize; ++n) {
        SCOPED_TRACE(std::to_string(n) + " values");
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        std::string thrown;
        try {
            row.call(*hand, n);
        } catch (const UnsupportedFeatureException& e) {
            thrown = e.what();
        }
        const std::string out = ::testing::internal::GetCapturedStdout();
        ::testing::internal::GetCapturedStderr();
        const Frames sent = peer.drain();

        if (!row.refusal) {
            EXPECT_EQ(thrown, std::string("Unsupported feature: ") + row.setter);
            EXPECT_EQ(sent, Frames{});
        } else if (row.accepted.count(n)) {
            EXPECT_EQ(thrown, "");
            EXPECT_EQ(out, "");
            EXPECT_FALSE(sent.empty());
            for (const ByteVector& frame : sent)
                EXPECT_LE(frame.size(), 8u);
        } else {
            EXPECT_EQ(thrown, "");
            EXPECT_EQ(out, row.refusal(n) + "\n");
            EXPECT_EQ(sent, Frames{});
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SetterSizes, ::testing::ValuesIn(setterRows()),
                         [](const ::testing::TestParamInfo<SetterRow>& row) {
                             return std::string(modelName(row.param.model)) + "_" +
                                    row.param.setter;
                         });

// ---------------------------------------------------------------------------------------------
// Radians that are not numbers or out of any range: NaN and -inf command the joint's lower
// limit, +inf its upper one, exactly as the limit itself would.

struct RadianRow {
    VELMORA model;
    int key;
    std::size_t joints;
};

void PrintTo(const RadianRow& row, std::ostream* os) {
    *os << modelName(row.model);
}

class OddRadians : public ::testing::TestWithParam<RadianRow> {};

TEST_P(OddRadians, NanAndInfinitiesCommandTheLimits) {
    const RadianRow& row = GetParam();
    std::vector<double> min, max;
    std::vector<int> direction;
    ASSERT_TRUE(initialize_params(row.key, "right", min, max, direction));

    const std::string bus = canBusName();
    HandPeer peer(bus, RIGHT);
    auto hand = openHand(row.model, bus, peer);
    const auto framesOf = [&](const RadianVector& angles) {
        hand->setJointPositionArc(angles);
        return peer.drain();
    };
    const double lowest = std::numeric_limits<double>::lowest();
    const double largest = std::numeric_limits<double>::max();
    const double tiny = std::numeric_limits<double>::denorm_min();

    const Frames atMin = framesOf(min);
    const Frames atMax = framesOf(max);
    ASSERT_FALSE(atMin.empty());
    EXPECT_EQ(framesOf(RadianVector(row.joints, kNaN)), atMin);
    EXPECT_EQ(framesOf(RadianVector(row.joints, -kNaN)), atMin);
    EXPECT_EQ(framesOf(RadianVector(row.joints, -kInf)), atMin);
    EXPECT_EQ(framesOf(RadianVector(row.joints, lowest)), atMin);
    EXPECT_EQ(framesOf(RadianVector(row.joints, kInf)), atMax);
    EXPECT_EQ(framesOf(RadianVector(row.joints, largest)), atMax);

    RadianVector mixed = max;
    mixed[0] = kNaN;
    RadianVector expected = max;
    expected[0] = min[0];
    EXPECT_EQ(framesOf(mixed), framesOf(expected));
    EXPECT_FALSE(framesOf(RadianVector(row.joints, tiny)).empty());
}

INSTANTIATE_TEST_SUITE_P(Table, OddRadians,
                         ::testing::Values(RadianRow{MARLO, 7, 7}, RadianRow{TOVIN, 10, 10},
                                           RadianRow{RAVEL, 20, 20}, RadianRow{SABRE, 21, 25},
                                           RadianRow{ZENIT, 25, 25}),
                         [](const ::testing::TestParamInfo<RadianRow>& row) {
                             return std::string(modelName(row.param.model));
                         });

TEST(OddRadians, SixActuatorHandConvertsNothing) {
    const std::string bus = canBusName();
    HandPeer peer(bus, RIGHT);
    auto hand = openHand(KESTA, bus, peer);
    for (double value : {kNaN, kInf, -kInf}) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        hand->setJointPositionArc(RadianVector(6, value));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "Error: Invalid joints_type or left_or_right parameter.\n");
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Joint position size is not 6\n");
        EXPECT_EQ(peer.drain(), Frames{});
    }
}

// ---------------------------------------------------------------------------------------------
// getForce(int) with any index.

struct ForceIndexRow {
    VELMORA model;
    std::size_t rowsForZero;  ///< 0: the model lacks the operation
    std::size_t rowsForOther;
};

void PrintTo(const ForceIndexRow& row, std::ostream* os) {
    *os << modelName(row.model);
}

class ForceIndex : public ::testing::TestWithParam<ForceIndexRow> {};

TEST_P(ForceIndex, AnyIndexGivesItsRowsOrIsRefused) {
    const ForceIndexRow& row = GetParam();
    const std::string bus = canBusName();
    HandPeer peer(bus, RIGHT);
    auto hand = openHand(row.model, bus, peer);
    for (std::int32_t which : {std::numeric_limits<std::int32_t>::min(), -1000000, -1, 0, 1, 4, 5,
                               255, 1 << 30, std::numeric_limits<std::int32_t>::max()}) {
        SCOPED_TRACE(which);
        if (row.rowsForZero == 0) {
            EXPECT_THROW(hand->getForce(which), UnsupportedFeatureException);
            EXPECT_EQ(peer.drain(), Frames{});
            continue;
        }
        const ByteMatrix rows = hand->getForce(which);
        EXPECT_EQ(rows.size(), which == 0 ? row.rowsForZero : row.rowsForOther);
        for (const ByteVector& sent : peer.drain())
            EXPECT_EQ(sent.size(), 1u) << "only requests go out";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ForceIndex,
                         ::testing::Values(ForceIndexRow{KESTA, 0, 0}, ForceIndexRow{MARLO, 0, 0},
                                           ForceIndexRow{TOVIN, 0, 0}, ForceIndexRow{RAVEL, 0, 0},
                                           ForceIndexRow{SABRE, 5, 4}, ForceIndexRow{ZENIT, 4, 4}),
                         [](const ::testing::TestParamInfo<ForceIndexRow>& row) {
                             return std::string(modelName(row.param.model));
                         });

// ---------------------------------------------------------------------------------------------
// Channel names and bit rates through VelmoraApi. Names the kernel would be asked about are
// ones no machine has, so each row fails the same way everywhere: refused before the operating
// system, or by it.

enum class Outcome { UnsupportedChannel, InvalidName, SystemFailure, Opens };

struct ChannelRow {
    const char* what;
    std::string channel;
    Outcome outcome;
    int bitRate = 1000000;
};

void PrintTo(const ChannelRow& row, std::ostream* os) {
    *os << row.what;
}

class ChannelNames : public ::testing::TestWithParam<ChannelRow> {};

TEST_P(ChannelNames, RefusedWithAClearErrorOrOpened) {
    const ChannelRow& row = GetParam();
    const char marker[] = "/tmp/velmora-bad-input-pwned";
    std::remove(marker);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    std::string error;
    bool opened = false;
    try {
        VelmoraApi hand(TOVIN, RIGHT, row.channel, row.bitRate);
        opened = true;
        hand.fingerMove(ByteVector(10, 0));
    } catch (const std::invalid_argument& e) {
        error = e.what();
    } catch (const std::runtime_error& e) {
        error = std::string("runtime: ") + e.what();
    }
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    const std::string shown = error.substr(0, 100);

    switch (row.outcome) {
        case Outcome::UnsupportedChannel:
            EXPECT_TRUE(error == "Unsupported channel: " + row.channel) << shown;
            break;
        case Outcome::InvalidName:
            EXPECT_EQ(error.rfind("Invalid CAN interface name \"", 0), 0u) << shown;
            break;
        case Outcome::SystemFailure:
            EXPECT_TRUE(error == "runtime: Failed to create CAN socket" ||
                        error == "runtime: Failed to get CAN interface index")
                << shown;
            break;
        case Outcome::Opens:
            EXPECT_TRUE(opened) << shown;
            break;
    }
    struct stat st;
    EXPECT_NE(stat(marker, &st), 0) << "a shell ran the name";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChannelNames,
    ::testing::Values(
        ChannelRow{"Empty", "", Outcome::UnsupportedChannel},
        ChannelRow{"NoCanInIt", "eth0", Outcome::UnsupportedChannel},
        ChannelRow{"TwoHundredCharacters", std::string(200, 'x'), Outcome::UnsupportedChannel},
        ChannelRow{"AMegabyte", std::string(1 << 20, 'x'), Outcome::UnsupportedChannel},
        ChannelRow{"AMegabyteWithCan", "vcan" + std::string(1 << 20, 'x'), Outcome::SystemFailure},
        ChannelRow{"TwoHundredWithCan", "vcan" + std::string(196, 'z'), Outcome::SystemFailure},
        ChannelRow{"NonAscii", "vcan\xc3\xa9\xe2\x82\xac\xff", Outcome::SystemFailure},
        ChannelRow{"ShellMetacharacters", "vcan;touch /tmp/velmora-bad-input-pwned",
                   Outcome::SystemFailure},
        ChannelRow{"CommandSubstitution", "can$(touch /tmp/velmora-bad-input-pwned)",
                   Outcome::SystemFailure},
        ChannelRow{"EmbeddedNul", std::string("can0\0x", 6), Outcome::InvalidName},
        ChannelRow{"LeadingDash", "-can0", Outcome::InvalidName},
        ChannelRow{"LeadingDashes", "--can", Outcome::InvalidName},
        ChannelRow{"VirtualEmpty", "virtual:can", Outcome::Opens},
        ChannelRow{"VirtualAMegabyte", "virtual:can" + std::string(1 << 20, 'v'), Outcome::Opens},
        ChannelRow{"VirtualOddBytes",
                   std::string("virtual:-\0;$(x)\xff"
                               "can",
                               19),
                   Outcome::Opens},
        ChannelRow{"VirtualBitRateZero", "virtual:can.rate0", Outcome::Opens, 0},
        ChannelRow{"VirtualBitRateNegative", "virtual:can.rate-1", Outcome::Opens, -1},
        ChannelRow{"VirtualBitRateMin", "virtual:can.ratemin", Outcome::Opens,
                   std::numeric_limits<int>::min()},
        ChannelRow{"VirtualBitRateMax", "virtual:can.ratemax", Outcome::Opens,
                   std::numeric_limits<int>::max()}),
    [](const ::testing::TestParamInfo<ChannelRow>& row) { return std::string(row.param.what); });

// ---------------------------------------------------------------------------------------------
// The conversion functions with keys and sides that have no table, and valid ones with any
// length.

struct ConversionRow {
    const char* what;
    int key;
    std::string side;
};

void PrintTo(const ConversionRow& row, std::ostream* os) {
    *os << row.what;
}

class ConversionKeys : public ::testing::TestWithParam<ConversionRow> {};

TEST_P(ConversionKeys, EmptyWithOneLineOnStandardError) {
    const ConversionRow& row = GetParam();
    const std::string message = "Error: Invalid joints_type or left_or_right parameter.\n";
    for (std::size_t n : {std::size_t{0}, std::size_t{7}, std::size_t{25}, kMaxSize}) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(range_to_arc(row.key, row.side, ByteVector(n, 200)), RadianVector{});
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), message);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(arc_to_range(row.key, row.side, RadianVector(n, kNaN)), ByteVector{});
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), message);
    }
    std::vector<double> min{1.0}, max{2.0};
    std::vector<int> direction{1};
    EXPECT_FALSE(initialize_params(row.key, row.side, min, max, direction));
    EXPECT_TRUE(min.empty() && max.empty() && direction.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConversionKeys,
    ::testing::Values(ConversionRow{"KeyZero", 0, "right"},
                      ConversionRow{"KeyNegative", -7, "left"}, ConversionRow{"KeySix", 6, "right"},
                      ConversionRow{"KeyEight", 8, "left"},
                      ConversionRow{"KeyTwentySix", 26, "right"},
                      ConversionRow{"KeyMin", std::numeric_limits<int>::min(), "left"},
                      ConversionRow{"KeyMax", std::numeric_limits<int>::max(), "right"},
                      ConversionRow{"SideEmpty", 10, ""},
                      ConversionRow{"SideCapitalised", 10, "Left"},
                      ConversionRow{"SideUpperCase", 25, "RIGHT"},
                      ConversionRow{"SideTrailingSpace", 7, "right "},
                      ConversionRow{"SideWithNul", 20, std::string("left\0", 5)},
                      ConversionRow{"SideNonAscii", 21,
                                    "l\xc3\xa9"
                                    "ft"},
                      ConversionRow{"SideAMegabyte", 10, std::string(1 << 20, 'r')}),
    [](const ::testing::TestParamInfo<ConversionRow>& row) { return std::string(row.param.what); });

class ConversionLengths : public ::testing::TestWithParam<int> {};

TEST_P(ConversionLengths, OnlyTheLayoutsLengthConverts) {
    const int key = GetParam();
    for (const char* side : {"left", "right"}) {
        std::vector<double> min, max;
        std::vector<int> direction;
        ASSERT_TRUE(initialize_params(key, side, min, max, direction));
        for (std::size_t n = 0; n <= kMaxSize; ++n) {
            SCOPED_TRACE(std::string(side) + ", " + std::to_string(n) + " values");
            ::testing::internal::CaptureStderr();
            const RadianVector arc = range_to_arc(key, side, ByteVector(n, 255));
            const std::string arcError = ::testing::internal::GetCapturedStderr();
            ::testing::internal::CaptureStderr();
            const ByteVector range = arc_to_range(key, side, RadianVector(n, kInf));
            const std::string rangeError = ::testing::internal::GetCapturedStderr();
            if (n == max.size()) {
                EXPECT_EQ(arc.size(), n);
                EXPECT_EQ(range.size(), n);
                for (double a : arc)
                    EXPECT_TRUE(std::isfinite(a));
                EXPECT_EQ(arcError + rangeError, "");
            } else {
                EXPECT_EQ(arc, RadianVector{});
                EXPECT_EQ(arcError, "Error: Invalid hand_range size.\n");
                EXPECT_EQ(range, ByteVector{});
                EXPECT_EQ(rangeError, "");
            }
        }
    }
    for (int index :
         {std::numeric_limits<int>::min(), -1, 25, 1000, std::numeric_limits<int>::max()})
        EXPECT_FALSE(should_skip_joint(key, index)) << index;
}

INSTANTIATE_TEST_SUITE_P(Table, ConversionLengths, ::testing::Values(7, 10, 20, 21, 25),
                         [](const ::testing::TestParamInfo<int>& row) {
                             return "Key" + std::to_string(row.param);
                         });

}  // namespace
