#include "CanLog.h"

#include <linux/can.h>
#include <linux/can/raw.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "velmora/VirtualCanBus.h"

namespace velmora {
namespace tools {

namespace {

constexpr char kVirtualPrefix[] = "virtual:";
constexpr char kHex[] = "0123456789ABCDEF";
// ARPHRD_CAN, the link type of /sys/class/net/NAME/type.
constexpr int kCanLinkType = 280;

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void stampNow(LoggedFrame& frame) {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    frame.seconds = static_cast<std::uint64_t>(now.tv_sec);
    frame.microseconds = static_cast<std::uint32_t>(now.tv_usec);
}

class SocketTap : public FrameTap {
  public:
    explicit SocketTap(const std::string& interface) : interface_(interface) {
        requireInterfaceUp(interface);
        fd_ = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
        if (fd_ < 0)
            fail("cannot open a CAN socket");
        ifreq ifr{};
        interface.copy(ifr.ifr_name, IFNAMSIZ - 1);
        if (::ioctl(fd_, SIOCGIFINDEX, &ifr) < 0)
            fail("interface " + interface + " does not exist");
        sockaddr_can address{};
        address.can_family = AF_CAN;
        address.can_ifindex = ifr.ifr_ifindex;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0)
            fail("cannot bind to " + interface);
        // Kernel receive stamps, as candump takes them; without them the clock after the read
        // stands in. The drop counter is as optional.
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
        ::setsockopt(fd_, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    }
    ~SocketTap() override { ::close(fd_); }
    SocketTap(const SocketTap&) = delete;
    SocketTap& operator=(const SocketTap&) = delete;

    std::optional<LoggedFrame> next(std::chrono::milliseconds timeout) override {
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
        if (ready == 0 || (ready < 0 && errno == EINTR))
            return std::nullopt;
        if (ready < 0)
            fail("cannot wait for frames on " + interface_);
        can_frame raw{};
        iovec part{&raw, sizeof raw};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timeval)) + CMSG_SPACE(sizeof(__u32))];
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd_, &message, 0);
        if (n < 0 && errno == EINTR)
            return std::nullopt;
        if (n != static_cast<ssize_t>(sizeof raw))
            fail("cannot read a frame from " + interface_);
        LoggedFrame frame;
        std::uint32_t dropped = 0;
        takeAncillary(message, frame, dropped);
        dropped_ = dropped;
        frame.interface = interface_;
        frame.extended = (raw.can_id & CAN_EFF_FLAG) != 0;
        frame.remote = (raw.can_id & CAN_RTR_FLAG) != 0;
        frame.id = raw.can_id & (frame.extended ? CAN_EFF_MASK : CAN_SFF_MASK);
        frame.len = std::min<std::uint8_t>(raw.can_dlc, CAN_MAX_DLEN);
        std::memcpy(frame.data.data(), raw.data, frame.len);
        return frame;
    }

    void send(const LoggedFrame& frame) override {
        can_frame raw{};
        raw.can_id =
            frame.id | (frame.extended ? CAN_EFF_FLAG : 0) | (frame.remote ? CAN_RTR_FLAG : 0);
        raw.can_dlc = std::min<std::uint8_t>(frame.len, CAN_MAX_DLEN);
        std::memcpy(raw.data, frame.data.data(), raw.can_dlc);
        if (::write(fd_, &raw, sizeof raw) != static_cast<ssize_t>(sizeof raw))
            fail("cannot send a frame on " + interface_);
    }

    std::optional<std::uint32_t> dropped() const override { return dropped_; }

  private:
    [[noreturn]] void fail(const std::string& what) {
        throw std::runtime_error(what + ": " + std::strerror(errno));
    }

    std::string interface_;
    int fd_ = -1;
    std::uint32_t dropped_ = 0;
};

class VirtualTap : public FrameTap {
  public:
    explicit VirtualTap(const std::string& channel)
        : channel_(channel), bus_(channel.substr(sizeof kVirtualPrefix - 1)) {}

    std::optional<LoggedFrame> next(std::chrono::milliseconds timeout) override {
        if (timeout != timeout_) {
            const auto us = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
            // 0 would wait for ever: wait at least a microsecond.
            bus_.setReceiveTimeout(static_cast<int>(us / 1000000),
                                   static_cast<int>(us == 0 ? 1 : us % 1000000));
            timeout_ = timeout;
        }
        communication::CanMessage message;
        try {
            message = bus_.recvAny();
        } catch (const std::runtime_error&) {
            return std::nullopt;  // the receive time-out: the in-process bus never fails
        }
        LoggedFrame frame;
        stampNow(frame);
        frame.interface = channel_;
        frame.id = message.id;
        frame.extended = message.id > CAN_SFF_MASK;
        frame.len = message.len;
        frame.data = message.data;
        return frame;
    }

    void send(const LoggedFrame& frame) override {
        bus_.send(std::vector<std::uint8_t>(frame.data.begin(), frame.data.begin() + frame.len),
                  frame.id, false);
    }

  private:
    std::string channel_;
    communication::VirtualCanBus bus_;
    std::chrono::milliseconds timeout_{-1};
};

}  // namespace

void takeAncillary(const msghdr& message, LoggedFrame& frame, std::uint32_t& dropped) {
    bool stamped = false;
    for (const cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&message), const_cast<cmsghdr*>(c))) {
        if (c->cmsg_level != SOL_SOCKET)
            continue;
        if (c->cmsg_type == SCM_TIMESTAMP && c->cmsg_len >= CMSG_LEN(sizeof(timeval))) {
            timeval stamp{};
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            frame.seconds = static_cast<std::uint64_t>(stamp.tv_sec);
            frame.microseconds = static_cast<std::uint32_t>(stamp.tv_usec);
            stamped = true;
        } else if (c->cmsg_type == SO_RXQ_OVFL && c->cmsg_len >= CMSG_LEN(sizeof(std::uint32_t))) {
            std::memcpy(&dropped, CMSG_DATA(c), sizeof dropped);
        }
    }
    if (!stamped)
        stampNow(frame);
}

bool isVirtualChannel(const std::string& channel) {
    return channel.compare(0, sizeof kVirtualPrefix - 1, kVirtualPrefix) == 0;
}

void requireInterfaceUp(const std::string& interface, const std::string& root) {
    if (interface.empty() || interface.size() >= IFNAMSIZ)
        throw std::runtime_error("'" + interface + "' is not a network interface name");
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("cannot query interfaces: ") + std::strerror(errno));
    ifreq ifr{};
    interface.copy(ifr.ifr_name, IFNAMSIZ - 1);
    const int result = ::ioctl(fd, SIOCGIFFLAGS, &ifr);
    ::close(fd);
    if (result < 0)
        throw std::runtime_error("interface " + interface + " does not exist");
    // The link type tells a CAN interface from lo or an Ethernet port; without the directory
    // (an unusual mount) the socket calls say it later.
    std::ifstream typeFile(root + "/" + interface + "/type");
    int type = 0;
    if (typeFile >> type && type != kCanLinkType)
        throw std::runtime_error(interface + " is not a CAN interface");
    if (!(ifr.ifr_flags & IFF_UP))
        throw std::runtime_error("interface " + interface + " is down (" + upCommand(interface) +
                                 ")");
}

std::string upCommand(const std::string& interface, int bitrate) {
    // A virtual CAN interface has no bit rate to set; a real adapter needs one to come up.
    const bool virtualCan = interface.rfind("vcan", 0) == 0 || interface.rfind("vxcan", 0) == 0;
    return "sudo ip link set " + interface + " up" +
           (virtualCan ? "" : " type can bitrate " + std::to_string(bitrate));
}

std::unique_ptr<FrameTap> openTap(const std::string& channel) {
    if (isVirtualChannel(channel))
        return std::make_unique<VirtualTap>(channel);
    return std::make_unique<SocketTap>(channel);
}

std::string formatLogLine(const LoggedFrame& frame) {
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "(%010llu.%06u) ",
                  static_cast<unsigned long long>(frame.seconds), frame.microseconds);
    std::string line = stamp;
    line += frame.interface;
    line += ' ';
    char id[16];
    std::snprintf(id, sizeof id, frame.extended ? "%08X#" : "%03X#", frame.id);
    line += id;
    if (frame.remote) {
        line += 'R';
        if (frame.len > 0)
            line += kHex[frame.len & 0x0F];
        return line;
    }
    for (std::size_t i = 0; i < frame.len; ++i) {
        line += kHex[frame.data[i] >> 4];
        line += kHex[frame.data[i] & 0x0F];
    }
    return line;
}

std::optional<LoggedFrame> parseLogLine(const std::string& line, std::string& error) {
    LoggedFrame frame;
    std::size_t pos = 0;
    auto fail = [&](const std::string& why) -> std::optional<LoggedFrame> {
        error = why;
        return std::nullopt;
    };
    if (line.empty() || line[0] != '(')
        return fail("does not begin with a time stamp such as (1733760000.123456)");
    const std::size_t close = line.find(')');
    const std::size_t dot = line.find('.');
    if (close == std::string::npos || dot == std::string::npos || dot > close || dot == 1 ||
        close - dot - 1 != 6)
        return fail("time stamp is not (SECONDS.MICROSECONDS)");
    for (std::size_t i = 1; i < close; ++i) {
        if (i != dot && (line[i] < '0' || line[i] > '9'))
            return fail("time stamp is not (SECONDS.MICROSECONDS)");
    }
    if (dot - 1 > 19)
        return fail("time stamp is out of range");
    frame.seconds = std::stoull(line.substr(1, dot - 1));
    frame.microseconds = static_cast<std::uint32_t>(std::stoul(line.substr(dot + 1, 6)));
    pos = close + 1;
    if (pos >= line.size() || line[pos] != ' ')
        return fail("no interface after the time stamp");
    ++pos;
    const std::size_t space = line.find(' ', pos);
    if (space == std::string::npos || space == pos)
        return fail("no frame after the interface");
    frame.interface = line.substr(pos, space - pos);
    pos = space + 1;
    std::size_t end = line.find_first_of(" \r", pos);
    const std::string text =
        line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    const std::size_t hash = text.find('#');
    if (hash != 3 && hash != 8)
        return fail("frame '" + text + "' is not ID#DATA with a 3- or 8-digit identifier");
    for (std::size_t i = 0; i < hash; ++i) {
        const int v = hexValue(text[i]);
        if (v < 0)
            return fail("identifier '" + text.substr(0, hash) + "' is not hexadecimal");
        frame.id = frame.id << 4 | static_cast<std::uint32_t>(v);
    }
    frame.extended = hash == 8;
    if (frame.extended && (frame.id & CAN_ERR_FLAG))
        return fail("error frame");
    if ((frame.extended && frame.id > CAN_EFF_MASK) || (!frame.extended && frame.id > CAN_SFF_MASK))
        return fail("identifier '" + text.substr(0, hash) + "' is out of range");
    std::string data = text.substr(hash + 1);
    if (!data.empty() && data[0] == '#')
        return fail("CAN FD frames are not supported");
    if (!data.empty() && (data[0] == 'R' || data[0] == 'r')) {
        frame.remote = true;
        if (data.size() > 2 || (data.size() == 2 && (data[1] < '0' || data[1] > '8')))
            return fail("remote frame '" + text + "' has a bad length");
        frame.len = data.size() == 2 ? static_cast<std::uint8_t>(data[1] - '0') : 0;
        return frame;
    }
    if (data.size() % 2 != 0 || data.size() > 16)
        return fail("data '" + data + "' is not 0 to 8 bytes in hexadecimal");
    for (std::size_t i = 0; i < data.size(); i += 2) {
        const int hi = hexValue(data[i]), lo = hexValue(data[i + 1]);
        if (hi < 0 || lo < 0)
            return fail("data '" + data + "' is not hexadecimal");
        frame.data[i / 2] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    frame.len = static_cast<std::uint8_t>(data.size() / 2);
    return frame;
}

std::vector<LoggedFrame> readLog(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    std::vector<LoggedFrame> frames;
    std::string line, error;
    std::size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos)
            continue;
        auto frame = parseLogLine(line, error);
        if (!frame)
            throw std::runtime_error(path + ":" + std::to_string(number) + ": " + error);
        frames.push_back(*frame);
    }
    return frames;
}

}  // namespace tools
}  // namespace velmora
