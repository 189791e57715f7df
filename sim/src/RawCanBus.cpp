#include "RawCanBus.h"

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace velmora {
namespace sim {

RawCanBus::RawCanBus(const std::string& interfaceName, int receiveTimeoutUs) {
    auto fail = [&](const char* what) {
        const std::string reason = std::strerror(errno);
        if (fd_ >= 0)
            ::close(fd_);
        throw std::runtime_error("Cannot open CAN interface " + interfaceName + ": " + what + ": " +
                                 reason);
    };
    fd_ = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd_ < 0)
        fail("socket");

    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    interfaceName.copy(ifr.ifr_name, IFNAMSIZ - 1);
    if (::ioctl(fd_, SIOCGIFINDEX, &ifr) < 0)
        fail("no such interface");

    sockaddr_can address;
    std::memset(&address, 0, sizeof address);
    address.can_family = AF_CAN;
    address.can_ifindex = ifr.ifr_ifindex;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0)
        fail("bind");

    timeval timeout{};
    timeout.tv_sec = receiveTimeoutUs / 1000000;
    timeout.tv_usec = receiveTimeoutUs % 1000000;
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) < 0)
        fail("timeout");
}

RawCanBus::~RawCanBus() {
    ::close(fd_);
}

void RawCanBus::send(const std::vector<std::uint8_t>& data, std::uint32_t canId, bool) {
    if (data.size() > CAN_MAX_DLEN) {
        std::cerr << "simulated hand: frame of " << data.size() << " bytes not sent" << std::endl;
        return;
    }
    can_frame frame;
    std::memset(&frame, 0, sizeof frame);
    frame.can_id = canId;
    frame.can_dlc = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.data);
    if (::write(fd_, &frame, sizeof frame) < 0) {
        // A full transmit queue (ENOBUFS) drops the frame, as a busy bus would.
    }
}

communication::CanMessage RawCanBus::recv(const std::uint32_t& canId) {
    can_frame frame;
    if (::read(fd_, &frame, sizeof frame) != static_cast<ssize_t>(sizeof frame)) {
        throw std::runtime_error("Failed to receive CAN frame");
    }
    communication::CanMessage message;
    if (frame.can_id != canId)
        return message;
    message.id = frame.can_id;
    message.len = std::min<std::uint8_t>(frame.can_dlc, CAN_MAX_DLEN);
    std::copy_n(frame.data, message.len, message.data.begin());
    return message;
}

}  // namespace sim
}  // namespace velmora
