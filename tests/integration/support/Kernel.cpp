#include "support/Kernel.h"

#include <linux/can.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace velmora::integration {

namespace {

constexpr char kSetUpHint[] =
    " (see the README, \"Integration tests\": sudo modprobe vcan; sudo ip link add dev NAME type "
    "vcan; sudo ip link set NAME up)";

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

}  // namespace

bool interfaceExists(const std::string& name) {
    return ::if_nametoindex(name.c_str()) != 0;
}

bool interfaceUp(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    name.copy(ifr.ifr_name, IFNAMSIZ - 1);
    const bool up = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0 && (ifr.ifr_flags & IFF_UP) != 0;
    ::close(fd);
    return up;
}

std::optional<std::string> needUp(std::initializer_list<std::string> names) {
    std::vector<std::string> missing, down;
    for (const std::string& name : names) {
        if (!interfaceExists(name))
            missing.push_back(name);
        else if (!interfaceUp(name))
            down.push_back(name);
    }
    if (missing.empty() && down.empty())
        return std::nullopt;
    std::string reason = "needs the CAN interface(s) " + joined(names) + " up;";
    if (!missing.empty())
        reason += " missing: " + joined(missing) + ";";
    if (!down.empty())
        reason += " down: " + joined(down) + ";";
    return reason + kSetUpHint;
}

std::optional<std::string> needDown(const std::string& name) {
    if (!interfaceExists(name))
        return "needs the CAN interface " + name + ", left down; missing" + kSetUpHint;
    if (interfaceUp(name))
        return "needs the CAN interface " + name + " down, but it is up (sudo ip link set " + name +
               " down)";
    return std::nullopt;
}

std::optional<std::string> needPrograms(std::initializer_list<std::string> names) {
    std::vector<std::string> missing;
    for (const std::string& name : names) {
        if (!onPath(name))
            missing.push_back(name);
    }
    if (missing.empty())
        return std::nullopt;
    return "needs " + joined(missing) + " on PATH (Debian package can-utils)";
}

std::optional<std::string> needRoot() {
    if (::geteuid() != 0)
        return std::string("needs root: it creates and deletes vcan interfaces");
    if (!interfaceExists("vcan0"))
        return "needs SocketCAN with vcan; missing: vcan0" + std::string(kSetUpHint);
    return std::nullopt;
}

std::string toText(const ByteVector& bytes) {
    std::ostringstream text;
    text << std::hex << std::uppercase << std::setfill('0');
    for (std::uint8_t byte : bytes)
        text << std::setw(2) << int(byte);
    return text.str();
}

std::string toText(const WireFrame& frame) {
    std::ostringstream text;
    text << std::hex << std::uppercase << std::setfill('0') << std::setw(3) << frame.id;
    return text.str() + "#" + toText(frame.data);
}

std::string toText(const std::vector<WireFrame>& frames) {
    std::string text;
    for (std::size_t i = 0; i < frames.size(); ++i)
        text += "  " + std::to_string(i) + ": " + toText(frames[i]) + "\n";
    return text;
}

std::optional<WireFrame> parseCandumpLine(const std::string& line) {
    std::istringstream words(line);
    std::string stamp, interfaceName, frameText;
    if (!(words >> stamp >> interfaceName >> frameText))
        return std::nullopt;
    const std::size_t hash = frameText.find('#');
    if (hash == std::string::npos || hash == 0 ||
        frameText.find('#', hash + 1) != std::string::npos)
        return std::nullopt;  // CAN FD ("##") and anything else unexpected
    WireFrame frame;
    if (stamp.size() > 2 && stamp.front() == '(' && stamp.back() == ')')
        frame.time = std::stod(stamp.substr(1, stamp.size() - 2));
    frame.id = static_cast<std::uint32_t>(std::stoul(frameText.substr(0, hash), nullptr, 16));
    const std::string hex = frameText.substr(hash + 1);
    if (hex.size() % 2 != 0)
        return std::nullopt;
    for (std::size_t i = 0; i < hex.size(); i += 2)
        frame.data.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return frame;
}

RawSocket::RawSocket(const std::string& interfaceName) {
    fd_ = ::socket(PF_CAN, SOCK_RAW | SOCK_CLOEXEC, CAN_RAW);
    if (fd_ < 0)
        throw std::runtime_error("no CAN socket for the test's markers");
    sockaddr_can address;
    std::memset(&address, 0, sizeof address);
    address.can_family = AF_CAN;
    address.can_ifindex = static_cast<int>(::if_nametoindex(interfaceName.c_str()));
    if (address.can_ifindex == 0 ||
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        throw std::runtime_error("cannot bind the test's marker socket to " + interfaceName);
    }
}

RawSocket::~RawSocket() {
    ::close(fd_);
}

void RawSocket::send(std::uint32_t id, const ByteVector& data) {
    can_frame frame;
    std::memset(&frame, 0, sizeof frame);
    frame.can_id = id;
    if (data.size() > sizeof frame.data)
        throw std::invalid_argument("a CAN frame holds at most 8 bytes");
    frame.can_dlc = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.data);
    if (::write(fd_, &frame, sizeof frame) != static_cast<ssize_t>(sizeof frame))
        throw std::runtime_error("the test's marker frame was not sent");
}

Candump::Candump(const std::string& interfaceName)
    : interface_(interfaceName),
      markers_(interfaceName),
      candump_({"candump", "-L", interfaceName}) {
    // candump says nothing when it starts listening: it is listening once it records a frame.
    const WireFrame ready{kMarkerId, {0xA5}};
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < end) {
        markers_.send(ready.id, ready.data);
        const auto line = candump_.nextLine(200ms);
        if (line && parseCandumpLine(*line) == ready)
            return;
    }
    throw std::runtime_error("candump -L " + interfaceName + " recorded nothing within 30 s\n" +
                             candump_.transcript());
}

std::vector<WireFrame> Candump::finish() {
    const WireFrame endMarker{kMarkerId, {0x5A}};
    markers_.send(endMarker.id, endMarker.data);
    std::vector<WireFrame> frames;
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < end) {
        const auto line = candump_.nextLine(1000ms);
        if (!line)
            continue;
        const auto frame = parseCandumpLine(*line);
        if (!frame)
            throw std::runtime_error("candump wrote an unexpected line: " + *line);
        if (*frame == endMarker) {
            candump_.stop();
            return frames;
        }
        // Ready markers sent before candump was listening may still show up.
        if (frame->id != kMarkerId)
            frames.push_back(*frame);
    }
    throw std::runtime_error("candump did not record the end marker within 30 s\n" +
                             candump_.transcript());
}

ScratchInterface::ScratchInterface(std::string name, bool up) : name_(std::move(name)) {
    create(up);
}

ScratchInterface::~ScratchInterface() {
    remove();
}

void ScratchInterface::create(bool up) {
    if (interfaceExists(name_))
        throw std::runtime_error("the interface " + name_ +
                                 " exists already: left over from an earlier run? (sudo ip link "
                                 "delete dev " +
                                 name_ + ")");
    if (run({"ip", "link", "add", "dev", name_, "type", "vcan"}) != 0)
        throw std::runtime_error("cannot create the vcan interface " + name_);
    if (up)
        setUp();
}

void ScratchInterface::setDown() {
    if (run({"ip", "link", "set", "dev", name_, "down"}) != 0)
        throw std::runtime_error("cannot bring " + name_ + " down");
}

void ScratchInterface::setUp() {
    if (run({"ip", "link", "set", "dev", name_, "up"}) != 0)
        throw std::runtime_error("cannot bring " + name_ + " up");
}

void ScratchInterface::remove() {
    if (interfaceExists(name_))
        run({"ip", "link", "delete", "dev", name_});
}

LoggingSudo::LoggingSudo() {
    char pattern[] = "/tmp/velmora-sudo.XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    {
        std::ofstream script(dir_ + "/sudo");
        // One line per command, its arguments separated by the unit separator.
        script << "#!/bin/sh\n"
               << "for arg in \"$@\"; do printf '%s\\037' \"$arg\"; done >> '" << dir_ << "/log'\n"
               << "printf '\\n' >> '" << dir_ << "/log'\n"
               << "exec \"$@\"\n";
    }
    std::filesystem::permissions(dir_ + "/sudo", std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "/usr/bin:/bin";
    ::setenv("PATH", (dir_ + ":" + oldPath_).c_str(), 1);
}

LoggingSudo::~LoggingSudo() {
    ::setenv("PATH", oldPath_.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::vector<std::string>> LoggingSudo::commands() const {
    std::vector<std::vector<std::string>> commands;
    std::ifstream log(dir_ + "/log");
    std::string line;
    while (std::getline(log, line)) {
        std::vector<std::string> args;
        std::istringstream fields(line);
        std::string arg;
        while (std::getline(fields, arg, '\037'))
            args.push_back(arg);
        commands.push_back(args);
    }
    return commands;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/velmora-it.XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

int openSockets() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(entry.path(), error);
        if (!error && target.string().rfind("socket:", 0) == 0)
            ++count;
    }
    return count;
}

std::chrono::microseconds processCpuTime() {
    rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    const auto micros = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

}  // namespace velmora::integration
