#include <gtest/gtest.h>

#include <functional>

#include "support/HandPeer.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;
using velmora::factory::HandFactory;

namespace {

enum class Thrown { InvalidArgument, RuntimeError };

void expectThrow(const std::function<void()>& call, Thrown type, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "no exception, expected " << message;
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(type, Thrown::InvalidArgument) << e.what();
        EXPECT_EQ(std::string(e.what()), message);
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(type, Thrown::RuntimeError) << e.what();
        EXPECT_EQ(std::string(e.what()), message);
    }
}

VELMORA model(int value) {
    return static_cast<VELMORA>(value);
}

template <class Hand>
bool isA(hand::IHand* h) {
    return dynamic_cast<Hand*>(h) != nullptr;
}

}  // namespace

TEST(HandFactory, EnumeratedFormChecksSideThenTransportThenModel) {
    struct Case {
        int model;
        std::uint32_t side;
        int comm;
        Thrown type;
        std::string message;
    };
    const std::string side = "Unsupported hand type";
    const std::string modbus = "ModBus support is disabled (USE_RMAN=0)";
    const Case cases[] = {
        {RAVEL, 0, CAN0, Thrown::InvalidArgument, side},
        {RAVEL, 0x29, CAN0, Thrown::InvalidArgument, side},
        {9, 0x26, 7, Thrown::InvalidArgument, side},  // side before everything
        {RAVEL, 0x27, MODBUS, Thrown::RuntimeError, modbus},
        {9, 0x28, MODBUS, Thrown::RuntimeError, modbus},  // transport before model
        {7, 0x28, CAN0, Thrown::InvalidArgument, "Unknown hand type"},
        {RAVEL, 0x28, 4, Thrown::InvalidArgument, "Unknown comm type"},
        {9, 0x28, -1, Thrown::InvalidArgument, "Unknown comm type"},
    };
    for (const Case& c : cases) {
        expectThrow(
            [&] {
                HandFactory::createHand(model(c.model), c.side, static_cast<COMM_TYPE>(c.comm));
            },
            c.type, c.message);
    }
}

TEST(HandFactory, TextFormChecksSideThenChannelThenModel) {
    const std::string side = "Unsupported hand type";
    expectThrow([] { HandFactory::createHand(TOVIN, 0, "eth0", 1000000); }, Thrown::InvalidArgument,
                side);
    expectThrow([] { HandFactory::createHand(model(9), 0x29, "can0", 1000000); },
                Thrown::InvalidArgument, side);
    expectThrow([] { HandFactory::createHand(TOVIN, LEFT, "modbus", 1000000); },
                Thrown::RuntimeError, "ModBus support is disabled (USE_RMAN=0)");
    expectThrow([] { HandFactory::createHand(model(9), LEFT, "virtual:can0", 1000000); },
                Thrown::InvalidArgument, "Unknown hand type");

    for (const char* channel : {"eth0", "MODBUS", "Modbus", "ethercat", "ca", ""}) {
        EXPECT_EQ(HandFactory::createHand(TOVIN, RIGHT, channel, 1000000), nullptr) << channel;
        EXPECT_EQ(HandFactory::createHand(model(9), RIGHT, channel, 1000000), nullptr) << channel;
    }
}

TEST(HandFactory, NamesWithCanAreOpenedAsChannels) {
    // No such interfaces here: the channel's own error passes through the factory.
    for (const char* channel : {"Can", "vcan-velmora-none", "CAN9"}) {
        EXPECT_THROW(HandFactory::createHand(TOVIN, RIGHT, channel, 1000000), std::runtime_error)
            << channel;
    }
}

TEST(HandFactory, EveryModelValueBuildsItsClass) {
    struct Case {
        VELMORA model;
        std::function<bool(hand::IHand*)> isExpectedClass;
        Frames construction;  // what the hand hears first
    };
    const Case cases[] = {
        {KESTA_ALT, isA<hand::KestaHand>, {{0xC2}}}, {KESTA, isA<hand::KestaHand>, {{0xC2}}},
        {MARLO, isA<hand::MarloHand>, {{0x64}}},     {TOVIN, isA<hand::TovinHand>, {{0x64}}},
        {RAVEL, isA<hand::RavelHand>, {{0xB0}}},     {SABRE, isA<hand::ZenitHand>, {{0xB0}}},
        {ZENIT, isA<hand::ZenitHand>, {{0xB0}}},
    };
    for (const Case& c : cases) {
        const std::string bus = "can-" + uniqueBusName() + std::to_string(c.model);
        HandPeer peer(bus, LEFT);
        auto hand = HandFactory::createHand(c.model, LEFT, "virtual:" + bus, 1000000);
        ASSERT_NE(hand, nullptr);
        EXPECT_TRUE(c.isExpectedClass(hand.get())) << c.model;
        EXPECT_EQ(peer.take(1), c.construction) << c.model;
    }
}

TEST(HandFactory, TwentyFiveJointVariantsFollowTheModelValue) {
    // Without matrix sensors, the 25-joint hand reads its four scalar forces for getForce(n);
    // the 21-joint variant reads its five fingers.
    struct Case {
        VELMORA model;
        Frames requests;
    };
    for (const Case& c : {Case{ZENIT, {{0x90}, {0x91}, {0x92}, {0x93}}},
                          Case{SABRE, {{0x98}, {0x99}, {0x9A}, {0x9B}, {0x9C}}}}) {
        const std::string bus = "can-" + uniqueBusName() + std::to_string(c.model);
        HandPeer peer(bus, RIGHT);
        auto hand = HandFactory::createHand(c.model, RIGHT, "virtual:" + bus, 1000000);
        peer.drain();
        hand->getForce(0);
        EXPECT_EQ(peer.drain(), c.requests) << c.model;
    }
}

TEST(HandFactory, TextHelpers) {
    EXPECT_EQ(HandFactory::toLower("Can0"), "can0");
    EXPECT_EQ(HandFactory::toLower("VIRTUAL:CAN_9"), "virtual:can_9");
    EXPECT_TRUE(HandFactory::containsIgnoreCase("vCAN0", "can"));
    EXPECT_TRUE(HandFactory::containsIgnoreCase("slcan0", "CAN"));
    EXPECT_FALSE(HandFactory::containsIgnoreCase("ca", "can"));
    EXPECT_TRUE(HandFactory::containsIgnoreCase("anything", ""));
}
