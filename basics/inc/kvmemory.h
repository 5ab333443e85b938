/// \file
/// Memory, process-wide hooks and assertions of the basics library.
#ifndef KVBASICS_KVMEMORY_H
#define KVBASICS_KVMEMORY_H

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "kvexport.h"

/// The code of the fatal exception that a failed assertion raises.
inline constexpr uint32_t KV_FATAL_EXCEPTION_CODE = 0xE0000001u;

/// Thrown by a failed assertion (and so by the default out-of-memory handler).
/// An outer catch is where an application decides to end or to go on.
class KVBASICS_API KvFatalException : public std::exception {
public:
    /// An exception with code and text; what() returns the text.
    KvFatalException(uint32_t code, std::string text);
    ~KvFatalException() override;
    /// The text given at construction (the assertion's message).
    const char* what() const noexcept override;
    /// The code given at construction, KV_FATAL_EXCEPTION_CODE for assertions.
    uint32_t code() const noexcept { return code_; }

private:
    uint32_t code_;
    std::string text_;
};

// ---------------------------------------------------------------------------
// Assertions and process-wide hooks
// ---------------------------------------------------------------------------

class smp_io;  ///< the product's console, defined outside this library

/// Configuration of the product, defined by its other modules; the library reads
/// settings through these three lookups. sections is a null-terminated path of
/// section names. Each returns 0 when the value was found and non-zero when not;
/// a value that is not found leaves the target unchanged.
class KVBASICS_API KvConfig {
public:
    virtual ~KvConfig();
    /// Looks up a 32-bit number.
    virtual int GetLong(const char* name, int32_t* value, const char** sections) = 0;
    /// Looks up a 16-bit number.
    virtual int GetShort(const char* name, int16_t* value, const char** sections) = 0;
    /// Looks up a string. *buffer designates the caller's buffer of KV_CONFIG_STRING_SIZE bytes.
    virtual int GetString(const char* name, char** buffer, const char** sections) = 0;
};

/// Size of the buffer that KvConfig::GetString fills, terminator included.
inline constexpr size_t KV_CONFIG_STRING_SIZE = 1024;

/// Reports a failed assertion: calls the fatal-error callback, writes
/// "Assertion '%s' failed.\nFile '%s' \nLine %d \n" (cut to 1023 characters)
/// to the system log and to standard error, then throws KvFatalException with
/// code 0xE0000001.
KVBASICS_API int KIVO_assert(char const* expression, char const* file, int line);

/// Called by KIVO_assert before it logs and throws, with the failed
/// expression and its place.
using KvFatalErrorCallback = void (*)(char const* expression, char const* file, int line);
/// Stores callback (null removes it); returns the previous one.
KVBASICS_API KvFatalErrorCallback SetFatalErrorCallback(KvFatalErrorCallback callback);
/// The stored fatal-error callback, or null.
KVBASICS_API KvFatalErrorCallback GetFatalErrorCallback();

/// Sets the default configuration and returns it; (KvConfig*)-1 only queries.
KVBASICS_API KvConfig* DefaultConfig(KvConfig* config);
/// The argument of DefaultConfig that only queries the current configuration.
inline KvConfig* const KV_QUERY_CONFIG = reinterpret_cast<KvConfig*>(~uintptr_t{0});

/// Returns the console set before the call; a non-null console replaces it.
KVBASICS_API smp_io* Console(smp_io* console);
/// The console last set, or null.
KVBASICS_API smp_io* GetConsole();

/// A KvConfig over a plain key file:
///
///   ; comment            # comment too
///   [debug]              section path "debug"
///   memory = 1
///   [debug/memory]       section path "debug", "memory"
///   library = libmemcheck.so
///
/// Section and value names compare without regard to case; values are taken
/// as written, without the blanks around them. Numbers are decimal or 0x hex;
/// a number outside the target's range counts as not found.
class KVBASICS_API KvKeyFileConfig : public KvConfig {
public:
    KvKeyFileConfig();
    ~KvKeyFileConfig() override;
    KvKeyFileConfig(const KvKeyFileConfig&) = delete;
    KvKeyFileConfig& operator=(const KvKeyFileConfig&) = delete;

    /// Replaces the contents with those of a file (0, or the errno of the
    /// failure) or of a text (0, or the 1-based number of the first bad line).
    int LoadFile(const char* path);
    /// See LoadFile.
    int LoadText(const char* text);
    /// Sets one value; sections is a path as in the lookups.
    void Set(const char** sections, const char* name, const char* value);

    int GetLong(const char* name, int32_t* value, const char** sections) override;
    int GetShort(const char* name, int16_t* value, const char** sections) override;
    int GetString(const char* name, char** buffer, const char** sections) override;

private:
    struct Entries;
    KVBASICS_LOCAL const char* Find(const char** sections, const char* name) const;
    Entries* entries_;
};

// ---------------------------------------------------------------------------
// Memory
// ---------------------------------------------------------------------------

/// Called with the requested byte count after a heap request failed. The
/// library calls it once and never retries, whatever it returns.
using KvMemoryHandler = int (*)(unsigned long long size);

/// Resizes the block *block designates. size 0 frees it and nulls *block.
/// Returns 0, or -1 after calling the memory handler once with size; on -1 a
/// first allocation leaves *block null and a resize leaves the old block intact.
KVBASICS_C int mmResize(void** block, size_t size);
/// The same contract; reaches the handler through KvCallMemoryHandler.
KVBASICS_C int mmFarResize(void** block, size_t size);

/// Installs handler (not null) and returns the one it replaces.
KVBASICS_API KvMemoryHandler mmKvSetHandler(KvMemoryHandler handler);
/// Calls the current memory handler with size and returns its result.
KVBASICS_API int KvCallMemoryHandler(unsigned long long size);

/// Installs a new-handler for operator new. handler, when not null, is an
/// `int (*)(size_t)` like the memory handler: operator new calls it with 0 (it
/// names no size) when it runs short; non-zero asks for another attempt, 0
/// gives up, and operator new throws std::bad_alloc. Null installs the
/// library's handler, which asks the memory handler the same way. Returns what
/// it replaces in the shape it takes back: a handler given earlier, null for
/// the library's own, or the runtime's new-handler (a `void (*)()`, to be given
/// back to std::set_new_handler, not to this function).
KVBASICS_API void* KvSetOurNewHandler(void* handler);

/// The memory-check hook: forwards argument to the function named by the
/// configuration ("memory", "library" and "function" under "debug"), probed
/// once per process; -1 when there is none.
KVBASICS_C int KivoCheckMemory(void* argument);

#endif  // KVBASICS_KVMEMORY_H
