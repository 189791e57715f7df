// Drives a 10-joint right hand through VelmoraApi.
//
// With no hand at hand, a simulated one answers on the in-process bus "virtual:can0". To drive
// a real hand, open VelmoraApi on its interface instead (VelmoraApi hand(TOVIN, RIGHT, CAN0)) and
// leave out the simulated hand.
#include <velmora/sim/SimulatedHand.h>
#include <velmora/velmora.h>

#include <chrono>
#include <iostream>
#include <thread>

namespace {

void print(const char* label, const velmora::ByteVector& values) {
    std::cout << label;
    for (int v : values)
        std::cout << ' ' << v;
    std::cout << '\n';
}

}  // namespace

int main() {
    using namespace std::chrono_literals;

    velmora::sim::SimConfig config;  // a 10-joint right hand with matrix fingertip sensors
    velmora::sim::SimulatedHand simulated(velmora::sim::openSimChannel("virtual:can0"), config);

    VelmoraApi hand(TOVIN, RIGHT, "virtual:can0");

    // Getters never wait for the hand: each returns what its last reply left behind.
    hand.getVersion();
    std::this_thread::sleep_for(50ms);
    std::cout << hand.getVersion();

    hand.setSpeed({200, 200, 200, 200, 200, 200, 200, 200, 200, 200});
    hand.fingerMove({60, 60, 60, 60, 60, 60, 128, 128, 128, 128});  // close
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(100ms);
        print("joints:", hand.getState());
    }

    const velmora::RadianVector open{0.0, 0.0, 0.0, 0.0, 0.0, 0.0, -0.13, 0.065, 0.13, 0.2};
    hand.fingerMoveArc(open);
    std::this_thread::sleep_for(1500ms);
    hand.getStateArc();
    std::this_thread::sleep_for(50ms);
    std::cout << "angles:";
    for (double a : hand.getStateArc())
        std::cout << ' ' << a;
    std::cout << '\n';

    print("temperatures:", hand.getTemperature());
    print("faults:", hand.getFaultCode());
    hand.setCurrent({1, 2, 3, 4, 5});  // a 20-joint hand's feature: the facade says so
    return 0;
}
