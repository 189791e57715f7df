// An application outside the velmora tree, built against the installed packages only (CMake
// package or pkg-config): it drives a 10-joint hand through VelmoraApi on an in-process
// virtual bus, where a peer endpoint plays the hand, and exits 0 when the hand was driven (and,
// given a version, when the library it runs with is that version).
#include <velmora/Version.h>
#include <velmora/velmora.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

constexpr std::uint8_t kJointPositions = 0x01;
constexpr std::uint8_t kVersion = 0x64;

template <class Condition>
bool eventually(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::cout << "compiled against velmora " << VELMORA_VERSION_STRING << ", running with "
              << velmora::version() << '\n';
    if (argc > 1 && std::string(velmora::version()) != argv[1]) {
        std::cout << "expected velmora " << argv[1] << '\n';
        return 1;
    }

    // "virtual:" opens the in-process bus named by the rest; a hand's channel names a CAN bus.
    const std::string channel = "virtual:can-consumer";
    velmora::communication::VirtualCanBus peer("can-consumer");
    peer.setReceiveTimeout(0, 20000);

    std::atomic<bool> stop{false};
    std::atomic<bool> moved{false};
    std::thread hand([&] {
        while (!stop) {
            velmora::communication::CanMessage frame;
            try {
                frame = peer.recv(RIGHT);
            } catch (const std::runtime_error&) {
                continue;  // nothing within the receive time-out
            }
            if (frame.len == 0)
                continue;
            if (frame.data[0] == kVersion)
                peer.send({kVersion, 10, 6, 1, 'R', 0x15, 0x20}, RIGHT, false);
            if (frame.data[0] == kJointPositions && frame.len == 7 && frame.data[1] == 60)
                moved = true;
        }
    });

    bool versionRead = false;
    {
        VelmoraApi api(TOVIN, RIGHT, channel);
        api.fingerMove({60, 60, 60, 60, 60, 60, 128, 128, 128, 128});
        versionRead = eventually([&] {
            return api.getVersion().find("Software Version: 1.5") != std::string::npos;
        });
        if (versionRead)
            std::cout << api.getVersion();
    }
    stop = true;
    hand.join();

    std::cout << "version read: " << (versionRead ? "yes" : "no")
              << ", move command seen: " << (moved ? "yes" : "no") << '\n';
    return versionRead && moved ? 0 : 1;
}
