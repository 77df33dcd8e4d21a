#include "TLTestProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds timeLeft(Clock::time_point deadline) {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::set<std::string> replaced;
    for (const std::string& x : extra) {
        replaced.insert(nameOf(x));
    }
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        if (!replaced.contains(nameOf(*e))) {
            env.emplace_back(*e);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

pid_t failed(std::string* error, const std::string& message) {
    if (error) {
        *error = message;
    }
    return -1;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings) {
        p.push_back(s.data());
    }
    p.push_back(nullptr);
    return p;
}

// Everything is prepared before fork: the child only calls async-signal-safe functions.
pid_t spawn(const std::vector<std::string>& argvIn, const std::vector<std::string>& envIn, int fd3, int outFd,
            std::string* error) {
    if (argvIn.empty()) {
        return failed(error, "no program given");
    }
    std::vector<std::string> args = argvIn, env = mergedEnvironment(envIn);
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(env);
    int execPipe[2];
    if (pipe2(execPipe, O_CLOEXEC) != 0) {
        return failed(error, std::string("pipe: ") + std::strerror(errno));
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(127);
        }
        setpgid(0, 0);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(outFd >= 0 ? outFd : devnull, 1);
        dup2(outFd >= 0 ? outFd : devnull, 2);
        if (fd3 >= 0) {
            dup2(fd3, 3); // dup2 clears close-on-exec on the copy
            if (fd3 == 3) {
                fcntl(3, F_SETFD, 0);
            }
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvpe(argv[0], argv.data(), envp.data());
        int err = errno;
        ssize_t ignored = write(execPipe[1], &err, sizeof err);
        (void)ignored;
        _exit(127);
    }
    close(execPipe[1]);
    if (pid < 0) {
        close(execPipe[0]);
        return failed(error, std::string("fork: ") + std::strerror(errno));
    }
    int childErr = 0;
    ssize_t n;
    do {
        n = read(execPipe[0], &childErr, sizeof childErr);
    } while (n < 0 && errno == EINTR);
    close(execPipe[0]);
    if (n == sizeof childErr) {
        waitpid(pid, nullptr, 0);
        return failed(error, argvIn[0] + ": " + std::strerror(childErr));
    }
    return pid;
}

} // namespace

TLTestProcess::~TLTestProcess() {
    terminate();
}

std::unique_ptr<TLTestProcess> TLTestProcess::start(const std::vector<std::string>& argv,
                                                    const Options& options, std::string* error) {
    const int out = options.logPath.empty()
                        ? -1
                        : open(options.logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = spawn(argv, options.environment, options.inheritAsFd3, out, error);
    if (out >= 0) {
        close(out);
    }
    return pid < 0 ? nullptr : std::unique_ptr<TLTestProcess>(new TLTestProcess(pid));
}

std::optional<int> TLTestProcess::run(const std::vector<std::string>& argv,
                                      const std::vector<std::string>& environment, std::string* output,
                                      std::chrono::milliseconds timeout) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    pid_t pid = spawn(argv, environment, -1, fds[1], nullptr);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return std::nullopt;
    }
    TLTestProcess process(pid);
    const auto deadline = Clock::now() + timeout;
    char buffer[4096];
    for (pollfd p{fds[0], POLLIN, 0}; timeLeft(deadline).count() > 0;) {
        if (poll(&p, 1, int(timeLeft(deadline).count())) <= 0) {
            continue;
        }
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0 && output) {
            output->append(buffer, size_t(n));
        } else if (n == 0 || (n < 0 && errno != EINTR)) {
            break;
        }
    }
    close(fds[0]);
    const std::optional<int> status = process.wait(timeLeft(deadline));
    if (!status) {
        process.terminate(std::chrono::milliseconds(0));
        return std::nullopt;
    }
    return WIFEXITED(*status) ? std::optional<int>(WEXITSTATUS(*status)) : std::nullopt;
}

bool TLTestProcess::reap(bool block) {
    if (reaped_) {
        return true;
    }
    pid_t r;
    do {
        r = waitpid(pid_, &status_, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    return reaped_ = r == pid_ || (r < 0 && errno == ECHILD);
}

bool TLTestProcess::running() {
    return !reap(false);
}

std::optional<int> TLTestProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!reap(false)) {
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return status_;
}

int TLTestProcess::terminate(std::chrono::milliseconds grace) {
    if (reaped_) {
        return status_;
    }
    kill(pid_, SIGTERM);
    if (!wait(grace)) {
        kill(pid_, SIGKILL);
        reap(true);
    }
    return status_;
}
