// Runs a piece of a test in a forked child process.
#ifndef TQ_TESTS_SUPPORT_CHILD_PROCESS_H
#define TQ_TESTS_SUPPORT_CHILD_PROCESS_H

#include <sys/types.h>

#include <functional>

namespace tq::test {

// Forks; the child runs body and exits with its result. Returns the child's pid.
pid_t StartChild(const std::function<int()>& body);
// Waits for the child; its exit code, or 128 + the signal that ended it.
int WaitChild(pid_t child);
// StartChild and WaitChild in one.
int RunInChild(const std::function<int()>& body);
// Makes this process (a child) run as the account uid, group uid, no
// supplementary groups; numeric ids need no passwd entry. false when it may
// not (the test is not root).
bool BecomeAccount(uid_t uid);

// A one-way signal between processes: the child says a byte, the parent waits.
// Hear gives '\0' at the end or after two minutes, so that a child that dies
// cannot hang a test. As a barrier: children Wait, the test Releases them all.
class Pipe {
public:
    Pipe();
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void Say(char c = '.');
    char Hear();
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
