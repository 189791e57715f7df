#include <gtest/gtest.h>

#include <functional>

#include "support/HandTesting.h"
#include "velmora/velmora.h"

using namespace velmora;
using namespace velmora::testing;

namespace {

struct Facade {
    explicit Facade(VELMORA model, const std::string& suffix = "")
        : bus("can-" + uniqueBusName() + suffix),
          peer(bus, RIGHT),
          api(model, RIGHT, "virtual:" + bus) {
        peer.drain();
    }
    std::string bus;
    HandPeer peer;
    VelmoraApi api;
};

}  // namespace

TEST(VelmoraApi, GatedOperationsReachOnlyTheirModel) {
    const std::string ravel = "VelmoraApi : Currently only supports Ravel !\n";
    const std::string zenit = "VelmoraApi : Currently only supports Zenit !\n";
    struct Case {
        VELMORA model;
        std::function<void(VelmoraApi&)> call;
        std::string message;  // empty: the hand is reached
        Frames frames;
    };
    const ByteVector five{1, 2, 3, 4, 5};
    const Case cases[] = {
        {RAVEL, [&](VelmoraApi& a) { a.setCurrent(five); }, "", {{0x06, 1, 2, 3, 4, 5}}},
        {RAVEL, [&](VelmoraApi& a) { a.clearFaultCode(five); }, "", {{0x07, 1, 2, 3, 4, 5}}},
        {ZENIT, [](VelmoraApi& a) { a.setEnable({1}); }, "", {{0x85, 1}}},
        {ZENIT, [](VelmoraApi& a) { a.setDisable({0}); }, "", {{0x85, 0}}},
        {TOVIN, [&](VelmoraApi& a) { a.setCurrent(five); }, ravel, {}},
        {KESTA,
         [](VelmoraApi& a) {
             a.clearFaultCode({1, 2, 3, 4, 5, 6});
         },
         ravel,
         {}},
        {ZENIT, [&](VelmoraApi& a) { a.clearFaultCode(five); }, ravel, {}},
        {SABRE, [](VelmoraApi& a) { a.setEnable({1}); }, zenit, {}},
        {SABRE, [](VelmoraApi& a) { a.setDisable({1}); }, zenit, {}},
        {RAVEL, [](VelmoraApi& a) { a.setEnable({1}); }, zenit, {}},
        {MARLO, [](VelmoraApi& a) { a.setDisable({1}); }, zenit, {}},
    };
    int n = 0;
    for (const Case& c : cases) {
        Facade f(c.model, std::to_string(n++));
        ::testing::internal::CaptureStdout();
        c.call(f.api);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.message) << c.model;
        EXPECT_EQ(f.peer.drain(), c.frames) << c.model;
    }
}

TEST(VelmoraApi, ForwardsToTheHandAndPassesRefusalsThrough) {
    Facade tovin(TOVIN, "tovin");
    EXPECT_EQ(tovin.api.getCurrent(), ByteVector(10, 0));
    tovin.api.fingerMove({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    tovin.api.setTorque({1, 2, 3, 4, 5});
    EXPECT_EQ(tovin.api.getTorque(), (ByteVector{1, 2, 3, 4, 5}));
    EXPECT_EQ(tovin.peer.drain(),
              (Frames{{0x01, 1, 2, 3, 4, 5, 6}, {0x04, 7, 8, 9, 10}, {0x02, 1, 2, 3, 4, 5}}));

    Facade kesta(KESTA, "kesta");
    expectRefused({{"getCurrent", [&] { kesta.api.getCurrent(); }}});
    Facade ravel(RAVEL, "ravel");
    EXPECT_THROW(ravel.api.getTorque(), UnsupportedFeatureException);
}

TEST(VelmoraApi, ForceIsAlwaysTheWholeHandForm) {
    Facade zenit(ZENIT);
    const ForceData force = zenit.api.getForce();
    EXPECT_EQ(force, ForceData(5, ByteMatrix(12, ByteVector(6, 0))));
    EXPECT_EQ(zenit.peer.drain(), kMatrixReads);
}

TEST(VelmoraApi, ConstructionRefusals) {
    try {
        VelmoraApi api(TOVIN, RIGHT, "eth0");
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Unsupported channel: eth0");
    }
    try {
        VelmoraApi api(TOVIN, LEFT, MODBUS);
        ADD_FAILURE();
    } catch (const std::invalid_argument&) {
        ADD_FAILURE() << "the ModBus refusal is a runtime_error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "ModBus support is disabled (USE_RMAN=0)");
    }
    EXPECT_THROW(VelmoraApi(TOVIN, static_cast<HAND_TYPE>(0x29), "virtual:can0"),
                 std::invalid_argument);
}
