// tqbs error: the catalogue text of result codes, and a search of the texts.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "command.h"
#include "kvbasics.h"

namespace tqbs {

namespace {

// A decimal code with an optional sign, nothing else, in the 32-bit range.
bool ParseCode(const char* arg, int* code) {
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(arg, &end, 10);
    if (end == arg || *end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX ||
        std::isspace(static_cast<unsigned char>(arg[0]))) {
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

int Search(int count, char** words) {
    if (count == 0) {
        std::fputs("tqbs error: --search needs at least one word\n", stderr);
        return kUsage;
    }
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
    if (argc < 2) {
        std::fputs("tqbs error: give one or more codes, or --search WORDS\n", stderr);
        return kUsage;
    }
    if (std::strcmp(argv[1], "--search") == 0) return Search(argc - 2, argv + 2);

    int count = argc - 1;
    std::vector<int> codes(static_cast<size_t>(count));
    // Check every argument first, so that a typo prints nothing half-way.
    for (int i = 0; i < count; ++i) {
        if (!ParseCode(argv[i + 1], &codes[static_cast<size_t>(i)])) {
            std::fprintf(stderr, "tqbs error: '%s' is not a decimal result code\n", argv[i + 1]);
            return kUsage;
        }
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
