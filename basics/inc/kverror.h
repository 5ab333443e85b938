/// \file
/// Error texts of the basics library: the catalogue of the product's result
/// codes, the functions that turn a result code into text, and the one slot in
/// which a module registers a text callback for its own code range.
#ifndef KVBASICS_KVERROR_H
#define KVBASICS_KVERROR_H

#include <cstddef>
#include <cstdint>

#include "kvexport.h"

// ---------------------------------------------------------------------------
// Catalogue
// ---------------------------------------------------------------------------

/// One entry of the catalogue: a result code and its constant text.
struct KvErrorEntry {
    int32_t code;      ///< the result code
    const char* text;  ///< its text, a constant of the library
};

/// Length of the longest catalogue text. A caller's buffer for KvError must
/// hold the prefix, " : ", the decimal code, " -> " and this many characters,
/// plus the terminator.
inline constexpr int KV_ERROR_MAX_TEXT = 189;

/// The query-language codes (-3099 to -3001 and 3001 to 3003) are not entries
/// of the catalogue: they all share one text that points to the query
/// interface's own messages.
constexpr bool KvIsQueryLanguageCode(int code) {
    return (code >= -3099 && code <= -3001) || (code >= 3001 && code <= 3003);
}

/// The catalogue, sorted by code (strictly ascending); *count receives the
/// number of entries. The array and its texts are constants of the library.
KVBASICS_API const KvErrorEntry* KvErrorCatalogue(size_t* count);

/// The constant text of code: its catalogue entry, the shared text of the
/// query-language codes, or null when the catalogue has no text for code.
/// Neither the module callback nor the "count"/"unknown error" fallback is
/// consulted.
KVBASICS_API const char* KvErrorCatalogueText(int code);

// ---------------------------------------------------------------------------
// Result-code texts
// ---------------------------------------------------------------------------

/// The text of a result code. With textOnly nonzero the text itself is returned
/// (a catalogue constant, the module callback's string or "ok"); buf and prefix
/// are not used. Otherwise the result is written into buf, or into a static
/// 256-character buffer when buf is null (valid until the next such call, cut
/// when it does not fit), and that buffer is returned:
///   code != 0, prefix given: "PREFIX : CODE -> TEXT"; no prefix: "TEXT";
///   code 0, prefix given: "PREFIX : ok"; no prefix: "0".
/// Texts are looked up in this order: the query-language codes, the module
/// callback, the catalogue; a code without a text gives "count" for 1 to 999
/// and "unknown error" otherwise. A caller's buffer is not length-checked: it
/// must hold the prefix, the separators, the code and KV_ERROR_MAX_TEXT
/// characters (a longer callback text is cut to that length there).
KVBASICS_API const char* KvError(char* buf, const char* prefix, int code, int textOnly);

/// The same for the codes of the login dialogue, which have texts of their own
/// ("Login failed, Error was: CODE" for every code without one). Code 0 has no
/// special format here. With textOnly, a text that has to be formatted is
/// written into buf, or into the function's static buffer when buf is null.
KVBASICS_API const char* KvLoginError(char* buf, const char* prefix, int code, int textOnly);

// ---------------------------------------------------------------------------
// Module text callbacks
// ---------------------------------------------------------------------------

/// The process-wide slot in which one module registers a text callback for its
/// code range. A code belongs to the registration when lower < code < upper
/// (both ends excluded). No lock: register while modules are loaded.
class KVBASICS_API KvModuleErrorCallbackList {
public:
    /// A module's text for code, or null when it has none; the string stays
    /// owned by the module.
    using Callback = char* (*)(int code);

    /// The one slot of the process.
    static KvModuleErrorCallbackList& GetInstance();

    /// With a callback: registers it for the codes strictly between lower and
    /// upper. With a null callback: removes the registration of exactly that
    /// range. Returns 0, or -2002 when upper < lower, when the slot is taken
    /// (whether or not the ranges overlap) or when there is no such
    /// registration to remove; the slot is then unchanged.
    int SetModuleErrorCallback(Callback callback, int upper, int lower);

    /// The callback's text for code when the registration covers it (which may
    /// be null); null otherwise.
    char* GetError(int code);

    KvModuleErrorCallbackList(const KvModuleErrorCallbackList&) = delete;
    KvModuleErrorCallbackList& operator=(const KvModuleErrorCallbackList&) = delete;

private:
    constexpr KvModuleErrorCallbackList() = default;

    Callback callback = nullptr;  ///< null when the slot is free
    int32_t upper = 0;            ///< upper end (for negative ranges the end nearer zero)
    int32_t lower = 0;            ///< lower end
};

#endif  // KVBASICS_KVERROR_H
