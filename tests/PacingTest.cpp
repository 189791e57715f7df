#include <gtest/gtest.h>

#include "detail/Pacing.h"

using velmora::communication::detail::extraPacing;
using velmora::communication::detail::sendPaced;

TEST(Pacing, ExtraPauseByModelCodeAndFirmware) {
    struct Case {
        VELMORA model;
        std::uint8_t code;
        float version;
        int ms;
    };
    const Case cases[] = {
        // 10-joint: sensor reads wait for old firmware; strictly above 1.4 is new.
        {TOVIN, 0xB0, 1.0f, 0},
        {TOVIN, 0xB1, 1.0f, 25},
        {TOVIN, 0xB6, 1.0f, 25},
        {TOVIN, 0xB7, 1.0f, 0},
        {TOVIN, 0xB1, 1.4f, 25},
        {TOVIN, 0xB1, 1.5f, 1},
        {TOVIN, 0xB6, 1.5f, 1},
        {TOVIN, 0x01, 1.5f, 0},
        {TOVIN, 0x41, 1.0f, 0},
        // 7-joint: the same with 3.2 as the boundary.
        {MARLO, 0xB1, 1.5f, 25},
        {MARLO, 0xB1, 3.2f, 25},
        {MARLO, 0xB1, 3.3f, 1},
        {MARLO, 0xB7, 1.0f, 0},
        {MARLO, 0xB0, 9.0f, 0},
        // 20-joint.
        {RAVEL, 0xB0, 1.0f, 0},
        {RAVEL, 0xB1, 1.0f, 6},
        {RAVEL, 0xB6, 9.0f, 6},
        {RAVEL, 0xB7, 1.0f, 0},
        {RAVEL, 0x41, 1.0f, 0},
        // 25-joint and its 21-joint variant.
        {ZENIT, 0xB0, 1.0f, 0},
        {ZENIT, 0xB1, 1.0f, 6},
        {ZENIT, 0xB6, 1.0f, 6},
        {ZENIT, 0xB7, 1.0f, 0},
        {ZENIT, 0x40, 1.0f, 0},
        {ZENIT, 0x41, 1.0f, 2},
        {ZENIT, 0x45, 1.0f, 2},
        {ZENIT, 0x46, 1.0f, 0},
        {ZENIT, 0x48, 1.0f, 0},
        {ZENIT, 0x49, 1.0f, 2},
        {ZENIT, 0x4D, 1.0f, 2},
        {ZENIT, 0x4E, 1.0f, 0},
        {ZENIT, 0x50, 1.0f, 0},
        {ZENIT, 0x51, 1.0f, 2},
        {ZENIT, 0x55, 1.0f, 2},
        {ZENIT, 0x56, 1.0f, 0},
        {SABRE, 0xB3, 1.0f, 6},
        {SABRE, 0x43, 1.0f, 2},
        {SABRE, 0x4B, 1.0f, 2},
        {SABRE, 0x53, 1.0f, 2},
        {SABRE, 0x5A, 1.0f, 0},
        // 6-actuator hands and unknown models never pause.
        {KESTA, 0xB1, 1.0f, 0},
        {KESTA, 0x41, 1.0f, 0},
        {KESTA_ALT, 0xB1, 1.0f, 0},
        {static_cast<VELMORA>(42), 0xB1, 1.0f, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(extraPacing(c.model, c.code, c.version).count(), c.ms)
            << "model " << c.model << " code 0x" << std::hex << int(c.code) << std::dec
            << " version " << c.version;
    }
}

TEST(Pacing, GapIsTakenUnderTheLockAndTheExtraPauseOutsideIt) {
    velmora::Common::current_hand_version = 1.0f;
    std::mutex sendMutex;
    std::vector<std::string> events;
    auto write = [&] {
        events.push_back(sendMutex.try_lock() ? "write unlocked" : "write locked");
        if (events.back() == "write unlocked")
            sendMutex.unlock();
    };
    auto sleep = [&](std::chrono::milliseconds pause) {
        const bool locked = !sendMutex.try_lock();
        if (!locked)
            sendMutex.unlock();
        events.push_back("sleep " + std::to_string(pause.count()) +
                         (locked ? " locked" : " unlocked"));
    };
    sendPaced(sendMutex, TOVIN, velmora::communication::detail::pacingVersion(-1.0f), {0xB2, 0xC6},
              write, sleep);
    EXPECT_EQ(events,
              (std::vector<std::string>{"write locked", "sleep 3 locked", "sleep 25 unlocked"}));
}
