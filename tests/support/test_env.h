// Small helpers for tests: a temporary directory that removes itself and an
// environment variable set for the lifetime of a scope.
#ifndef TQ_TESTS_SUPPORT_TEST_ENV_H
#define TQ_TESTS_SUPPORT_TEST_ENV_H

#include <optional>
#include <string>

namespace tq::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

class ScopedEnv {
public:
    // value null unsets the variable for the scope.
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A registry root, event log and shared-memory namespace of the test's own;
// the test's shared objects are removed at the end.
class PerfSandbox {
public:
    explicit PerfSandbox(const std::string& prefix);
    ~PerfSandbox();
    PerfSandbox(const PerfSandbox&) = delete;
    PerfSandbox& operator=(const PerfSandbox&) = delete;
    TempDir dir;
    const std::string shm;  // the namespace: every shared object's name starts with it

private:
    ScopedEnv registry_, events_, shm_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& contents);

}  // namespace tq::test

#endif  // TQ_TESTS_SUPPORT_TEST_ENV_H
