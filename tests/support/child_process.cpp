#include "support/child_process.h"

#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace tq::test {

pid_t StartChild(const std::function<int()>& body) {
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        int rc = 99;
        try {
            rc = body();
        } catch (...) {
        }
        _exit(rc);  // no test framework teardown in the child
    }
    return child;
}

int WaitChild(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

int RunInChild(const std::function<int()>& body) {
    return WaitChild(StartChild(body));
}

bool BecomeAccount(uid_t uid) {
    return setgroups(0, nullptr) == 0 && setresgid(uid, uid, uid) == 0 &&
           setresuid(uid, uid, uid) == 0;
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

char Pipe::Hear() {
    pollfd wanted{fds_[0], POLLIN, 0};
    char c = 0;
    return poll(&wanted, 1, 120 * 1000) == 1 && read(fds_[0], &c, 1) == 1 ? c : '\0';
}

void Pipe::Release() {
    if (fds_[1] >= 0) close(fds_[1]);
    fds_[1] = -1;
}

}  // namespace tq::test
