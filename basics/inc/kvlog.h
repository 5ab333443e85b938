// Messages and logging of the basics library: the system log and the
// user-message sink.
#ifndef KVBASICS_KVLOG_H
#define KVBASICS_KVLOG_H

#include <cstdint>

#include "kvexport.h"

#define KV_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))

// ---------------------------------------------------------------------------
// System log
// ---------------------------------------------------------------------------

// Log types. The library itself writes 2, 3, 4 and 10.
enum : unsigned int {
    KV_LOG_SUCCESS = 1,
    KV_LOG_INFORMATION = 2,
    KV_LOG_WARNING = 3,
    KV_LOG_ERROR = 4,
    KV_LOG_OUT_OF_MEMORY = 10,
};

// The system log: typed entries for the platform's event log. One process-wide
// switch enables it (initially 1).
class KVBASICS_API KvSysLog {
public:
    // Registers sourceName as an event source; the base does nothing.
    virtual int Install(const char* sourceName);
    // Stores on in the process-wide switch as given; returns the previous value.
    virtual unsigned int Enable(unsigned int on);
    // Opens the event source; the base does nothing.
    virtual void Open(const char* sourceName);
    // Formats into at most 1023 characters (a longer text is cut) and writes
    // the entry, unless the log is switched off.
    virtual void Log(unsigned int type, const char* format, ...) KV_PRINTF_FORMAT(3, 4);
    virtual ~KvSysLog();
    // Writes one entry; length is the formatted length, 1024 when it was cut.
    virtual void Write(unsigned int type, unsigned int length, const char* text) = 0;
};

// The system log over the platform's event log (syslog here, or the file that
// TQ_EVENT_LOG names).
class KVBASICS_API KvSysLogWin32 : public KvSysLog {
public:
    KvSysLogWin32();
    ~KvSysLogWin32() override;
    int Install(const char* sourceName) override;
    void Open(const char* sourceName) override;
    void Write(unsigned int type, unsigned int length, const char* text) override;

    // Closes the event source if it is open; the next entry opens it again.
    void Close();
    bool IsOpen() const { return eventSource != kNotOpen; }

    static void* const kNotOpen;

    void* eventSource;     // the platform's event source; kNotOpen when not open
    int32_t platformIsNT;  // 1 when the platform has an event log
    char processIdText[20];
};

// The one system log of the process.
KVBASICS_API KvSysLog* KvSystemLog();

// ---------------------------------------------------------------------------
// User messages
// ---------------------------------------------------------------------------

// Flag bits of Message and Show above the platform's message-box style.
enum : unsigned int {
    KV_MSG_BREAK_ON_RETRY = 0x08000000u,
    KV_MSG_BREAK_ON_CANCEL = 0x10000000u,
    KV_MSG_ALWAYS_SHOW = 0x20000000u,
};

// Answer codes of Message and Show.
enum : unsigned int {
    KV_ANSWER_OK = 0x1000000u,      // OK or Yes, a failed box and any other answer
    KV_ANSWER_CANCEL = 0x2000000u,  // Cancel or Abort
    KV_ANSWER_RETRY = 0x3000000u,
    KV_ANSWER_IGNORE = 0x4000000u,
    KV_ANSWER_NO = 0x5000000u,
    KV_ANSWER_NOT_SHOWN = 0x40000000u,  // sink off and KV_MSG_ALWAYS_SHOW clear
};

// The user-message sink: shows a message and returns the user's answer. One
// process-wide switch enables it (initially off).
class KVBASICS_API KvMsg {
public:
    // Stores (on != 0) in the switch; returns the previous value.
    virtual int Enable(int on);
    // Formats into at most 4095 characters (a longer text is cut) and shows it.
    // Returns KV_ANSWER_NOT_SHOWN without formatting while the sink is off,
    // unless flags has KV_MSG_ALWAYS_SHOW.
    virtual unsigned int Message(const char* caption, unsigned int flags, const char* format, ...)
        KV_PRINTF_FORMAT(4, 5);
    virtual ~KvMsg();
    virtual unsigned int Show(const char* caption, unsigned int flags, const char* text) = 0;
};

// The message sink over the platform's message box (a terminal prompt here).
class KVBASICS_API KvMsgWindows : public KvMsg {
public:
    ~KvMsgWindows() override;
    unsigned int Show(const char* caption, unsigned int flags, const char* text) override;
};

// The one message sink of the process.
KVBASICS_API KvMsg* KvMessage();

// Switch for time stamps in the server's log; set and read by other modules.
extern KVBASICS_API uint16_t TimeStampInServerLog;

#endif  // KVBASICS_KVLOG_H
