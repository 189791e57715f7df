#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velmora::integration {

/// How long a program the tests start may take to say it is ready: a sanitizer build in an
/// emulated machine, on a loaded host, starts slowly. Waits end as soon as the line comes.
inline constexpr std::chrono::milliseconds kStartDeadline{120000};

/// A program run from an argument vector (no shell), its standard output read line by line by
/// a thread of its own, so that a chatty child never blocks on a full pipe. Standard error is
/// left to the test's own. The destructor kills and reaps a child that is still running.
class Child {
  public:
    explicit Child(const std::vector<std::string>& argv);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    /// The next line not yet taken, without its line end; nothing once the deadline passes or
    /// the child closed its output.
    std::optional<std::string> nextLine(std::chrono::milliseconds deadline);
    /// Takes lines until one satisfies `wanted`; nothing when the deadline passes first.
    std::optional<std::string> waitForLine(const std::function<bool(const std::string&)>& wanted,
                                           std::chrono::milliseconds deadline);

    void signal(int number);
    /// Exit status (128 + signal number for a child killed by a signal), or nothing while it is
    /// still running at the deadline.
    std::optional<int> wait(std::chrono::milliseconds deadline);
    /// SIGTERM, then SIGKILL if it has not ended within the grace period; returns the status.
    int stop(std::chrono::milliseconds grace = std::chrono::milliseconds(10000));

    /// Every line the child has written so far, for failure messages.
    std::string transcript() const;

  private:
    void readOutput(int fd);

    std::string name_;
    pid_t pid_ = -1;
    std::optional<int> status_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::string> unread_;
    std::vector<std::string> all_;
    bool closed_ = false;
    std::thread reader_;
};

/// Runs a program to its end and returns its exit status (127 when it could not be started).
int run(const std::vector<std::string>& argv,
        std::chrono::milliseconds deadline = std::chrono::milliseconds(30000));

/// True when `program` is an executable file in a directory of PATH.
bool onPath(const std::string& program);

}  // namespace velmora::integration
