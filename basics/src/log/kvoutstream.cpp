// Output streams: the manipulators and the stream over a C FILE.
#include <cstdio>

#include "kvlog.h"
#include "util/decimal.h"

KvOutStreamStub::~KvOutStreamStub() = default;

KvOutStreamStub& endl(KvOutStreamStub& stream) {
    stream.endLine();
    return stream;
}

KvOutStreamStub& flush(KvOutStreamStub& stream) {
    stream.flushOutput();
    return stream;
}

KvOutStreamFILE::~KvOutStreamFILE() {
    file_ = nullptr;  // the file stays open: it belongs to the caller
}

KvOutStreamStub& KvOutStreamFILE::operator<<(void* pointer) {
    if (file_ != nullptr) std::fprintf(file_, "0x%p", pointer);
    return *this;
}

KvOutStreamStub& KvOutStreamFILE::operator<<(char c) {
    if (file_ != nullptr) std::fprintf(file_, "%c", c);
    return *this;
}

KvOutStreamStub& KvOutStreamFILE::operator<<(double value) {
    if (file_ != nullptr) std::fprintf(file_, "%lf", value);
    return *this;
}

KvOutStreamStub& KvOutStreamFILE::operator<<(float value) {
    if (file_ != nullptr) std::fprintf(file_, "%f", static_cast<double>(value));
    return *this;
}

KvOutStreamStub& KvOutStreamFILE::operator<<(unsigned short value) {
    if (file_ != nullptr) std::fprintf(file_, "%u", static_cast<unsigned int>(value));
    return *this;
}

KvOutStreamStub& KvOutStreamFILE::operator<<(uint32_t value) {
    if (file_ != nullptr) std::fprintf(file_, "%u", value);
    return *this;
}

KvOutStreamStub& KvOutStreamFILE::operator<<(uint64_t value) {
    if (file_ == nullptr) return *this;
    char text[tq::kDecimalBufferSize];
    std::fprintf(file_, "%s", tq::UInt64ToDecimal(value, text));
    return *this;
}

KvOutStreamStub& KvOutStreamFILE::operator<<(short value) {
    if (file_ != nullptr) std::fprintf(file_, "%d", static_cast<int>(value));
    return *this;
}

KvOutStreamStub& KvOutStreamFILE::operator<<(int32_t value) {
    if (file_ != nullptr) std::fprintf(file_, "%d", value);
    return *this;
}

KvOutStreamStub& KvOutStreamFILE::operator<<(int64_t value) {
    if (file_ == nullptr) return *this;
    char text[tq::kDecimalBufferSize];
    std::fprintf(file_, "%s", tq::Int64ToDecimal(value, text));
    return *this;
}

KvOutStreamStub& KvOutStreamFILE::operator<<(char const* text) {
    if (file_ != nullptr && text != nullptr) std::fprintf(file_, "%s", text);
    return *this;
}

void KvOutStreamFILE::endLine() {
    if (file_ != nullptr) std::fprintf(file_, "\n");
}

void KvOutStreamFILE::flushOutput() {
    if (file_ != nullptr) std::fflush(file_);
}
