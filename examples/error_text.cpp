// Turning a result code into text. A module that returns codes of its own
// registers a text callback for its range; KvError then gives the module's
// text for those codes and the library's catalogue text for the others.
#include <cstdio>
#include <cstring>

#include "kvbasics.h"

namespace {

// The codes of this module: strictly between -20000 and -19000.
constexpr int kLower = -20000;
constexpr int kUpper = -19000;
constexpr int kNoSuchAccount = -19001;
constexpr int kAccountLocked = -19002;

char noSuchAccount[] = "no such account";
char accountLocked[] = "the account is locked";

// Returns the module's text, or null for a code it has no text for (KvError
// then falls back to "unknown error"). The strings stay the module's.
char* AccountTexts(int code) {
    switch (code) {
        case kNoSuchAccount:
            return noSuchAccount;
        case kAccountLocked:
            return accountLocked;
        default:
            return nullptr;
    }
}

}  // namespace

int main() {
    KvModuleErrorCallbackList& slot = KvModuleErrorCallbackList::GetInstance();
    if (slot.SetModuleErrorCallback(AccountTexts, kUpper, kLower) != 0) {
        std::fprintf(stderr, "error_text: the text slot is taken\n");
        return 1;
    }

    // A caller's buffer must hold the prefix, " : ", the code, " -> " and the
    // longest text.
    const char prefix[] = "accounts";
    char buffer[sizeof prefix + 3 + 12 + 4 + KV_ERROR_MAX_TEXT + 1];
    for (int code : {0, kNoSuchAccount, kAccountLocked, -19500, -2098, -2030})
        std::printf("%s\n", KvError(buffer, prefix, code, 0));

    // The text alone, without prefix and code.
    const char* text = KvError(nullptr, nullptr, kAccountLocked, 1);
    std::printf("text only: %s\n", text);
    const bool ok = std::strcmp(text, accountLocked) == 0;

    // Unregister (null callback, same range) before the module goes away.
    if (slot.SetModuleErrorCallback(nullptr, kUpper, kLower) != 0) return 1;
    std::printf("after unregistering: %s\n", KvError(buffer, prefix, kNoSuchAccount, 0));
    return ok ? 0 : 1;
}
