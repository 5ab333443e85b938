// Result-code texts: KvError, KvLoginError and the module callback slot.
#include "kverror.h"

#include <cstdarg>
#include <cstring>

#include "util/bounded_format.h"

namespace {

constexpr int kInvalidParameter = -2002;  // "One of the parameters ... is not valid."

// The result buffers used when the caller passes none.
constexpr size_t kStaticBufferSize = 256;
char errorBuffer[kStaticBufferSize];
char loginBuffer[kStaticBufferSize];

// What a caller's buffer must hold for a result with this prefix: the prefix,
// the separators, the longest decimal code and the longest catalogue text.
// Results are cut to that size, so a long callback text cannot run past a
// buffer that meets the contract.
size_t CallerBufferSize(const char* prefix) {
    constexpr size_t kText = KV_ERROR_MAX_TEXT + 1;
    if (prefix == nullptr) return kText;
    return std::strlen(prefix) + std::strlen(" : ") + std::strlen("-2147483648") +
           std::strlen(" -> ") + kText;
}

// Formats into buf, or into staticBuffer when buf is null, and returns the
// buffer written. The static buffer is filled through a local copy, since the
// prefix or a callback's text may well be the previous result held in it.
const char* Emit(char* buf, char* staticBuffer, const char* prefix, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

const char* Emit(char* buf, char* staticBuffer, const char* prefix, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (buf != nullptr) {
        tq::BoundedVFormat(buf, CallerBufferSize(prefix), format, args);
    } else {
        char local[kStaticBufferSize];
        tq::BoundedFormatResult written = tq::BoundedVFormat(local, sizeof local, format, args);
        std::memcpy(staticBuffer, local, written.length + 1);
    }
    va_end(args);
    return buf != nullptr ? buf : staticBuffer;
}

// "PREFIX : CODE -> TEXT", or TEXT alone without a prefix.
const char* WriteResult(char* buf, char* staticBuffer, const char* prefix, int code,
                        const char* text) {
    if (prefix != nullptr)
        return Emit(buf, staticBuffer, prefix, "%s : %d -> %s", prefix, code, text);
    return Emit(buf, staticBuffer, prefix, "%s", text);
}

const char* LoginText(int code) {
    switch (code) {
        case 0:
            return "Login to Database";
        case 1:
            return "Login to Dictionary";
        case -2017:
            return "Login data inconsistent, please contact Admin";
        case -2301:
            return "Password is invalid";
        case -2302:
            return "Login name is not unique, please contact Admin";
        case -2307:
            return "Login name is invalid";
        default:
            return nullptr;
    }
}

}  // namespace

namespace {

// Texts are looked up in this order: the query-language codes (the module
// callback is not asked for these), the module callback, the catalogue.
const char* TextOf(int code) {
    if (KvIsQueryLanguageCode(code)) return KvErrorCatalogueText(code);
    const char* text = KvModuleErrorCallbackList::GetInstance().GetError(code);
    if (text == nullptr) text = KvErrorCatalogueText(code);
    if (text == nullptr) text = (code >= 1 && code <= 999) ? "count" : "unknown error";
    return text;
}

}  // namespace

const char* KvError(char* buf, const char* prefix, int code, int textOnly) {
    if (code == 0) {
        if (textOnly) return "ok";
        if (prefix != nullptr) return Emit(buf, errorBuffer, prefix, "%s : ok", prefix);
        return Emit(buf, errorBuffer, prefix, "0");
    }
    if (textOnly) return TextOf(code);
    return WriteResult(buf, errorBuffer, prefix, code, TextOf(code));
}

const char* KvLoginError(char* buf, const char* prefix, int code, int textOnly) {
    const char* text = LoginText(code);
    char formatted[48];  // "Login failed, Error was: " and a 32-bit code
    if (text == nullptr) {
        if (textOnly) {
            // The formatted text has to outlive the call: keep it in the
            // caller's buffer, or in the static one.
            return Emit(buf, loginBuffer, nullptr, "Login failed, Error was: %d", code);
        }
        tq::BoundedFormat(formatted, sizeof formatted, "Login failed, Error was: %d", code);
        text = formatted;
    }
    if (textOnly) return text;
    return WriteResult(buf, loginBuffer, prefix, code, text);
}

KvModuleErrorCallbackList& KvModuleErrorCallbackList::GetInstance() {
    static KvModuleErrorCallbackList instance;
    return instance;
}

int KvModuleErrorCallbackList::SetModuleErrorCallback(Callback newCallback, int newUpper,
                                                      int newLower) {
    if (newUpper < newLower) return kInvalidParameter;
    if (newCallback == nullptr) {
        // Removal of exactly the registered range; the free slot's range is
        // 0 to 0, so removing that range from it succeeds and changes nothing.
        if (upper != newUpper || lower != newLower) return kInvalidParameter;
        callback = nullptr;
        upper = 0;
        lower = 0;
        return 0;
    }
    // One slot: a second registration is refused whether or not its range
    // meets the registered one.
    if (callback != nullptr) return kInvalidParameter;
    callback = newCallback;
    upper = newUpper;
    lower = newLower;
    return 0;
}

char* KvModuleErrorCallbackList::GetError(int code) {
    if (callback == nullptr || !(lower < code && code < upper)) return nullptr;
    return callback(code);
}
