#include "support/child_process.h"

#include <grp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

// Present in a coverage build only. A child ends with _exit, which skips the
// writing of the counts it gathered, so it writes them itself.
extern "C" void __gcov_dump() __attribute__((weak));

namespace tq::test {

double TimeScale() {
    if (const char* scale = std::getenv("TQ_TEST_TIME_SCALE")) {
        const double factor = std::strtod(scale, nullptr);
        if (factor > 0) return factor;
    }
    return std::getenv("TQ_UNDER_VALGRIND") != nullptr ? 20 : 1;
}

namespace {

std::chrono::milliseconds Scaled(int seconds) {
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000 * TimeScale()));
}

}  // namespace

pid_t StartChild(const std::function<int()>& body) {
    const pid_t parent = getpid();
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        // Dies with the test: one that fails before it ends its children must
        // not leave them running, nor holding its output open for CTest.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(99);
        int rc = 99;
        try {
            rc = body();
        } catch (...) {
        }
        if (__gcov_dump != nullptr) __gcov_dump();
        _exit(rc);  // no test framework teardown in the child
    }
    return child;
}

int WaitChild(pid_t child, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + Scaled(seconds);
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(child, &status, WNOHANG)) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            std::fprintf(stderr, "child %d still ran after %.0f s: killed\n",
                         static_cast<int>(child), seconds * TimeScale());
            return kChildTimedOut;
        }
        usleep(1000);
    }
    if (waited != child) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

int RunInChild(const std::function<int()>& body, int seconds) {
    return WaitChild(StartChild(body), seconds);
}

bool BecomeAccount(uid_t uid) {
    // A change of credentials clears the parent-death signal: set it again.
    return setgroups(0, nullptr) == 0 && setresgid(uid, uid, uid) == 0 &&
           setresuid(uid, uid, uid) == 0 && prctl(PR_SET_PDEATHSIG, SIGKILL) == 0;
}

Pipe::Pipe() {
    if (pipe(fds_) != 0) throw std::runtime_error("pipe failed");
}

Pipe::~Pipe() {
    close(fds_[0]);
    Release();
}

void Pipe::Say(char c) {
    (void)!write(fds_[1], &c, 1);
}

char Pipe::Hear(int seconds) {
    pollfd wanted{fds_[0], POLLIN, 0};
    char c = 0;
    const int ms = static_cast<int>(Scaled(seconds).count());
    return poll(&wanted, 1, ms) == 1 && read(fds_[0], &c, 1) == 1 ? c : '\0';
}

void Pipe::Release() {
    if (fds_[1] >= 0) close(fds_[1]);
    fds_[1] = -1;
}

}  // namespace tq::test
