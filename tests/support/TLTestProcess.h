#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A child process owned by a test: started with fork/exec, killed with its parent
// (PR_SET_PDEATHSIG) so a crashed test leaves nothing behind, terminated and reaped by pid.
class TLTestProcess {
public:
    struct Options {
        std::vector<std::string> environment; // "NAME=value" entries added to (or replacing in) ours
        int inheritAsFd3 = -1;                // handed to the child as descriptor 3 (Xvfb -displayfd 3)
        std::string logPath;                  // stdout and stderr go here; empty: /dev/null
    };

    ~TLTestProcess();
    TLTestProcess(const TLTestProcess&) = delete;
    TLTestProcess& operator=(const TLTestProcess&) = delete;

    // nullptr (with a reason in *error) when the program cannot be started.
    static std::unique_ptr<TLTestProcess> start(const std::vector<std::string>& argv, const Options& options,
                                                std::string* error = nullptr);

    // Runs a program to its end, collecting stdout and stderr. Absent when it could not be
    // started or did not finish in time (it is killed then); else its exit status.
    static std::optional<int> run(const std::vector<std::string>& argv,
                                  const std::vector<std::string>& environment, std::string* output,
                                  std::chrono::milliseconds timeout);

    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the process to exit on its own. Absent when it is still running at the deadline.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    // SIGTERM, then SIGKILL after the grace period; always reaps. Returns the wait status.
    int terminate(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

private:
    explicit TLTestProcess(pid_t pid) : pid_(pid) {}
    bool reap(bool block);

    pid_t pid_;
    bool reaped_ = false;
    int status_ = 0;
};
