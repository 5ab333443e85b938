#include <cstdio>
#include <cstring>

#include "kvplatform.h"
#include "kvversion.h"

const char* DllNameClass::second_char = "";

DllNameClass::DllNameClass(const char* tag, int32_t number) : tag(tag), number(number) {
    buffer[0] = '\0';
}

char* DllNameClass::GetDllName() {
    if (number != 0) {
        std::snprintf(buffer, sizeof buffer, "%s%s%s%d%s%s", "TQ", KV_VERSION_TAG,
                      tag != nullptr ? tag : "", number, KV_COMPILER_VARIANT, second_char);
    } else if (tag != nullptr) {
        std::snprintf(buffer, sizeof buffer, "%s%s%s%s%s", "TQ", KV_VERSION_TAG, tag,
                      KV_COMPILER_VARIANT, second_char);
    }
    return buffer;
}

DllNameClass& DllNameClass::operator=(DllNameClass& other) {
    const char* name = other.GetDllName();
    tag = nullptr;
    number = 0;
    if (name != buffer) std::memmove(buffer, name, std::strlen(name) + 1);
    return *this;
}

char* DllNameClass::GetGenericDllName(char const* name, char* out) {
    // The caller's buffer is sized by the contract in the header.
    std::strcpy(out, "TQ");
    std::strcat(out, name);
    std::strcat(out, KV_COMPILER_VARIANT);
    std::strcat(out, second_char);
    return out;
}
