// Memory, process-wide hooks and assertions of the basics library.
#ifndef KVBASICS_KVMEMORY_H
#define KVBASICS_KVMEMORY_H

#include <cstdint>
#include <exception>
#include <string>

#include "kvexport.h"

// The code of the fatal exception that a failed assertion raises.
inline constexpr uint32_t KV_FATAL_EXCEPTION_CODE = 0xE0000001u;

// Thrown by a failed assertion (and so by the default out-of-memory handler).
// An outer catch is where an application decides to end or to go on.
class KVBASICS_API KvFatalException : public std::exception {
  public:
    KvFatalException(uint32_t code, std::string text);
    ~KvFatalException() override;
    const char* what() const noexcept override;
    uint32_t code() const noexcept { return code_; }

  private:
    uint32_t code_;
    std::string text_;
};

#endif  // KVBASICS_KVMEMORY_H
