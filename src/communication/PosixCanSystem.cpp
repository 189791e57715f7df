#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>

#include "detail/CanSystem.h"
#include "detail/PreciseSleep.h"

extern char** environ;

namespace velmora {
namespace communication {
namespace detail {

namespace {

class PosixCanSystem final : public CanSystem {
  public:
    int openSocket(int domain, int type, int protocol) override {
        return ::socket(domain, type | SOCK_CLOEXEC, protocol);
    }
    int getInterfaceIndex(int fd, ifreq& ifr) override { return ::ioctl(fd, SIOCGIFINDEX, &ifr); }
    int getInterfaceFlags(int fd, ifreq& ifr) override { return ::ioctl(fd, SIOCGIFFLAGS, &ifr); }
    int bindSocket(int fd, const sockaddr_can& address) override {
        return ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    int setReceiveTimeout(int fd, const timeval& timeout) override {
        return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ssize_t readFrame(int fd, can_frame& frame) override {
        return ::read(fd, &frame, sizeof frame);
    }
    int enableDropCount(int fd) override {
        const int on = 1;
        return ::setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    }
    ssize_t receiveFrame(int fd, can_frame& frame, std::uint32_t& drops,
                         bool& dropsReported) override {
        iovec data{&frame, sizeof frame};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t))];
        msghdr message{};
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(fd, &message, 0);
        dropsReported = false;
        if (got < 0) {
            return got;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL &&
                c->cmsg_len >= CMSG_LEN(sizeof drops)) {
                std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
                dropsReported = true;
            }
        }
        return got;
    }
    ssize_t writeFrame(int fd, const can_frame& frame) override {
        return ::write(fd, &frame, sizeof frame);
    }
    int closeSocket(int fd) override { return ::close(fd); }

    int run(const std::vector<std::string>& argv) override {
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const std::string& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            return 127;
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) {
                return 127;
            }
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }

    void sleepFor(std::chrono::milliseconds duration) override {
        velmora::detail::sleepPrecisely(duration);
    }

    int openWakeEvent() override { return ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }
    int signalWakeEvent(int fd) override {
        const std::uint64_t one = 1;
        return ::write(fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one) ? 0 : -1;
    }
    int waitReadable(int socketFd, int wakeFd, std::chrono::milliseconds timeout, bool& socketReady,
                     bool& wakeReady) override {
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {socketFd, POLLIN, 0}};
        const nfds_t count = socketFd >= 0 ? 2 : 1;
        const int result = ::poll(fds, count, static_cast<int>(timeout.count()));
        wakeReady = result > 0 && fds[0].revents != 0;
        socketReady = result > 0 && count == 2 && fds[1].revents != 0;
        return result;
    }
};

}  // namespace

std::shared_ptr<CanSystem> posixCanSystem() {
    static const std::shared_ptr<CanSystem> system = std::make_shared<PosixCanSystem>();
    return system;
}

}  // namespace detail
}  // namespace communication
}  // namespace velmora
