#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "velmora/Protocol.h"
#include "velmora/RangeToArc.h"

using Bytes = std::vector<std::uint8_t>;
using Angles = std::vector<double>;

namespace {

struct Layout {
    int key;
    std::size_t size;
    std::vector<int> skipped;
};
const Layout kLayouts[] = {
    {7, 7, {}},
    {10, 10, {}},
    {20, 20, {}},
    {21, 25, {11, 12, 13, 14, 16, 17, 18, 19}},
    {25, 25, {11, 12, 13, 14}},
};

bool contains(const std::vector<int>& v, int x) {
    return std::find(v.begin(), v.end(), x) != v.end();
}

}  // namespace

TEST(RangeToArc, SevenJointExamples) {
    const Bytes left0{0, 0, 0, 0, 0, 0, 0};
    EXPECT_DOUBLE_EQ(range_to_arc(7, "left", left0)[0], 0.44);
    EXPECT_DOUBLE_EQ(range_to_arc(7, "left", Bytes{255, 0, 0, 0, 0, 0, 0})[0], 0.0);
    EXPECT_DOUBLE_EQ(range_to_arc(7, "left", Bytes{128, 0, 0, 0, 0, 0, 0})[0], 0.2191372549019608);
    // Right joint 1 is direct, from -1.43 to 0.
    EXPECT_DOUBLE_EQ(range_to_arc(7, "right", Bytes{0, 0, 0, 0, 0, 0, 0})[1], -1.43);
    EXPECT_DOUBLE_EQ(range_to_arc(7, "right", Bytes{0, 255, 0, 0, 0, 0, 0})[1], 0.0);

    auto joint0 = [](double angle) {
        return arc_to_range(7, "left", Angles{angle, 0, 0, 0, 0, 0, 0})[0];
    };
    EXPECT_EQ(joint0(0.22), 128);  // 127.5 rounds away from zero
    EXPECT_EQ(joint0(0.5), 0);     // clamped to the maximum 0.44
    EXPECT_EQ(joint0(-1.0), 255);  // clamped to the minimum 0.0
    EXPECT_EQ(joint0(std::numeric_limits<double>::quiet_NaN()), 255);  // NaN counts as the minimum
}

TEST(RangeToArc, TableEndpointsFollowTheDirection) {
    for (const Layout& layout : kLayouts) {
        for (const std::string side : {"left", "right"}) {
            std::vector<double> min, max;
            std::vector<int> derict;
            ASSERT_TRUE(initialize_params(layout.key, side, min, max, derict));
            ASSERT_EQ(max.size(), layout.size);
            const Angles zeros = range_to_arc(layout.key, side, Bytes(layout.size, 0));
            const Angles full = range_to_arc(layout.key, side, Bytes(layout.size, 255));
            for (std::size_t i = 0; i < layout.size; ++i) {
                if (contains(layout.skipped, static_cast<int>(i)))
                    continue;
                const bool inverted = derict[i] == -1;
                EXPECT_NEAR(zeros[i], inverted ? max[i] : min[i], 1e-12) << layout.key << side << i;
                EXPECT_NEAR(full[i], inverted ? min[i] : max[i], 1e-12) << layout.key << side << i;
            }
        }
    }
}

TEST(RangeToArc, SkippedSlotsAreAlwaysZero) {
    for (const Layout& layout : kLayouts) {
        const Angles arc = range_to_arc(layout.key, "right", Bytes(layout.size, 77));
        const Bytes range = arc_to_range(layout.key, "left", Angles(layout.size, 0.1));
        for (std::size_t i = 0; i < layout.size; ++i) {
            const bool skipped = contains(layout.skipped, static_cast<int>(i));
            EXPECT_EQ(should_skip_joint(layout.key, static_cast<int>(i)), skipped);
            if (skipped) {
                EXPECT_EQ(arc[i], 0.0);
                EXPECT_EQ(range[i], 0);
            }
        }
    }
}

TEST(RangeToArc, DegenerateJointsGiveZero) {
    // Joints 11..14 of the 20-joint hand have equal limits (0, 0) but are not skipped.
    const Angles arc = range_to_arc(20, "left", Bytes(20, 200));
    const Bytes range = arc_to_range(20, "right", Angles(20, 1.0));
    for (int i = 11; i <= 14; ++i) {
        EXPECT_EQ(arc[i], 0.0);
        EXPECT_EQ(range[i], 0);
    }
}

TEST(RangeToArc, BytesSurviveTheRoundTrip) {
    for (const Layout& layout : kLayouts) {
        for (const std::string side : {"left", "right"}) {
            std::vector<double> min, max;
            std::vector<int> derict;
            initialize_params(layout.key, side, min, max, derict);
            for (int start = 0; start < 256; start += 17) {
                Bytes bytes(layout.size);
                for (std::size_t i = 0; i < bytes.size(); ++i) {
                    bytes[i] = static_cast<std::uint8_t>((start + 37 * i) % 256);
                }
                const Bytes back =
                    arc_to_range(layout.key, side, range_to_arc(layout.key, side, bytes));
                ASSERT_EQ(back.size(), bytes.size());
                for (std::size_t i = 0; i < bytes.size(); ++i) {
                    if (contains(layout.skipped, static_cast<int>(i)) || min[i] == max[i])
                        continue;
                    EXPECT_EQ(back[i], bytes[i]) << layout.key << side << " joint " << i;
                }
            }
        }
    }
}

TEST(RangeToArc, BadArgumentsGiveEmptyResultsAndAMessage) {
    const std::string invalid = "Error: Invalid joints_type or left_or_right parameter.\n";
    struct Case {
        int key;
        std::string side;
    };
    for (const Case& c : {Case{6, "left"}, Case{7, "Left"}, Case{25, ""}, Case{0, "right"}}) {
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(range_to_arc(c.key, c.side, Bytes(7, 0)).empty());
        EXPECT_TRUE(arc_to_range(c.key, c.side, Angles(7, 0)).empty());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), invalid + invalid);

        std::vector<double> min{1}, max{1};
        std::vector<int> derict{1};
        EXPECT_FALSE(initialize_params(c.key, c.side, min, max, derict));
        EXPECT_TRUE(min.empty() && max.empty() && derict.empty());
    }

    // A wrong length, empty included: range_to_arc says so, arc_to_range stays silent.
    for (std::size_t size : {0u, 24u, 26u}) {
        ::testing::internal::CaptureStderr();
        EXPECT_TRUE(range_to_arc(25, "left", Bytes(size, 0)).empty());
        EXPECT_TRUE(arc_to_range(25, "left", Angles(size, 0)).empty());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Error: Invalid hand_range size.\n");
    }
}

TEST(RangeToArc, Helpers) {
    EXPECT_DOUBLE_EQ(scale_value(5, 0, 10, 100, 200), 150);
    EXPECT_DOUBLE_EQ(scale_value(0, 0, 255, 0.44, 0), 0.44);
    EXPECT_EQ(is_within_range(5, 0, 10), 5);
    EXPECT_EQ(is_within_range(-1, 0, 10), 0);
    EXPECT_EQ(is_within_range(11, 0, 10), 10);
    EXPECT_EQ(is_within_range(std::numeric_limits<double>::quiet_NaN(), -2, 3), -2);
}

// Every surface finds a model's tables through the command table's key: a key the tables do
// not know would leave a hand without radians, and a wrong one would give it another hand's.
TEST(RangeToArc, EveryModelsKeyFindsTablesOfItsJoints) {
    using namespace velmora;
    const struct {
        VELMORA model;
        int key;
    } rows[] = {{KESTA, 6},  {KESTA_ALT, 6}, {MARLO, 7}, {TOVIN, 10},
                {RAVEL, 20}, {SABRE, 21},    {ZENIT, 25}};
    for (const auto& row : rows) {
        const int key = protocol::angleTableKey(row.model);
        EXPECT_EQ(key, row.key) << row.model;
        std::vector<double> min, max;
        std::vector<int> direction;
        ::testing::internal::CaptureStderr();
        const bool found = initialize_params(key, "right", min, max, direction);
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(found, protocol::hasAngleTables(row.model)) << row.model;
        if (found) {
            EXPECT_EQ(min.size(), protocol::jointCount(row.model)) << row.model;
        }
    }
}
