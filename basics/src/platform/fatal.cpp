#include "platform/fatal.h"

#include <utility>

#include "kvmemory.h"

KvFatalException::KvFatalException(uint32_t code, std::string text)
    : code_(code), text_(std::move(text)) {}

KvFatalException::~KvFatalException() = default;

const char* KvFatalException::what() const noexcept {
    return text_.c_str();
}

namespace tq::platform {

void RaiseFatalException(uint32_t code, const char* text) {
    throw KvFatalException(code, text != nullptr ? text : "");
}

}  // namespace tq::platform
