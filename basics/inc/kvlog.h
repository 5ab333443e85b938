/// \file
/// Messages and logging of the basics library: the system log and the
/// user-message sink.
#ifndef KVBASICS_KVLOG_H
#define KVBASICS_KVLOG_H

#include <cstdint>
#include <cstdio>

#include "kvexport.h"

/// Lets the compiler check a printf-style format (argument positions count
/// the implicit this of a member function).
#define KV_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

// ---------------------------------------------------------------------------
// System log
// ---------------------------------------------------------------------------

/// Log types. The library itself writes 2, 3, 4 and 10.
enum : unsigned int {
    KV_LOG_SUCCESS = 1,         ///< an operation succeeded
    KV_LOG_INFORMATION = 2,     ///< for information
    KV_LOG_WARNING = 3,         ///< a warning
    KV_LOG_ERROR = 4,           ///< an error
    KV_LOG_OUT_OF_MEMORY = 10,  ///< a heap request failed (logged as an error)
};

/// The system log: typed entries for the platform's event log. One process-wide
/// switch enables it (initially 1).
class KVBASICS_API KvSysLog {
public:
    /// Registers sourceName as an event source; the base does nothing.
    virtual int Install(const char* sourceName);
    /// Stores on in the process-wide switch as given; returns the previous value.
    virtual unsigned int Enable(unsigned int on);
    /// Opens the event source; the base does nothing.
    virtual void Open(const char* sourceName);
    /// Formats into at most 1023 characters (a longer text is cut) and writes
    /// the entry, unless the log is switched off.
    virtual void Log(unsigned int type, const char* format, ...) KV_PRINTF_FORMAT(3, 4);
    virtual ~KvSysLog();
    /// Writes one entry; length is the formatted length, 1024 when it was cut.
    virtual void Write(unsigned int type, unsigned int length, const char* text) = 0;
};

/// The system log over the platform's event log (syslog here, or the file that
/// TQ_EVENT_LOG names).
class KVBASICS_API KvSysLogWin32 : public KvSysLog {
public:
    KvSysLogWin32();
    ~KvSysLogWin32() override;
    int Install(const char* sourceName) override;
    void Open(const char* sourceName) override;
    void Write(unsigned int type, unsigned int length, const char* text) override;

    /// Closes the event source if it is open; the next entry opens it again.
    void Close();
    /// Whether the event source is open.
    bool IsOpen() const { return eventSource != kNotOpen; }

    /// The value of eventSource while the source is not open.
    static void* const kNotOpen;

    void* eventSource;       ///< the platform's event source; kNotOpen when not open
    int32_t platformIsNT;    ///< 1 when the platform has an event log
    char processIdText[20];  ///< the process id as text, one of each entry's strings
};

/// The one system log of the process.
KVBASICS_API KvSysLog* KvSystemLog();

// ---------------------------------------------------------------------------
// User messages
// ---------------------------------------------------------------------------

/// Flag bits of Message and Show above the platform's message-box style.
enum : unsigned int {
    KV_MSG_BREAK_ON_RETRY = 0x08000000u,   ///< break into an attached debugger on Retry
    KV_MSG_BREAK_ON_CANCEL = 0x10000000u,  ///< break into an attached debugger on Cancel
    KV_MSG_ALWAYS_SHOW = 0x20000000u,      ///< show even while the sink is off
};

/// Answer codes of Message and Show.
enum : unsigned int {
    KV_ANSWER_OK = 0x1000000u,          ///< OK or Yes, a failed box and any other answer
    KV_ANSWER_CANCEL = 0x2000000u,      ///< Cancel or Abort
    KV_ANSWER_RETRY = 0x3000000u,       ///< Retry
    KV_ANSWER_IGNORE = 0x4000000u,      ///< Ignore
    KV_ANSWER_NO = 0x5000000u,          ///< No
    KV_ANSWER_NOT_SHOWN = 0x40000000u,  ///< sink off and KV_MSG_ALWAYS_SHOW clear
};

/// The user-message sink: shows a message and returns the user's answer. One
/// process-wide switch enables it (initially off).
class KVBASICS_API KvMsg {
public:
    /// Stores (on != 0) in the switch; returns the previous value.
    virtual int Enable(int on);
    /// Formats into at most 4095 characters (a longer text is cut) and shows it.
    /// Returns KV_ANSWER_NOT_SHOWN without formatting while the sink is off,
    /// unless flags has KV_MSG_ALWAYS_SHOW.
    virtual unsigned int Message(const char* caption, unsigned int flags, const char* format, ...)
        KV_PRINTF_FORMAT(4, 5);
    virtual ~KvMsg();
    /// Shows text under caption and returns the answer (a KV_ANSWER_ code);
    /// flags are the platform's style bits and the KV_MSG_ bits.
    virtual unsigned int Show(const char* caption, unsigned int flags, const char* text) = 0;
};

/// The message sink over the platform's message box (a terminal prompt here).
class KVBASICS_API KvMsgWindows : public KvMsg {
public:
    ~KvMsgWindows() override;
    unsigned int Show(const char* caption, unsigned int flags, const char* text) override;
};

/// The one message sink of the process.
KVBASICS_API KvMsg* KvMessage();

/// Switch for time stamps in the server's log; set and read by other modules.
extern KVBASICS_API uint16_t TimeStampInServerLog;

// ---------------------------------------------------------------------------
// Server console
// ---------------------------------------------------------------------------

/// Classes of the product outside this library; the console only passes
/// references to them on to its implementation.
class KvString;
class KvServerCallCtx;

/// Mode bit of a console implementation: console output is switched on. The
/// other bits belong to the implementation.
inline constexpr unsigned short KV_CONSOLE_OUTPUT_ON = 0x0002;

/// The replaceable implementation behind KvServCons. The defaults write to the
/// debugger output.
class KVBASICS_API _KvServCons {
public:
    virtual ~_KvServCons();
    /// Writes one of the product's strings.
    virtual void writeString(KvString const& text) = 0;
    /// Writes text; length -1 means a zero-terminated text. The default writes
    /// to the debugger output, at most length characters when length >= 0.
    virtual void write(char const* text, int length);
    /// Formats into at most 1023 characters and writes the text; a text that
    /// does not fit, or an empty one, is not written.
    virtual void printf(char const* format, ...) KV_PRINTF_FORMAT(2, 3);
    /// write("\r\n", 2)
    virtual void terminateLine();
    /// Flushes buffered output; the default does nothing.
    virtual void flush();
    /// A server call begins; the default does nothing.
    virtual void beginCall(KvServerCallCtx& call);
    /// A server call ends; the default does nothing.
    virtual void endCall(KvServerCallCtx& call);
    /// A server call lost its connection; the default does nothing.
    virtual void communicationFailure(KvServerCallCtx& call);
    /// Opens, closes or switches the trace file name as mode and flag ask;
    /// the result is the implementation's.
    virtual int controlTraceFile(KvString& name, unsigned short mode, int flag) = 0;
    /// The mode bits (KV_CONSOLE_OUTPUT_ON and the implementation's own);
    /// the default is 0.
    virtual unsigned short GetMode();
    /// Sets the mode bits; the default ignores its argument.
    virtual void SetMode(unsigned short mode);
};

/// The server's console: forwards to an implementation (not owned, may be
/// null) while output is enabled. Output starts enabled.
class KVBASICS_API KvServCons {
public:
    /// A console without an implementation.
    KvServCons() : implementation_(nullptr), flags_(kOutputEnabled) {}
    /// A console over implementation (not owned).
    explicit KvServCons(_KvServCons* implementation)
        : implementation_(implementation), flags_(kOutputEnabled) {}
    ~KvServCons() = default;

    /// Stores implementation and returns the previous one.
    _KvServCons* setImplementation(_KvServCons* implementation);
    /// Asks the implementation to switch its console output on or off and
    /// follows its answer: a refused switch leaves output as it was.
    void switchOutput(int on);

    /// Writes text; a null text writes nothing.
    KvServCons& operator<<(char const* text);
    /// Writes one of the product's strings.
    KvServCons& operator<<(KvString const& text);
    /// Writes value in decimal.
    KvServCons& operator<<(int value);
    /// Applies a manipulator such as endl.
    KvServCons& operator<<(KvServCons& (*manipulator)(KvServCons&)) { return manipulator(*this); }
    /// Formats into at most 1023 characters; a text that does not fit is
    /// written as the empty text with length 0.
    KvServCons& printf(char const* format, ...) KV_PRINTF_FORMAT(2, 3);
    /// Ends the line.
    KvServCons& terminateLine();
    /// Flushes the implementation.
    KvServCons& flush();

    /// The implementation's mode bits, 0 without an implementation.
    unsigned short GetMode();
    /// Reaches the implementation also while output is disabled.
    void SetMode(unsigned short mode);
    /// The implementation's result, 0 without an implementation.
    int ControlTraceFile(KvString& name, unsigned short mode, int flag);
    /// Passes the beginning of a server call on while output is enabled.
    void BeginCall(KvServerCallCtx& call);
    /// Passes the end of a server call on while output is enabled.
    void EndCall(KvServerCallCtx& call);
    /// Passes a lost connection on while output is enabled.
    void CommunicationFailure(KvServerCallCtx& call);

private:
    static constexpr uint16_t kOutputEnabled = 0x0001;
    bool Active() const { return implementation_ != nullptr && (flags_ & kOutputEnabled) != 0; }

    _KvServCons* implementation_;
    uint16_t flags_;
};

/// Ends the console's line and flushes it.
KVBASICS_API KvServCons& endl(KvServCons& console);

/// The process-wide service-stopped flag: 0 until StopKIVO_Service, 1 after.
KVBASICS_API int KIVO_Service_hasStopped();
/// Sets the service-stopped flag.
KVBASICS_API void StopKIVO_Service();

// ---------------------------------------------------------------------------
// Output streams
// ---------------------------------------------------------------------------

/// A minimal text output stream. Code that writes diagnostic text takes a
/// KvOutStreamStub& and so does not depend on where the text goes.
class KVBASICS_API KvOutStreamStub {
public:
    virtual ~KvOutStreamStub();
    virtual KvOutStreamStub& operator<<(void* pointer) = 0;         ///< writes a pointer
    virtual KvOutStreamStub& operator<<(char c) = 0;                ///< writes a character
    virtual KvOutStreamStub& operator<<(double value) = 0;          ///< writes a number
    virtual KvOutStreamStub& operator<<(float value) = 0;           ///< writes a number
    virtual KvOutStreamStub& operator<<(unsigned short value) = 0;  ///< writes a number
    virtual KvOutStreamStub& operator<<(uint32_t value) = 0;        ///< writes a number
    virtual KvOutStreamStub& operator<<(uint64_t value) = 0;        ///< writes a number
    virtual KvOutStreamStub& operator<<(short value) = 0;           ///< writes a number
    virtual KvOutStreamStub& operator<<(int32_t value) = 0;         ///< writes a number
    virtual KvOutStreamStub& operator<<(int64_t value) = 0;         ///< writes a number
    virtual KvOutStreamStub& operator<<(char const* text) = 0;      ///< writes a text
    virtual void endLine() = 0;                                     ///< ends the line
    virtual void flushOutput() = 0;                                 ///< flushes what is buffered

    /// Applies a manipulator such as endl or flush.
    KvOutStreamStub& operator<<(KvOutStreamStub& (*manipulator)(KvOutStreamStub&)) {
        return manipulator(*this);
    }
};

/// Ends the line (without flushing).
KVBASICS_API KvOutStreamStub& endl(KvOutStreamStub& stream);
/// Flushes the stream.
KVBASICS_API KvOutStreamStub& flush(KvOutStreamStub& stream);

/// A stream over a C FILE, which it does not own: the destructor leaves it
/// open. Formats: pointer "0x%p", char "%c", double "%lf", float "%f", the
/// unsigned types "%u", the signed ones "%d", 64-bit integers as decimal text,
/// text "%s". Without a file (null) nothing is written.
class KVBASICS_API KvOutStreamFILE : public KvOutStreamStub {
public:
    /// A stream over file (not owned; may be null).
    explicit KvOutStreamFILE(FILE* file) : file_(file) {}
    KvOutStreamFILE(const KvOutStreamFILE&) = delete;
    KvOutStreamFILE& operator=(const KvOutStreamFILE&) = delete;
    ~KvOutStreamFILE() override;

    using KvOutStreamStub::operator<<;
    KvOutStreamStub& operator<<(void* pointer) override;
    KvOutStreamStub& operator<<(char c) override;
    KvOutStreamStub& operator<<(double value) override;
    KvOutStreamStub& operator<<(float value) override;
    KvOutStreamStub& operator<<(unsigned short value) override;
    KvOutStreamStub& operator<<(uint32_t value) override;
    KvOutStreamStub& operator<<(uint64_t value) override;
    KvOutStreamStub& operator<<(short value) override;
    KvOutStreamStub& operator<<(int32_t value) override;
    KvOutStreamStub& operator<<(int64_t value) override;
    /// A null text writes nothing.
    KvOutStreamStub& operator<<(char const* text) override;
    void endLine() override;
    void flushOutput() override;

    /// The file, or null.
    FILE* File() const { return file_; }

private:
    FILE* file_;
};

#endif  // KVBASICS_KVLOG_H
