// The model catalogue against what else in the library knows about a model: the joint-angle
// tables and the names a user types.
#include <gtest/gtest.h>

#include <set>

#include "velmora/Models.h"
#include "velmora/RangeToArc.h"

using namespace velmora;

namespace {

// What the catalogue says of each model, written out once more as a reader would check it.
struct Expected {
    VELMORA model;
    std::size_t slots;
    std::size_t joints;
    std::size_t angles;
    const char* labels;  // the state table's header
};
const Expected kExpected[] = {
    {KESTA_ALT, 6, 6, 0, "T1 J1 I1 M1 R1 L1"},
    {KESTA, 6, 6, 0, "T1 J1 I1 M1 R1 L1"},
    {MARLO, 7, 7, 7, "J0 T1 I1 M1 R1 L1 T2"},
    {TOVIN, 10, 10, 10, "J0 T1 I1 M1 R1 L1 J6 J7 J8 T2"},
    {RAVEL, 20, 20, 20, "T1 I1 M1 R1 L1 J5 J6 J7 J8 J9 J10 J11 J12 J13 J14 T2 I2 M2 R2 L2"},
    {SABRE, 25, 21, 17, "T1 I1 M1 R1 L1 J5 J6 J7 J8 J9 J10 T2 I2 M2 R2 L2 T3 I3 M3 R3 L3"},
    {ZENIT, 25, 21, 21, "T1 I1 M1 R1 L1 J5 J6 J7 J8 J9 J10 T2 I2 M2 R2 L2 T3 I3 M3 R3 L3"},
};

}  // namespace

TEST(Models, EveryModelAsExpected) {
    ASSERT_EQ(std::size(models::kModels), std::size(kExpected));
    for (const Expected& e : kExpected) {
        SCOPED_TRACE(models::modelName(e.model));
        const models::ModelInfo& m = models::info(e.model);
        EXPECT_EQ(m.slots, e.slots);
        EXPECT_EQ(m.joints, e.joints);
        EXPECT_EQ(m.angleJoints(), e.angles);
        std::string labels;
        std::set<std::string> names;
        for (std::size_t s = 0; s < m.slots; ++s) {
            if (!m.carriesJoint(s))
                continue;
            labels += (labels.empty() ? "" : " ") + models::jointLabel(e.model, s);
            EXPECT_TRUE(names.insert(models::jointName(e.model, s)).second) << s;
        }
        EXPECT_EQ(labels, e.labels);
        EXPECT_EQ(models::modelFromName(m.name), e.model);
    }
}

// The slots the catalogue gives an angle are exactly those the conversion converts, on both
// sides, and the tables have one entry per slot.
TEST(Models, AnglesAreTheConversionsJoints) {
    for (const models::ModelInfo& m : models::kModels) {
        SCOPED_TRACE(m.name);
        if (!m.hasAngleTables()) {
            EXPECT_EQ(m.angleJoints(), 0u);
            continue;
        }
        for (const char* side : {"left", "right"}) {
            std::vector<double> min, max;
            std::vector<int> direction;
            ASSERT_TRUE(initialize_params(m.angleTableKey, side, min, max, direction));
            EXPECT_EQ(max.size(), m.slots);
        }
        for (std::size_t s = 0; s < m.slots; ++s)
            EXPECT_EQ(m.hasAngle(s), !should_skip_joint(m.angleTableKey, static_cast<int>(s))) << s;
    }
}

TEST(Models, NamesAndPoses) {
    EXPECT_EQ(models::modelChoices(), "kesta, kesta_alt, marlo, tovin, ravel, sabre or zenit");
    EXPECT_EQ(models::modelFromName("ZeNiT"), ZENIT);
    EXPECT_FALSE(models::modelFromName("zenit2"));
    EXPECT_FALSE(models::modelFromName(""));
    EXPECT_EQ(models::sideFromName("LEFT"), LEFT);
    EXPECT_FALSE(models::sideFromName("up"));
    EXPECT_STREQ(models::sideName(0x30), "unknown");
    EXPECT_EQ(models::jointLabel(ZENIT, 12), "");
    EXPECT_EQ(models::everyHand(),
              (std::vector<VELMORA>{KESTA, MARLO, TOVIN, RAVEL, SABRE, ZENIT}));

    // Open leaves every joint at 230, close bends the flexion joints, point opens the index.
    const ByteVector point = models::pose(TOVIN, models::PoseName::Point);
    EXPECT_EQ(point, (ByteVector{128, 40, 230, 40, 40, 40, 128, 128, 128, 40}));
    const ByteVector open = models::pose(ZENIT, models::PoseName::Open);
    EXPECT_EQ(open[11], 0);
    EXPECT_EQ(open[10], 230);
    EXPECT_EQ(models::poseFromName("close"), models::PoseName::Close);
    EXPECT_FALSE(models::poseFromName("Close"));
}

TEST(Models, ValuesPerJointOrPerSlot) {
    std::vector<int> perJoint(21);
    for (int j = 0; j < 21; ++j)
        perJoint[static_cast<std::size_t>(j)] = j + 1;
    const auto slots = models::perSlot(ZENIT, perJoint);
    ASSERT_TRUE(slots);
    ASSERT_EQ(slots->size(), 25u);
    EXPECT_EQ((*slots)[10], 11);
    EXPECT_EQ((*slots)[11], 0);
    EXPECT_EQ((*slots)[15], 12);
    EXPECT_EQ((*slots)[24], 21);
    EXPECT_EQ(models::perSlot(ZENIT, std::vector<int>(25, 7)), std::vector<int>(25, 7));
    EXPECT_FALSE(models::perSlot(ZENIT, std::vector<int>(20)));
    EXPECT_FALSE(models::perSlot(TOVIN, std::vector<int>(9)));
    EXPECT_EQ(models::countsTaken(SABRE), "takes 21 values, one per joint, or 25, one per slot");
    EXPECT_EQ(models::countsTaken(TOVIN), "takes 10 values, one per joint");
    using models::Setting;
    EXPECT_EQ(models::settingCountsTaken(TOVIN, Setting::Speeds), "takes 5 or 10 values");
    EXPECT_EQ(models::settingCountsTaken(RAVEL, Setting::Currents), "takes 5 values");
    EXPECT_EQ(models::settingCountsTaken(ZENIT, Setting::MotorSwitch), "takes 0 to 7 values");
    EXPECT_EQ(models::settingCountsTaken(MARLO, Setting::ClearFaults), "");
}
