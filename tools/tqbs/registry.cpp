// tqbs registry: read, write and delete string values below the product key.
#include <cstdio>
#include <cstring>
#include <vector>

#include "command.h"
#include "kvbasics.h"

namespace tqbs {

namespace {

// argv[first..last) and a terminating null: the path of the library's
// registry functions.
std::vector<const char*> PathOf(char** argv, int first, int last) {
    std::vector<const char*> path(argv + first, argv + last);
    path.push_back(nullptr);
    return path;
}

// "KEY\...\NAME" for messages.
void PrintPath(FILE* out, char** argv, int first, int last) {
    std::fputs(KV_PRODUCT_REGISTRY_KEY, out);
    for (int i = first; i < last; ++i)
        std::fprintf(out, "\\%s", argv[i]);
}

int Failed(const char* what, int result, char** argv, int first, int last) {
    if (result == KV_ERR_INVALID_PARAMETER) {
        std::fputs("tqbs registry: the key path is longer than 259 characters\n", stderr);
        return kUsage;
    }
    std::fprintf(stderr, "tqbs registry: cannot %s ", what);
    PrintPath(stderr, argv, first, last);
    std::fputs("\n", stderr);
    return kFailure;
}

int Get(int argc, char** argv) {
    std::vector<const char*> path = PathOf(argv, 2, argc);
    std::vector<char> buffer(1024);
    for (;;) {
        int size = static_cast<int>(buffer.size());
        const int result = KvGetRegistryEntry(path.data(), buffer.data(), size);
        if (result == 0) {
            std::fwrite(buffer.data(), 1, static_cast<size_t>(size), stdout);
            std::fputs("\n", stdout);
            return kSuccess;
        }
        // Too small a buffer reports the value's size: read again with room for it.
        if (result != -1 || size < static_cast<int>(buffer.size())) {
            return Failed("read", result, argv, 2, argc);
        }
        buffer.resize(static_cast<size_t>(size) + 1);
    }
}

int Set(int argc, char** argv) {
    std::vector<const char*> path = PathOf(argv, 2, argc - 1);
    int size = static_cast<int>(std::strlen(argv[argc - 1])) + 1;
    const int result = KvSetRegistryEntry(path.data(), argv[argc - 1], size);
    return result == 0 ? kSuccess : Failed("write", result, argv, 2, argc - 1);
}

int Delete(int argc, char** argv) {
    std::vector<const char*> path = PathOf(argv, 2, argc);
    const int result = KvDeleteRegistryEntry(path.data());
    return result == 0 ? kSuccess : Failed("delete", result, argv, 2, argc);
}

}  // namespace

int RunRegistry(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("tqbs registry: give get, set or delete and a value's path\n", stderr);
        return kUsage;
    }
    const char* action = argv[1];
    const bool isSet = std::strcmp(action, "set") == 0;
    if (!isSet && std::strcmp(action, "get") != 0 && std::strcmp(action, "delete") != 0) {
        std::fprintf(stderr, "tqbs registry: unknown action '%s'\n", action);
        return kUsage;
    }
    if (argc < (isSet ? 4 : 3)) {
        std::fprintf(stderr, "tqbs registry %s: give the value's name%s\n", action,
                     isSet ? " and its text" : "");
        return kUsage;
    }
    if (isSet) return Set(argc, argv);
    return std::strcmp(action, "get") == 0 ? Get(argc, argv) : Delete(argc, argv);
}

}  // namespace tqbs
