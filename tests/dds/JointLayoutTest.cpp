// What the bridge does before any DDS traffic: joint layouts and names, namespaces, the checks
// on joint commands, and the options it refuses.

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "BridgeTesting.h"
#include "Diagnosis.h"
#include "JointLayout.h"
#include "velmora/Models.h"

namespace velmora::bridge {
namespace {

// The slot count is the length of the model's position vectors, which is not its angle-table
// key: the 21-joint hand's vectors have 25 slots.
TEST(JointLayout, PublishesTheSlotsWithAnAngle) {
    struct Case {
        VELMORA model;
        std::size_t slotCount;
        std::size_t joints;
        std::vector<std::size_t> missing;  // slots without an angle
    };
    const std::vector<Case> cases = {
        {MARLO, 7, 7, {}},
        {TOVIN, 10, 10, {}},
        {RAVEL, 20, 20, {}},
        {SABRE, 25, 17, {11, 12, 13, 14, 16, 17, 18, 19}},
        {ZENIT, 25, 21, {11, 12, 13, 14}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(models::modelName(c.model));
        const JointLayout layout = makeLayout(c.model, LEFT);
        EXPECT_EQ(layout.slotCount, c.slotCount);
        EXPECT_EQ(layout.side, "left");
        ASSERT_EQ(layout.slots.size(), c.joints);
        ASSERT_EQ(layout.names.size(), c.joints);
        for (std::size_t j = 0; j < c.joints; ++j) {
            EXPECT_EQ(layout.names[j], models::jointName(c.model, layout.slots[j]));
            EXPECT_EQ(std::count(c.missing.begin(), c.missing.end(), layout.slots[j]), 0);
        }
    }
    EXPECT_EQ(makeLayout(TOVIN, RIGHT).names[3], "middle_1");
    EXPECT_EQ(makeLayout(TOVIN, RIGHT).frameId, "tovin_right_hand");
    const JointLayout prefixed = makeLayout(MARLO, LEFT, {"a", "b", "c", "d", "e", "f", "g"}, "l_");
    EXPECT_EQ(prefixed.names.front(), "l_a");
    EXPECT_EQ(prefixed.frameId, "l_marlo_left_hand");
}

TEST(JointLayout, RefusesWhatItCannotPublish) {
    struct Case {
        VELMORA model;
        std::uint32_t side;
        std::vector<std::string> names;
        const char* message;
    };
    const std::vector<std::string> seven = {"a", "b", "c", "d", "e", "f", "g"};
    const std::vector<Case> cases = {
        {KESTA, RIGHT, {}, "no joint-angle tables"},
        {KESTA_ALT, RIGHT, {}, "no joint-angle tables"},
        {TOVIN, 0x30, {}, "left (0x28) or right (0x27)"},
        {MARLO, RIGHT, {"a", "b"}, "this hand has 7 joints, but 2 names were given"},
        {MARLO, RIGHT, {"a", "b", "c", "d", "e", "f", "a"}, "joint name 'a' is given twice"},
        {MARLO, RIGHT, {"a", "b", "c", "", "e", "f", "g"}, "a joint name is empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            makeLayout(c.model, c.side, c.names);
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(makeLayout(MARLO, RIGHT, seven).names, seven);
}

TEST(JointLayout, ReadsNamesOneALine) {
    std::istringstream file("# right hand\nthumb_rotation\n\n  index_base \r\n#x\nlittle\n");
    EXPECT_EQ(readJointNames(file),
              (std::vector<std::string>{"thumb_rotation", "index_base", "little"}));
}

TEST(JointLayout, NamespacesAreRosNames) {
    const std::vector<std::pair<std::string, std::string>> good = {
        {"", ""},
        {"/", ""},
        {"hand", "hand"},
        {"/lab/left_hand", "lab/left_hand"},
        {"_x/y2", "_x/y2"}};
    for (const auto& [given, normal] : good) {
        EXPECT_EQ(normalizeNamespace(given), normal) << given;
        EXPECT_EQ(rosTopic(normal, "joint_states"),
                  normal.empty() ? "rt/joint_states" : "rt/" + normal + "/joint_states");
    }
    for (const std::string bad :
         {"lab//left", "lab/", "2hand", "hand-1", "a b", "//", "x/../y", "h\xc3\xa4nd", "hand/"}) {
        EXPECT_THROW(normalizeNamespace(bad), std::invalid_argument) << bad;
    }
}

TEST(JointLayout, CommandsMapOntoTheSlots) {
    const JointLayout zenit = makeLayout(ZENIT, RIGHT);  // slots 11..14 carry no joint
    std::vector<double> inOrder;
    for (std::size_t j = 0; j < 21; ++j)
        inOrder.push_back(0.01 * double(j + 1));
    const JointCommand all = mapCommand(zenit, {}, inOrder, {});
    ASSERT_EQ(all.slotAngles.size(), 25u) << all.error;
    EXPECT_DOUBLE_EQ(all.slotAngles[10], 0.11);
    EXPECT_DOUBLE_EQ(all.slotAngles[11], 0.0);
    EXPECT_DOUBLE_EQ(all.slotAngles[15], 0.12);
    EXPECT_EQ(publishedAngles(zenit, all.slotAngles), inOrder);

    const JointCommand partial =
        mapCommand(zenit, {"thumb_2", "thumb_1"}, {0.5, 0.6}, all.slotAngles);
    ASSERT_EQ(partial.slotAngles.size(), 25u) << partial.error;
    EXPECT_DOUBLE_EQ(partial.slotAngles[0], 0.6);
    EXPECT_DOUBLE_EQ(partial.slotAngles[15], 0.5);
    EXPECT_DOUBLE_EQ(partial.slotAngles[1], 0.02);

    struct Bad {
        std::vector<std::string> names;
        std::vector<double> positions;
        RadianVector hold;
        const char* error;
    };
    const std::vector<Bad> bad = {
        {{}, {0.1}, {}, "1 position without names, but this hand has 21 joints"},
        {{"thumb_1"}, {0.1}, {}, "the hand's state is not known yet"},
        {{"joint_11"}, {0.1}, all.slotAngles, "names none of this hand's joints (joint_11)"},
        {{"thumb_1", "thumb_1"}, {0.1, 0.2}, all.slotAngles, "joint 'thumb_1' is named twice"},
        {{"thumb_1"}, {0.1, 0.2}, all.slotAngles, "1 name but 2 positions"},
        {{"thumb_1"}, {NAN}, all.slotAngles, "not a finite number"},
    };
    for (const Bad& b : bad) {
        const JointCommand c = mapCommand(zenit, b.names, b.positions, b.hold);
        EXPECT_TRUE(c.slotAngles.empty()) << b.error;
        EXPECT_NE(c.error.find(b.error), std::string::npos) << c.error;
    }
    EXPECT_TRUE(publishedAngles(zenit, RadianVector(10, 0.0)).empty());

    // A name the hand lacks (a mimic joint) is skipped; the rest is applied.
    const JointCommand skipping =
        mapCommand(zenit, {"mimic", "thumb_1", "joint_11"}, {9.0, 0.7, 9.0}, all.slotAngles);
    ASSERT_EQ(skipping.slotAngles.size(), 25u) << skipping.error;
    EXPECT_DOUBLE_EQ(skipping.slotAngles[0], 0.7);
    EXPECT_EQ(skipping.unknown, (std::vector<std::string>{"mimic", "joint_11"}));

    // What the hand object would refuse never reaches it.
    EXPECT_EQ(handRefusal(zenit, all.slotAngles), "");
    EXPECT_EQ(handRefusal(makeLayout(SABRE, RIGHT), RadianVector(21, 0.0)),
              "the 21-joint hand takes 25 positions, not 21");
    RadianVector notFinite = all.slotAngles;
    notFinite[11] = NAN;
    EXPECT_NE(handRefusal(zenit, notFinite).find("not a finite"), std::string::npos);
}

TEST(Diagnosis, FollowsTheHandsHealth) {
    using namespace std::chrono_literals;
    auto health = [](bool up, std::optional<std::chrono::nanoseconds> age) {
        hand::HandHealth h;
        h.channelUp = up;
        h.lastFrameAge = age;
        return h;
    };
    struct Case {
        hand::HandHealth health;
        bool answered, faults;
        Level level;
    };
    const std::vector<Case> cases = {
        {health(true, 10ms), true, false, kOk},
        {health(true, 10ms), true, true, kWarn},
        {health(true, 10ms), false, false, kStale},  // the latest read timed out
        {health(true, 600ms), true, false, kStale},
        {health(true, std::nullopt), true, false, kStale},  // never heard from
        {health(true, 500ms), true, false, kOk},            // at the limit
        {health(false, 10ms), true, false, kError},
        {health(false, std::nullopt), false, true, kError},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Diagnosis d = diagnose(cases[i].health, cases[i].answered, cases[i].faults, 500ms);
        EXPECT_EQ(d.level, cases[i].level) << "case " << i << ": " << d.message;
        EXPECT_FALSE(d.message.empty());
    }
    // What the bridge cannot pass on warns, below what the hand itself says.
    EXPECT_EQ(diagnose(health(true, 10ms), true, false, 500ms, "x refused").message, "x refused");
    EXPECT_EQ(diagnose(health(true, 10ms), true, false, 500ms, "x refused").level, kWarn);
    EXPECT_EQ(diagnose(health(true, 600ms), true, false, 500ms, "x refused").level, kStale);
}

TEST(BridgeOptions, RefusedWithOneLineAndStatusOne) {
    testing::useLoopbackOnly();
    struct Case {
        const char* what;
        BridgeOptions options;
        const char* message;
    };
    auto with = [](auto change) {
        BridgeOptions o;
        o.sim = true;
        o.network.domain = 138;
        change(o);
        return o;
    };
    const std::vector<Case> cases = {
        {"rate", with([](BridgeOptions& o) { o.rate = 0; }), "rate must be above 0"},
        {"fast", with([](BridgeOptions& o) { o.rate = 5000; }), "at most 1000 Hz"},
        {"namespace", with([](BridgeOptions& o) { o.ns = "a b"; }), "not a ROS namespace"},
        {"model", with([](BridgeOptions& o) { o.model = KESTA; }), "no joint-angle tables"},
        {"names", with([](BridgeOptions& o) { o.jointNamesFile = "/nonexistent/names"; }),
         "cannot read joint names from /nonexistent/names"},
        {"channel", with([](BridgeOptions& o) { o.sim = false, o.channel = "eth0"; }),
         "no hand can be reached on channel 'eth0'"},
        {"domain", with([](BridgeOptions& o) { o.network.domain = 100000; }), "not a DDS domain"},
        {"shared joints", with([](BridgeOptions& o) {
             o.otherHands.push_back(o);
             o.otherHands.back().ns = "other";
         }),
         "both have a joint 'joint_0': give them different prefixes"},
        {"shared namespace", with([](BridgeOptions& o) {
             o.otherHands.push_back(o);
             o.otherHands.back().prefix = "b_";
         }),
         "two hands in namespace '/'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ostringstream out, err;
        const std::atomic<bool> stop{true};
        EXPECT_EQ(runBridge(c.options, out, err, stop), 1);
        EXPECT_EQ(err.str().rfind("velmora bridge: ", 0), 0u) << err.str();
        EXPECT_NE(err.str().find(c.message), std::string::npos) << err.str();
        EXPECT_EQ(testing::countOf(err.str(), "\n"), 1u) << err.str();
    }
}

}  // namespace
}  // namespace velmora::bridge
