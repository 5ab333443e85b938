// Runs a piece of a test in a forked child process.
#ifndef TQ_TESTS_SUPPORT_CHILD_PROCESS_H
#define TQ_TESTS_SUPPORT_CHILD_PROCESS_H

#include <sys/types.h>

#include <functional>

namespace tq::test {

// Every wait below ends at a deadline of seconds, so that a faulty build fails
// a test instead of hanging the run. Deadlines are multiplied by this factor:
// TQ_TEST_TIME_SCALE when set, else 20 under valgrind (TQ_UNDER_VALGRIND, set
// by scripts/valgrind), else 1.
double TimeScale();

// What WaitChild gives for a child still running at its deadline, which it then
// kills with SIGKILL. No exit code or signal looks like it, so every check of
// a child's result fails on it.
constexpr int kChildTimedOut = -2;

// Forks; the child runs body and exits with its result, or is killed when the
// test process ends first. Returns the child's pid.
pid_t StartChild(const std::function<int()>& body);
// Waits up to seconds (scaled) for the child: its exit code, or 128 + the
// signal that ended it, or kChildTimedOut; -1 when it is no child of ours.
int WaitChild(pid_t child, int seconds = 30);
// StartChild and WaitChild in one.
int RunInChild(const std::function<int()>& body, int seconds = 30);
// Makes this process (a child) run as the account uid, group uid, no
// supplementary groups; numeric ids need no passwd entry. false when it may
// not (the test is not root).
bool BecomeAccount(uid_t uid);

// A one-way signal between processes: the child says a byte, the parent waits.
// Hear gives '\0' at the end or after seconds (scaled), so that a child that
// dies cannot hang a test. As a barrier: children Wait, the test Releases them.
class Pipe {
public:
    Pipe();
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void Say(char c = '.');
    char Hear(int seconds = 10);
    void Release();  // closes this process's write end
    void Wait() {
        Release();
        Hear();
    }

private:
    int fds_[2];
};

}  // namespace tq::test

#endif  // TQ_TESTS_SUPPORT_CHILD_PROCESS_H
