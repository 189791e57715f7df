#include "support/Child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace velmora::integration {

namespace {

int decodeStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv) : name_(argv.at(0)) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe: " + name_);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    const int spawned = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start " + name_);
    }
    reader_ = std::thread([this, fd = pipeFds[0]] { readOutput(fd); });
}

Child::~Child() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    // The pipe reaches its end once the child is gone.
    if (reader_.joinable())
        reader_.join();
}

void Child::readOutput(int fd) {
    std::string partial;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        partial.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        std::lock_guard<std::mutex> lock(mutex_);
        while ((end = partial.find('\n')) != std::string::npos) {
            unread_.push_back(partial.substr(0, end));
            all_.push_back(unread_.back());
            partial.erase(0, end + 1);
        }
        arrived_.notify_all();
    }
    ::close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!partial.empty()) {
        unread_.push_back(partial);
        all_.push_back(partial);
    }
    closed_ = true;
    arrived_.notify_all();
}

std::optional<std::string> Child::nextLine(std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, deadline, [this] { return !unread_.empty() || closed_; });
    if (unread_.empty())
        return std::nullopt;
    std::string line = std::move(unread_.front());
    unread_.pop_front();
    return line;
}

std::optional<std::string> Child::waitForLine(const std::function<bool(const std::string&)>& wanted,
                                              std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        std::optional<std::string> line = nextLine(left);
        if (!line) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (closed_ && unread_.empty())
                return std::nullopt;
            continue;
        }
        if (wanted(*line))
            return line;
    }
}

void Child::signal(int number) {
    if (pid_ > 0 && !status_)
        ::kill(pid_, number);
}

std::optional<int> Child::wait(std::chrono::milliseconds deadline) {
    if (status_)
        return status_;
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = decodeStatus(status);
            return status_;
        }
        if (done < 0 && errno != EINTR) {
            status_ = -1;
            return status_;
        }
        if (std::chrono::steady_clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int Child::stop(std::chrono::milliseconds grace) {
    signal(SIGTERM);
    if (const auto status = wait(grace))
        return *status;
    signal(SIGKILL);
    return wait(std::chrono::milliseconds(60000)).value_or(-1);
}

std::string Child::transcript() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::ostringstream text;
    text << name_ << " wrote " << all_.size() << " lines:\n";
    for (const std::string& line : all_)
        text << "  " << line << "\n";
    return text.str();
}

int run(const std::vector<std::string>& argv, std::chrono::milliseconds deadline) {
    try {
        Child child(argv);
        if (const auto status = child.wait(deadline))
            return *status;
        return child.stop();
    } catch (const std::runtime_error&) {
        return 127;
    }
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

}  // namespace velmora::integration
