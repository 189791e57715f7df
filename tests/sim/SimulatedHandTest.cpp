// The simulated hands, driven from the library's side of a virtual bus.
#include <gtest/gtest.h>

#include "support/HandPeer.h"
#include "velmora/Models.h"
#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using namespace velmora::sim;
using velmora::communication::VirtualCanBus;
using velmora::models::modelFromName;
using velmora::models::sideFromName;

namespace {
// The names the simulated hands are known by come from the model catalogue.
std::string modelName(VELMORA model) {
    return velmora::models::modelName(model);
}
}  // namespace

namespace {

/// The library's side: sends frames to the simulated hand and collects its answers.
class LibrarySide {
  public:
    LibrarySide(const std::string& bus, std::uint32_t id) : bus_(bus), id_(id) {
        bus_.setReceiveTimeout(0, 20000);
    }
    void send(const ByteVector& frame) { bus_.send(frame, id_, false); }
    /// Waits up to the deadline for `count` frames from the hand.
    Frames answers(std::size_t count, std::chrono::milliseconds deadline = 3000ms) {
        Frames frames;
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (frames.size() < count && std::chrono::steady_clock::now() < end) {
            try {
                const auto m = bus_.recv(id_);
                if (m.id == id_)
                    frames.emplace_back(m.data.begin(), m.data.begin() + m.len);
            } catch (const std::runtime_error&) {
            }
        }
        return frames;
    }
    Frames ask(const ByteVector& request, std::size_t count = 1) {
        send(request);
        return answers(count);
    }

  private:
    VirtualCanBus bus_;
    std::uint32_t id_;
};

SimConfig config(VELMORA model, std::uint32_t side = RIGHT,
                 SensorKind sensor = SensorKind::Matrix) {
    SimConfig c;
    c.model = model;
    c.handId = side;
    c.sensor = sensor;
    return c;
}

}  // namespace

TEST(SimulatedHand, AnswersInTheLayoutsTheLibraryReads) {
    struct Case {
        VELMORA model;
        ByteVector request;
        ByteVector replyStart;  // code and first bytes
        std::size_t replyLength;
    };
    const Case cases[] = {
        {TOVIN, {0x64}, {0x64, 10, 1, 1, 'R', 0x15, 0x20}, 7},
        {TOVIN, {0x01}, {0x01, 255}, 7},
        {TOVIN, {0x04}, {0x04}, 5},
        {TOVIN, {0x36}, {0x36, 0, 0, 0, 0, 0}, 6},
        {TOVIN, {0xB1}, {0xB1}, 3},
        {MARLO, {0x64}, {0x64, 7}, 7},
        {MARLO, {0x01}, {0x01}, 8},
        {MARLO, {0x33}, {0x33, 30}, 8},
        {RAVEL, {0x03}, {0x03, 255}, 6},
        {RAVEL, {0xB0}, {0xB0, 2}, 2},
        {RAVEL, {0xC3}, {0xC3, 0x27}, 2},
        {RAVEL, {0xC2}, {0xC2, 0x15}, 2},
        {ZENIT, {0x41}, {0x41, 255, 255, 255, 255, 0, 255}, 7},
        {ZENIT, {0x42}, {0x42, 0, 255, 255, 255, 0, 255}, 7},
        {ZENIT, {0xC1}, {0xC1, 1, 5, 0, 1}, 5},
        {ZENIT, {0xC3}, {0xC3, 0x27}, 2},
        {SABRE, {0x65}, {0x65, 0, 30, 30, 30, 0, 30}, 7},
        {KESTA, {0xC4}, {0xC4, 1, 0, 2}, 4},
        {KESTA, {0xC0}, {0xC0, 'K', 'S', '6'}, 8},
        {KESTA, {0x35}, {0x35, 0, 0, 0, 0, 0, 0}, 7},
    };
    for (const Case& c : cases) {
        const std::string bus = uniqueBusName() + modelName(c.model);
        LibrarySide library(bus, RIGHT);
        SimulatedHand hand(openSimChannel("virtual:" + bus), config(c.model));
        const Frames answers = library.ask(c.request);
        ASSERT_EQ(answers.size(), 1u) << modelName(c.model) << " " << int(c.request[0]);
        EXPECT_EQ(answers[0].size(), c.replyLength)
            << modelName(c.model) << " " << int(c.request[0]);
        EXPECT_EQ(ByteVector(answers[0].begin(), answers[0].begin() + c.replyStart.size()),
                  c.replyStart)
            << modelName(c.model) << " " << int(c.request[0]);
    }
}

TEST(SimulatedHand, JointsFollowCommandsOverTime) {
    const std::string bus = uniqueBusName();
    LibrarySide library(bus, LEFT);
    SimulatedHand hand(openSimChannel("virtual:" + bus), config(MARLO, LEFT));
    library.send({0x01, 10, 20, 30, 40, 50, 60, 70});
    const ByteVector target{0x01, 10, 20, 30, 40, 50, 60, 70};
    EXPECT_TRUE(eventually([&] {
        const Frames a = library.ask({0x01});
        return !a.empty() && a.back() == target;
    }));
}

TEST(SimulatedHand, TwentyFiveJointCommandsAndStateUseTheirOwnOrders) {
    const std::string bus = uniqueBusName();
    LibrarySide library(bus, RIGHT);
    SimulatedHand hand(openSimChannel("virtual:" + bus), config(ZENIT));
    // Speeds go out in joint order, five per frame, and come back per finger in slot order.
    for (std::uint8_t k = 0; k < 5; ++k) {
        ByteVector f{static_cast<std::uint8_t>(0x49 + k)};
        for (std::uint8_t i = 0; i < 5; ++i)
            f.push_back(static_cast<std::uint8_t>(5 * k + i));
        library.send(f);
    }
    EXPECT_EQ(library.ask({0x49}), (Frames{{0x49, 10, 5, 0, 15, 0, 20}}));
    EXPECT_EQ(library.ask({0x4D}), (Frames{{0x4D, 0, 9, 4, 19, 0, 24}}));
}

TEST(SimulatedHand, TwentyJointSpeedsAndCurrentLimitsApplyPerFinger) {
    const std::string bus = uniqueBusName();
    LibrarySide library(bus, RIGHT);
    SimulatedHand hand(openSimChannel("virtual:" + bus), config(RAVEL));
    library.send({0x05, 11, 12, 13, 14, 15});
    library.send({0x06, 1, 1, 1, 1, 1});
    EXPECT_EQ(library.ask({0x05}), (Frames{{0x05, 11, 12, 13, 14, 15}}));
    // Currents never exceed their limits.
    EXPECT_TRUE(eventually([&] { return library.ask({0x06}) == Frames{{0x06, 1, 1, 1, 1, 1}}; }));
}

TEST(SimulatedHand, MatrixReadsAnswerTwelveRows) {
    const std::string bus = uniqueBusName();
    LibrarySide library(bus, RIGHT);
    SimulatedHand hand(openSimChannel("virtual:" + bus), config(RAVEL));
    const Frames rows = library.ask({0xB3, 0xC6}, 12);
    ASSERT_EQ(rows.size(), 12u);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r].size(), 8u);
        EXPECT_EQ(rows[r][0], 0xB3);
        EXPECT_EQ(rows[r][1], r << 4);
    }
}

TEST(SimulatedHand, InjectedFaults) {
    const std::string bus = uniqueBusName();
    LibrarySide library(bus, RIGHT);
    SimulatedHand hand(openSimChannel("virtual:" + bus), config(KESTA));

    hand.injectFault(0x21);
    EXPECT_EQ(library.ask({0x35}), (Frames{{0x35, 0x21, 0x21, 0x21, 0x21, 0x21, 0x21}}));
    library.send({0x83, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(library.ask({0x35}), (Frames{{0x35, 0, 0, 0, 0, 0, 0}}));

    hand.setReplyFault(ReplyFault::Short);
    EXPECT_EQ(library.ask({0x35}), (Frames{{0x35, 0, 0, 0, 0, 0}}));
    hand.setReplyFault(ReplyFault::Malformed);
    EXPECT_EQ(library.ask({0x35}), (Frames{{0x35}}));
    hand.setReplyFault(ReplyFault::None);

    hand.setReplyDelay(200ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(library.ask({0x35}).size(), 1u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    hand.setReplyDelay(0ms);

    hand.setSilent(true);
    library.send({0x35});
    EXPECT_EQ(library.answers(1, 200ms), Frames{});
}

TEST(SimulatedHand, OldTenJointFirmwareReportsOnItsOwn) {
    const std::string bus = uniqueBusName();
    LibrarySide library(bus, RIGHT);
    SimConfig c = config(TOVIN);
    c.softwareVersion = 0x14;
    SimulatedHand hand(openSimChannel("virtual:" + bus), c);
    const Frames reports = library.answers(2);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0][0], 0x01);
    EXPECT_EQ(reports[1][0], 0x04);
    EXPECT_EQ(library.ask({0x01}).size(), 1u) << "a report, not an answer";
}

TEST(SimulatedHand, Names) {
    EXPECT_EQ(modelFromName("Tovin"), TOVIN);
    EXPECT_EQ(modelFromName("KESTA_ALT"), KESTA_ALT);
    EXPECT_EQ(modelFromName("tovin2"), std::nullopt);
    EXPECT_EQ(sideFromName("LEFT"), LEFT);
    EXPECT_EQ(sideFromName("up"), std::nullopt);
    EXPECT_EQ(modelName(SABRE), "sabre");
    EXPECT_THROW(openSimChannel("velmora-no-such-can"), std::runtime_error);
}
