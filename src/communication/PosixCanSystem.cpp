#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "detail/CanSystem.h"

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
        std::this_thread::sleep_for(duration);
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
