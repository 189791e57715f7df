#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "velmora/velmora.h"

using velmora::ByteVector;
using velmora::HandException;
using velmora::UnsupportedFeatureException;
using velmora::hand::IHand;

namespace {

class BareHand : public IHand {
  public:
    void setJointPositions(const ByteVector&) override {}
};

}  // namespace

TEST(HandInterface, EveryDefaultRefusesWithItsOwnName) {
    BareHand hand;
    const std::vector<std::pair<std::string, std::function<void(IHand&)>>> operations = {
        {"setJointPositionArc", [](IHand& h) { h.setJointPositionArc({0.1}); }},
        {"getSpeed", [](IHand& h) { h.getSpeed(); }},
        {"setSpeed", [](IHand& h) { h.setSpeed({1}); }},
        {"getCurrentStatus", [](IHand& h) { h.getCurrentStatus(); }},
        {"getCurrentStatusArc", [](IHand& h) { h.getCurrentStatusArc(); }},
        {"getFaultCode", [](IHand& h) { h.getFaultCode(); }},
        {"getCurrent", [](IHand& h) { h.getCurrent(); }},
        {"getForce", [](IHand& h) { h.getForce(1); }},
        {"getForce", [](IHand& h) { h.getForce(); }},
        {"getThumbForce", [](IHand& h) { h.getThumbForce(); }},
        {"getIndexForce", [](IHand& h) { h.getIndexForce(); }},
        {"getMiddleForce", [](IHand& h) { h.getMiddleForce(); }},
        {"getRingForce", [](IHand& h) { h.getRingForce(); }},
        {"getLittleForce", [](IHand& h) { h.getLittleForce(); }},
        {"getNormalForce", [](IHand& h) { h.getNormalForce(); }},
        {"getTangentialForce", [](IHand& h) { h.getTangentialForce(); }},
        {"getTangentialForceDir", [](IHand& h) { h.getTangentialForceDir(); }},
        {"getApproachInc", [](IHand& h) { h.getApproachInc(); }},
        {"setTorque", [](IHand& h) { h.setTorque({1}); }},
        {"getTorque", [](IHand& h) { h.getTorque(); }},
        {"getTemperature", [](IHand& h) { h.getTemperature(); }},
        {"getVersion", [](IHand& h) { h.getVersion(); }},
        {"getUID", [](IHand& h) { h.getUID(); }},
        {"getRotorLockCount", [](IHand& h) { h.getRotorLockCount(); }},
        {"clearFaultCode", [](IHand& h) { h.clearFaultCode({1}); }},
        {"setCurrent", [](IHand& h) { h.setCurrent({1}); }},
        {"setMotorEnable", [](IHand& h) { h.setMotorEnable({1}); }},
        {"setMotorDisable", [](IHand& h) { h.setMotorDisable({1}); }},
    };
    for (const auto& [name, call] : operations) {
        try {
            call(hand);
            ADD_FAILURE() << name << " did not refuse";
        } catch (const UnsupportedFeatureException& e) {
            EXPECT_EQ(std::string(e.what()), "Unsupported feature: " + name);
            EXPECT_EQ(e.featureName(), name);
            EXPECT_EQ(e.code(), velmora::UNSUPPORTED_FEATURE);
            EXPECT_EQ(static_cast<int>(e.code()), 1);
        }
    }
    // The refusal is catchable through both bases, and the hand stays usable.
    EXPECT_THROW(hand.getUID(), HandException);
    EXPECT_THROW(hand.getUID(), std::runtime_error);
    EXPECT_NO_THROW(hand.setJointPositions({1, 2}));
}

TEST(HandInterface, SubVectorStripsTheCommandByte) {
    BareHand hand;
    EXPECT_EQ(hand.getSubVector(ByteVector{}), ByteVector{});
    EXPECT_EQ(hand.getSubVector(ByteVector{0x01}), ByteVector{});
    EXPECT_EQ(hand.getSubVector(ByteVector{0x01, 7, 8}), (ByteVector{7, 8}));

    EXPECT_EQ(hand.getSubVector({0x01}, {0x04, 1, 2, 3, 4}), (ByteVector{1, 2, 3, 4}));
    EXPECT_EQ(hand.getSubVector({0x01, 1, 2, 3, 4, 5, 6}, {0x04, 7, 8, 9, 10}),
              (ByteVector{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(hand.getSubVector({0x01, 1, 2}, {}), (ByteVector{1, 2}));
    EXPECT_EQ(hand.getSubVector(ByteVector{}, ByteVector{}), ByteVector{});
}

TEST(HandInterface, CurrentTimeHasMilliseconds) {
    BareHand hand;
    EXPECT_THAT(hand.getCurrentTime(),
                ::testing::MatchesRegex(
                    "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}"));
}
