#include "support/test_env.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

namespace tq::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tqtest-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    // Give back write permission first, in case a test made parts read-only.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    if (old_) {
        setenv(name_.c_str(), old_->c_str(), 1);
    } else {
        unsetenv(name_.c_str());
    }
}

PerfSandbox::PerfSandbox(const std::string& prefix)
    : shm(prefix + std::to_string(getpid()) + "_" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name() + "."),
      registry_("TQ_REGISTRY_ROOT", dir.File("registry").c_str()),
      events_("TQ_EVENT_LOG", dir.File("events").c_str()),
      shm_("TQ_SHM_NAMESPACE", shm.c_str()) {}

PerfSandbox::~PerfSandbox() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        if (entry.path().filename().string().rfind(shm, 0) == 0)
            std::filesystem::remove_all(entry.path(), ec);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

}  // namespace tq::test
