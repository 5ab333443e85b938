/// \file
/// Platform services of the basics library: the library's identity and the
/// naming scheme of the product's modules.
#ifndef KVBASICS_KVPLATFORM_H
#define KVBASICS_KVPLATFORM_H

#include <cstdint>

#include "kvexport.h"

// ---------------------------------------------------------------------------
// Module names
// ---------------------------------------------------------------------------

/// Builds the file name (without extension) of one of the product's modules:
/// "TQ" + version tag + library tag [+ number] + compiler variant + build suffix.
class KVBASICS_API DllNameClass {
public:
    /// A name for the library tag (e.g. "Tbs") and an optional number
    /// (0 for none). The tag is not copied: it must outlive the object.
    explicit DllNameClass(const char* tag = nullptr, int32_t number = 0);

    /// Composes the name into the buffer and returns the buffer. With neither a
    /// number nor a tag the buffer keeps what it holds.
    char* GetDllName();
    /// The composed name, as GetDllName.
    operator char const*() { return GetDllName(); }

    /// Copies other's composed name and freezes it: tag and number are cleared,
    /// so later calls return the copied text unchanged.
    DllNameClass& operator=(DllNameClass& other);

    /// Writes "TQ" + name + compiler variant + build suffix into out, which must
    /// hold strlen(name) + 8 + strlen(second_char) characters; returns out.
    static char* GetGenericDllName(char const* name, char* out);

    /// Build-type suffix appended to every composed name ("" in a release build).
    static const char* second_char;

    /// Size of the name buffer, terminator included.
    static constexpr int kBufferSize = 260;

    const char* tag;           ///< library tag, not owned; null after operator=
    int32_t number;            ///< number appended to the tag, 0 for none
    char buffer[kBufferSize];  ///< the last composed name
};

// ---------------------------------------------------------------------------
// Identity of this library
// ---------------------------------------------------------------------------

/// Result of a failed version check: "A module has an incompatible version."
inline constexpr int KV_ERR_INCOMPATIBLE_VERSION = -5004;

/// Compares five version numbers with the library's own. The first two must
/// match (and flags must be non-zero); flag bits 2, 4 and 8 ask for the third,
/// fourth and fifth to match as well, bits 28, 29 and 30 waive those tests.
/// Returns 0 or -5004.
KVBASICS_API int CheckKvVersionNumber(unsigned number1, unsigned number2, unsigned number3,
                                      unsigned number4, unsigned number5, int flags);

/// CheckKvVersionNumber with the library's own numbers and flags | 3.
KVBASICS_C int KvCheckDll(int flags);

/// Fills every out-parameter (none may be null) with the library's identity and
/// returns its description. All strings are constants of the library.
KVBASICS_C const char* KvDescribeDll(unsigned* number1, unsigned* number2, unsigned* number3,
                                     unsigned* number4, unsigned* number5, char const** moduleName,
                                     char const** buildDateTime, char const** buildInfo,
                                     unsigned* compilerVersion, char const** compilerText,
                                     char const** extraText);

/// Fills each out-parameter that is not null. descriptionAndVersion points to a
/// module-wide buffer rebuilt on every call (valid until the next call).
KVBASICS_C void GETKVBASICSINFO(char const** compilerText, unsigned* compilerVersion,
                                char const** descriptionAndVersion, char const** buildDate,
                                char const** moduleName);

/// Exported for the product's other modules; does nothing.
KVBASICS_API void ___KvBasicsContext(int);

// ---------------------------------------------------------------------------
// Date and time
// ---------------------------------------------------------------------------

/// A calendar date.
struct bdate {
    uint16_t year;  ///< all four digits
    uint8_t month;  ///< 1 .. 12
    uint8_t day;    ///< 1 .. 31
};

/// A time of day.
struct btime {
    uint8_t hour;    ///< the clock's hour plus the hour offset (not reduced modulo 24)
    uint8_t minute;  ///< 0 .. 59
    uint8_t second;  ///< 0 .. 59
    int32_t zone;    ///< minutes east of UTC for local readings; 0 for UTC and unknown zones
};

/// Result of bksgettimezone when the system cannot tell the zone:
/// "Timezone information could not be retrieved from the operating system."
inline constexpr int KV_ERR_NO_TIMEZONE = -2171;

/// Stores the low 8 bits of hours as the process-wide hour offset, which is
/// added (with 8-bit wrap-around) to the hour of every btime filled below.
/// Returns the previous offset.
KVBASICS_API int KvOffsetHours(int hours);

/// The local date.
KVBASICS_API void bksgetdate(bdate* date);
/// The local time; zone from bksgettimezone (0 when that fails).
KVBASICS_API void bksgettime(btime* time);
/// One UTC reading for both records; zone 0.
KVBASICS_API void bksgetsystemtime(btime* time, bdate* date);
/// Minutes east of UTC (local time minus UTC, daylight saving included), or
/// -2171. Asked of the system once; the first answer holds for the process.
KVBASICS_API int bksgettimezone();
/// Local date and time with the position within the second in nanoseconds
/// (0 .. 999,999,900, in steps of 100). When the clock cannot be split, or its
/// year lies outside 0 .. 65535, the records stay as they were and nanoseconds
/// is 0 (the same holds for the other readings above).
KVBASICS_API void bksGetHiresTime(bdate& date, btime& time, int& nanoseconds);
/// The same in UTC, zone 0.
KVBASICS_API void bksGetHiresTimeUTC(bdate& date, btime& time, int& nanoseconds);

// ---------------------------------------------------------------------------
// Timers
// ---------------------------------------------------------------------------

/// A stopwatch: Start/Stop accumulate the stopped intervals; ElapsedTime
/// measures from the last Start and ignores them.
class KVBASICS_API KvTimer {
public:
    virtual ~KvTimer();
    /// Ticks per second of the timer's clock; the base class, which measures
    /// nothing (every reading 0), answers 0.
    virtual unsigned int TicksPerSecond();
    /// Starts an interval.
    virtual void Start();
    /// Ends the interval and adds it to the accumulated time.
    virtual void Stop();
    /// Clears the accumulated time.
    virtual void Reset();
    /// 1 when at least seconds have passed since the last Start (restarting
    /// the timer then if restart is non-zero), else 0.
    virtual int IsTimeOver(unsigned int seconds, int restart);
    /// The accumulated time.
    virtual double Seconds() const;
    /// The accumulated time in milliseconds.
    virtual unsigned int MilliSeconds() const;
    /// Milliseconds since the last Start (since the clock's origin before the
    /// first Start).
    virtual unsigned int ElapsedTime() const;
    /// Given that percent per cent of a job took ElapsedTime(), the estimated
    /// duration of the whole job in milliseconds: ElapsedTime() * 100 / percent
    /// (0xFFFFFFFF when that does not fit). 0 for percent 0 or >= 100.
    virtual unsigned int EstimatedTimeLeft(unsigned int percent) const;
    /// Splits milliseconds (ElapsedTime() for 0xFFFFFFFF) into hours (not
    /// reduced modulo 24), minutes and seconds; returns the milliseconds left.
    virtual unsigned int HourMinSec(unsigned int& hours, unsigned int& minutes,
                                    unsigned int& seconds, unsigned int milliseconds) const;

    /// A new millisecond timer, owned by the caller (delete it); null when it
    /// cannot be allocated.
    static KvTimer* MakeTimer();
    /// See MakeTimer; a timer on the high-resolution counter.
    static KvTimer* MakeHiResTimer();
};

/// A millisecond timer on the 32-bit tick count (wrapping after 49.7 days).
class KVBASICS_API WindowsTimer : public KvTimer {
public:
    WindowsTimer();
    ~WindowsTimer() override;
    unsigned int TicksPerSecond() override;
    void Start() override;
    /// Adds the time since the last Start; a second Stop adds again.
    void Stop() override;
    void Reset() override;
    int IsTimeOver(unsigned int seconds, int restart) override;
    double Seconds() const override;
    unsigned int MilliSeconds() const override;
    unsigned int ElapsedTime() const override;

    uint32_t start;        ///< tick count at the last Start
    uint32_t accumulated;  ///< milliseconds summed by Stop
};

/// A timer on the high-resolution counter, whose frequency is read once when
/// the library is loaded. A clock slower than 1000 ticks per second is
/// measured exactly; one without a frequency reads as 0.
class KVBASICS_API Win32HiResTimer : public KvTimer {
public:
    Win32HiResTimer();
    ~Win32HiResTimer() override;
    void Start() override;
    void Stop() override;
    void Reset() override;
    int IsTimeOver(unsigned int seconds, int restart) override;
    double Seconds() const override;
    unsigned int MilliSeconds() const override;
    unsigned int ElapsedTime() const override;

    int64_t start;        ///< counter value at the last Start
    int64_t accumulated;  ///< counter ticks summed by Stop
};

// ---------------------------------------------------------------------------
// Registry configuration and host name
// ---------------------------------------------------------------------------

/// The product's key below the local machine (the registry store of the
/// platform layer here).
inline constexpr const char* KV_PRODUCT_REGISTRY_KEY =
    "SOFTWARE\\Wow6432Node\\Quelmar\\Tessaloquin";

/// Result for a bad argument: "Invalid parameter."
inline constexpr int KV_ERR_INVALID_PARAMETER = -2530;

/// Reads, writes and deletes string values below the product key. A path is a
/// null-terminated list of one or more strings: the subkeys in order, then the
/// value's name. The composed key path (product key, then "\" and each subkey)
/// may have at most 259 characters; a longer one is refused with -2530.
/// Results: 0, -1 when the store fails, -2530 for a bad argument.
class KVBASICS_API Register {
public:
    virtual ~Register();
    /// Reads at most size - 1 bytes into buffer and terminates them. size out:
    /// the bytes read; on -1 the value's byte count when the buffer was too
    /// small (buffer then holds its first size - 1 bytes), else 0.
    int Get(char const** path, char* buffer, int& size);
    /// Deletes the value, then stores value as a string without its
    /// terminator, creating the keys on the way.
    int Set(char const** path, char* value);
    /// Deletes the value; keys are never deleted. -1 when there is none.
    int Delete(char const** path);
};

/// Register::Get; -2530 when path or buffer is null or size is not positive.
KVBASICS_API int KvGetRegistryEntry(char const** path, char* buffer, int& size);
/// Register::Set; -2530 when path or value is null or size is 0 (size is not
/// used otherwise).
KVBASICS_API int KvSetRegistryEntry(char const** path, char* value, int& size);
/// Register::Delete; -2530 when path is null.
KVBASICS_API int KvDeleteRegistryEntry(char const** path);

/// The "disableWin32PriorityBoost" switch under "servers", "kvserver" of the
/// default configuration, read once per process: 1 or 0.
KVBASICS_API uint16_t GetDisableWin32PriorityBoost();

/// Writes the computer's name into buffer (size characters of room, cut and
/// terminated when it does not fit). Returns 0.
KVBASICS_API int KvGetHostname(char* buffer, int size);

/// Fault-injection hook: returns -313 for code 1 as many times as the
/// configuration's "growErrorCounter" under "test" says (read on the first
/// call after start or reset), else 0.
KVBASICS_API int TestHandler(unsigned code, void*, void*);
/// Zeroes the injection count; the next TestHandler reads the value again.
KVBASICS_API int TestHandlerReset();

// ---------------------------------------------------------------------------
// Module loader
// ---------------------------------------------------------------------------

/// Results of the loader.
inline constexpr int ERR_KV_MODULE_HANDLE_INVALID = -5001;  ///< "A module handle is invalid."
inline constexpr int ERR_KV_COULD_NOT_LOAD_MODULE = -5002;  ///< "A module could not be loaded."
inline constexpr int ERR_KV_COULD_NOT_GET_ENTRY = -5003;  ///< "A module entry could not be found."

/// A loaded module, created by LoadModule and destroyed by UnloadModule.
class KvModuleHandle;

/// Loads the product's modules by name. The texts returned below share one
/// module-wide buffer of 1024 bytes: each is valid until the next call of
/// GetErrText, GetPhysicalModuleName, LoadModule (with its report on) or
/// KvGetDescription.
class KVBASICS_API KvDynamicLoader {
public:
    KvDynamicLoader() {}
    ~KvDynamicLoader() {}

    /// Loads name + ".so", trying in turn:
    ///   1. the directory of the configuration's "defaultModulePath" (when set);
    ///   2. this library's own directory, with the file-name part of name only
    ///      (its directory and extension dropped);
    ///   3. the standard search of dlopen;
    ///   4. the directories of "PATH".
    /// With "loadModule" under "debug" set, the outcome is reported through the
    /// message sink. Returns 0, or -5002 with handle null. The int is not used.
    static int LoadModule(char const* name, int, KvModuleHandle*& handle);
    /// Unloads the module and nulls handle; -5001 when handle is null.
    static int UnloadModule(KvModuleHandle*& handle);
    /// entry = the module's export symbol: 0, -5001 for a null handle, -5003
    /// when it is not exported (entry null).
    static int GetEntryPoint(char const* symbol, KvModuleHandle* handle, void*& entry);
    /// The text of this thread's last load or resolve failure.
    static char const* GetErrText();
    /// The module's file path; "<unknown>" when it cannot be told (or handle
    /// is null).
    static char const* GetPhysicalModuleName(KvModuleHandle* handle);
};

/// Loads the module name, copies its file path into physicalName (skipped when
/// null) and, through the module's KvDescribeDll, its identity into the other
/// targets (each skipped when null or when the module gives no text). The
/// targets are not bounded: physicalName needs 1024 bytes, the others room for
/// the module's texts. The module is unloaded again. Returns 0, the result of
/// LoadModule, or -5003 when the module does not export KvDescribeDll.
KVBASICS_API int KvGetDescription(char const* name, char* physicalName, unsigned& number1,
                                  unsigned& number2, unsigned& number3, unsigned& number4,
                                  unsigned& number5, char* description, char* moduleName,
                                  char* buildDateTime, char* buildInfo, char* compilerText,
                                  char* extraText, int& compilerVersion);

#endif  // KVBASICS_KVPLATFORM_H
