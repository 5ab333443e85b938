// tqbs error: the catalogue text of result codes, and a search of the texts.
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "command.h"
#include "kvbasics.h"

namespace tqbs {

namespace {

// A decimal code with an optional sign, nothing else, in the 32-bit range; a
// message and false otherwise.
bool ParseCode(const char* arg, int* code) {
    const char* digits = arg + (arg[0] == '-' || arg[0] == '+' ? 1 : 0);
    if (*digits == '\0' || std::strspn(digits, "0123456789") != std::strlen(digits)) {
        std::fprintf(stderr, "tqbs error: '%s' is not a decimal result code\n", arg);
        return false;
    }
    errno = 0;
    const long long value = std::strtoll(arg, nullptr, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        std::fprintf(stderr,
                     "tqbs error: '%s' is out of range: result codes are 32-bit, from %" PRId32
                     " to %" PRId32 "\n",
                     arg, INT32_MIN, INT32_MAX);
        return false;
    }
    *code = static_cast<int>(value);
    return true;
}

// Case-insensitive: does text contain word?
bool Contains(const char* text, const char* word) {
    size_t length = std::strlen(word);
    for (const char* start = text; *start != '\0'; ++start) {
        size_t i = 0;
        while (i < length && start[i] != '\0' &&
               std::tolower(static_cast<unsigned char>(start[i])) ==
                   std::tolower(static_cast<unsigned char>(word[i]))) {
            ++i;
        }
        if (i == length) return true;
    }
    return length == 0;
}

bool ContainsAll(const char* text, int count, char** words) {
    for (int i = 0; i < count; ++i) {
        if (!Contains(text, words[i])) return false;
    }
    return true;
}

void PrintEntry(int code, const char* text) {
    std::printf("%6d  %s\n", code, text);
}

// The entries whose text holds every word; all of them without words.
int Search(int count, char** words) {
    size_t size = 0;
    const KvErrorEntry* entries = KvErrorCatalogue(&size);
    int found = 0;
    for (size_t i = 0; i < size; ++i) {
        if (!ContainsAll(entries[i].text, count, words)) continue;
        PrintEntry(entries[i].code, entries[i].text);
        ++found;
    }
    // The query-language codes share one text: show it once, with its ranges.
    const char* queryText = KvErrorCatalogueText(-3001);
    if (queryText != nullptr && ContainsAll(queryText, count, words)) {
        for (int code = -3100; code <= 3004; ++code) {
            if (!KvIsQueryLanguageCode(code) || KvIsQueryLanguageCode(code - 1)) continue;
            int last = code;
            while (KvIsQueryLanguageCode(last + 1))
                ++last;
            std::printf("%6d..%d  %s\n", code, last, queryText);
            ++found;
        }
    }
    return found > 0 ? kSuccess : kFailure;
}

}  // namespace

int RunError(int argc, char** argv) {
    // Options up to "--"; the rest are codes, or words with --search.
    const char* mode = nullptr;  // "--search" or "--all"
    std::vector<char*> operands;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        if (options && std::strcmp(argv[i], "--") == 0) {
            options = false;
        } else if (options && std::strncmp(argv[i], "--", 2) == 0) {
            if (std::strcmp(argv[i], "--search") != 0 && std::strcmp(argv[i], "--all") != 0) {
                std::fprintf(stderr, "tqbs error: unknown option '%s'\n", argv[i]);
                return kUsage;
            }
            if (mode != nullptr) {
                std::fputs("tqbs error: give --search or --all, once\n", stderr);
                return kUsage;
            }
            mode = argv[i];
        } else {
            operands.push_back(argv[i]);
        }
    }
    const int count = static_cast<int>(operands.size());
    if (mode != nullptr && std::strcmp(mode, "--all") == 0) {
        if (count == 0) return Search(0, nullptr);
        std::fprintf(stderr, "tqbs error: --all takes no arguments, not '%s'\n", operands[0]);
        return kUsage;
    }
    if (count == 0) {
        std::fputs(mode != nullptr
                       ? "tqbs error: --search needs at least one word\n"
                       : "tqbs error: give one or more codes, --search WORDS or --all\n",
                   stderr);
        return kUsage;
    }
    if (mode != nullptr) return Search(count, operands.data());

    std::vector<int> codes(operands.size());
    // Check every argument first, so that a typo prints nothing half-way.
    for (size_t i = 0; i < operands.size(); ++i) {
        if (!ParseCode(operands[i], &codes[i])) return kUsage;
    }
    int result = kSuccess;
    for (int i = 0; i < count; ++i) {
        int code = codes[static_cast<size_t>(i)];
        const char* text = code == 0 ? KvError(nullptr, nullptr, 0, 1) : KvErrorCatalogueText(code);
        if (text != nullptr) {
            PrintEntry(code, text);
            continue;
        }
        std::printf("%6d  (no entry in the catalogue; shown as \"%s\")\n", code,
                    KvError(nullptr, nullptr, code, 1));
        result = kFailure;
    }
    return result;
}

}  // namespace tqbs
