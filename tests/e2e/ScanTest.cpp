// Which hand is on the bus: scans and identity checks against simulated hands on virtual buses.
#include <gtest/gtest.h>
#include <linux/can.h>

#include <atomic>
#include <thread>

#include "support/HandPeer.h"
#include "velmora/sim/SimulatedHand.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::sim::ReplyFault;
using velmora::sim::SimConfig;
using velmora::sim::SimulatedHand;
using Clock = std::chrono::steady_clock;

namespace {

std::string bus() {
    return "virtual:scan-" + uniqueBusName();
}

std::unique_ptr<SimulatedHand> simulated(const std::string& channel, VELMORA model,
                                         std::uint32_t side) {
    SimConfig config;
    config.model = model;
    config.handId = side;
    return std::make_unique<SimulatedHand>(sim::openSimChannel(channel), config);
}

struct Identified {
    VELMORA model;
    std::vector<VELMORA> candidates;
    std::size_t degreesOfFreedom;
    bool sideReported;
    std::string firmware, hardware;
};

const Identified kIdentified[] = {
    {KESTA_ALT, {KESTA_ALT, KESTA}, 6, false, "1.5.0", "2.0.0"},
    {KESTA, {KESTA_ALT, KESTA}, 6, false, "1.5.0", "2.0.0"},
    {MARLO, {MARLO}, 7, true, "1.5", "2"},
    {TOVIN, {TOVIN}, 10, true, "1.5", "2"},
    {RAVEL, {RAVEL}, 20, true, "1.5", "2"},
    {SABRE, {SABRE, ZENIT}, 21, true, "1.5.0.1", "2.0.0.0"},
    {ZENIT, {SABRE, ZENIT}, 21, true, "1.5.0.1", "2.0.0.0"},
};

}  // namespace

TEST(Scan, IdentifiesEveryModelOnEitherSide) {
    ASSERT_EQ(std::size(kIdentified), std::size(models::kModels));
    for (const Identified& c : kIdentified) {
        for (std::uint32_t side : {RIGHT, LEFT}) {
            SCOPED_TRACE(std::string(models::modelName(c.model)) + " " + models::sideName(side));
            const std::string channel = bus();
            const auto hand = simulated(channel, c.model, side);
            const std::vector<HandIdentity> found = scan(channel);
            ASSERT_EQ(found.size(), 1u);
            const HandIdentity& h = found[0];
            EXPECT_EQ(h.identifier, side);
            EXPECT_EQ(h.side, side);
            EXPECT_EQ(h.sideReported, c.sideReported);
            EXPECT_EQ(h.candidates, c.candidates);
            EXPECT_TRUE(h.complete);
            EXPECT_EQ(h.degreesOfFreedom, c.degreesOfFreedom);
            EXPECT_EQ(h.firmware, c.firmware);
            EXPECT_EQ(h.hardware, c.hardware);
            EXPECT_GT(h.latency.count(), 0);
            EXPECT_TRUE(h.fits(c.model));
            EXPECT_EQ(contradiction(h, c.model, side), "");
        }
    }
}

TEST(Scan, FindsTwoHandsOnOneBusAndReturnsOnceBothAnswered) {
    const std::string channel = bus();
    const auto left = simulated(channel, RAVEL, LEFT);
    const auto right = simulated(channel, TOVIN, RIGHT);
    const auto start = Clock::now();
    const std::vector<HandIdentity> found = scan(channel, std::chrono::seconds(30));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30)) << "not the whole time-out";
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].identifier, static_cast<std::uint32_t>(RIGHT));
    EXPECT_EQ(found[0].model(), std::optional<VELMORA>(TOVIN));
    EXPECT_EQ(found[0].reported(), "10 joints and right side");
    EXPECT_EQ(found[1].identifier, static_cast<std::uint32_t>(LEFT));
    EXPECT_EQ(found[1].model(), std::optional<VELMORA>(RAVEL));
}

TEST(Scan, QuietBusGivesNoHandAfterTheTimeout) {
    const std::string channel = bus();
    HandPeer listener(channel.substr(8), RIGHT);
    const auto start = Clock::now();
    EXPECT_TRUE(scan(channel, std::chrono::milliseconds(80)).empty());
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(80));
    // Only the version requests left, each once.
    const Frames sent = listener.drain();
    const std::vector<std::uint8_t> codes = versionRequests();
    ASSERT_EQ(sent.size(), codes.size()) << "to the right hand; the left one's are not ours";
    for (std::size_t i = 0; i < codes.size(); ++i)
        EXPECT_EQ(sent[i], ByteVector{codes[i]});
}

TEST(Scan, ForeignTrafficDoesNotConfuseIt) {
    const std::string channel = bus();
    const auto hand = simulated(channel, TOVIN, RIGHT);
    communication::VirtualCanBus other(channel.substr(8));
    std::atomic<bool> running{true};
    std::thread chatter([&] {
        while (running) {
            other.send({0x64, 20, 1, 1, 'L', 0x99, 0x99}, 0x100, false);  // another make
            other.send({0xC1, 9, 9, 9, 9}, RIGHT | CAN_EFF_FLAG, false);  // extended frame
            other.send({0x01, 1, 2, 3, 4, 5, 6}, RIGHT, false);           // state, not asked
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const std::vector<HandIdentity> found = scan(channel, std::chrono::milliseconds(150));
    running = false;
    chatter.join();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].candidates, std::vector<VELMORA>{TOVIN});
    EXPECT_TRUE(found[0].complete);
    EXPECT_EQ(found[0].firmware, "1.5");
}

TEST(Scan, CutAnswersGiveCandidatesNeverACrash) {
    struct Case {
        VELMORA model;
        ReplyFault fault;
        std::vector<VELMORA> candidates;
        std::string firmware;
    };
    const Case cases[] = {
        {TOVIN, ReplyFault::Short, {TOVIN}, "1.5"},
        {TOVIN, ReplyFault::Malformed, {MARLO, TOVIN}, ""},
        {ZENIT, ReplyFault::Short, {SABRE, ZENIT}, "1.5.0"},
        {KESTA, ReplyFault::Short, {KESTA_ALT, KESTA}, "1.5"},
        {RAVEL, ReplyFault::Malformed, {RAVEL}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(models::modelName(c.model));
        const std::string channel = bus();
        const auto hand = simulated(channel, c.model, LEFT);
        hand->setReplyFault(c.fault);
        const std::optional<HandIdentity> found =
            identify(channel, LEFT, std::chrono::milliseconds(100));
        ASSERT_TRUE(found);
        EXPECT_FALSE(found->complete);
        EXPECT_EQ(found->candidates, c.candidates);
        EXPECT_EQ(found->firmware, c.firmware);
        EXPECT_NE(found->reported().find("incomplete answer"), std::string::npos);
    }
}

TEST(Identity, FitsTheModelTheHandWasBuiltFor) {
    for (const Identified& c : kIdentified) {
        SCOPED_TRACE(models::modelName(c.model));
        const std::string channel = bus();
        const auto hand = simulated(channel, c.model, LEFT);
        VelmoraApi api(c.model, LEFT, channel);
        EXPECT_FALSE(api.health().identityChecked);
        const HandIdentity id = api.identity(std::chrono::seconds(10));
        EXPECT_EQ(id.candidates, c.candidates);
        const hand::HandHealth health = api.health();
        EXPECT_TRUE(health.identityChecked);
        EXPECT_FALSE(health.modelMismatch);
        EXPECT_EQ(health.mismatch, "");
    }
}

TEST(Identity, ContradictionThrowsAndHealthSaysSo) {
    struct Case {
        VELMORA hand, asked;
        std::string message;
    };
    const Case cases[] = {
        {TOVIN, ZENIT, "hand 0x27 reports 10 joints and right side: it is a tovin, not a zenit"},
        {TOVIN, MARLO, "hand 0x27 reports 10 joints and right side: it is a tovin, not a marlo"},
        {ZENIT, RAVEL,
         "hand 0x27 reports 21 joints and right side: it is a sabre or zenit, not a ravel"},
        {KESTA, TOVIN, "hand 0x27 reports 6 joints: it is a kesta_alt or kesta, not a tovin"},
    };
    for (const Case& c : cases) {
        const std::string channel = bus();
        const auto hand = simulated(channel, c.hand, RIGHT);
        VelmoraApi api(c.asked, RIGHT, channel);
        try {
            api.identity(std::chrono::seconds(10));
            ADD_FAILURE() << c.message;
        } catch (const HandMismatchException& e) {
            EXPECT_EQ(e.what(), c.message);
            EXPECT_EQ(e.code(), HAND_MISMATCH);
        }
        const hand::HandHealth health = api.health();
        EXPECT_TRUE(health.modelMismatch);
        EXPECT_EQ(health.mismatch, c.message);
    }
}

TEST(Identity, ASideTheHandDoesNotHaveIsAMismatch) {
    const std::string channel = bus();
    HandPeer peer(channel.substr(8), RIGHT);
    VelmoraApi api(TOVIN, RIGHT, channel);
    peer.drain();
    std::thread answer([&] {
        if (!peer.take(1).empty())
            peer.reply({0x64, 10, 1, 1, 'L', 0x15, 0x20});
    });
    try {
        api.identity(std::chrono::milliseconds(300));
        ADD_FAILURE() << "a left hand on the right identifier";
    } catch (const HandMismatchException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "hand 0x27 reports 10 joints and left side: it is a left hand, not a right one");
    }
    answer.join();
}

TEST(Identity, SilentHandTimesOut) {
    const std::string channel = bus();
    VelmoraApi api(RAVEL, LEFT, channel);
    EXPECT_THROW(api.identity(std::chrono::milliseconds(50)), HandTimeoutException);
    EXPECT_FALSE(api.health().identityChecked);
}
