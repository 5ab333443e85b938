#include "replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tqbs {

bool ReplaceFile(const std::string& path, const std::string& contents, std::string* error) {
    const size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // A name that starts with a dot: collectors that read *.prom skip it.
    std::string pattern = directory + (slash == std::string::npos ? "/." : ".") + base + ".XXXXXX";
    std::vector<char> temporary(pattern.begin(), pattern.end());
    temporary.push_back('\0');
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot write in " + directory + ": " + std::strerror(errno);
        return false;
    }
    bool ok = fchmod(fd, 0644) == 0;  // collectors often run as another account
    for (size_t done = 0; ok && done < contents.size();) {
        const ssize_t wrote = write(fd, contents.data() + done, contents.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        ok = wrote > 0;
        if (ok) done += static_cast<size_t>(wrote);
    }
    int saved = errno;
    if (close(fd) != 0 && ok) ok = false, saved = errno;
    if (ok && rename(temporary.data(), path.c_str()) != 0) ok = false, saved = errno;
    if (!ok) {
        unlink(temporary.data());
        *error = "cannot write " + path + ": " + std::strerror(saved);
    }
    return ok;
}

}  // namespace tqbs
