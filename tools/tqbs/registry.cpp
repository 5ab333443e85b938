// tqbs registry: the keys and values below the product key in the registry store.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "kvbasics.h"
#include "platform/registry_store.h"

namespace tqbs {

namespace {

using tq::platform::RegistryKey;
using tq::platform::RegistryStatus;
using tq::platform::RegistryStore;
using tq::platform::RegistryType;

// One call: the action, its operands, and --type.
struct Call {
    std::string tool;  // "tqbs registry ACTION", for messages
    std::vector<const char*> operands;
    const char* type = nullptr;
};

// The key path in the store of KEY, a path below the product key.
std::string StorePath(const char* key) {
    std::string path = KV_PRODUCT_REGISTRY_KEY;
    if (*key != '\0') {
        path += '\\';
        path += key;
    }
    return path;
}

// What a value is called in messages.
std::string ValueText(const char* name, const std::string& path) {
    std::string text = *name == '\0' ? "the default value" : "the value '";
    if (*name != '\0') text.append(name).append("'");
    return text.append(" of ").append(path);
}

// What a key is called in messages.
std::string KeyText(const std::string& path) {
    std::string text = "the key ";
    return text.append(path);
}

// Reports why a store operation on what failed; the exit code.
int Failed(const Call& call, const std::string& what, RegistryStatus status) {
    const char* why =
        "the registry store failed (a damaged value file, a full disk or another "
        "input/output error)";
    switch (status) {
        case RegistryStatus::kNotFound:
            why = "not found";
            break;
        case RegistryStatus::kAccessDenied:
            why = "permission denied";
            break;
        case RegistryStatus::kInvalidName:
            why = "refused: a name is longer than the file system allows";
            break;
        case RegistryStatus::kKeyHasSubkeys:
            why = "the key has subkeys";
            break;
        default:
            break;
    }
    std::fprintf(stderr, "%s: %s: %s\n", call.tool.c_str(), what.c_str(), why);
    return status == RegistryStatus::kInvalidName ? kUsage : kFailure;
}

// False, with a message, when a name of KEY, or NAME (which may be empty), is
// one the store refuses.
bool NamesAllowed(const Call& call, const char* key, const char* name) {
    std::string refused;
    for (const char* at = key; refused.empty() && *at != '\0';) {
        const char* end = std::strchr(at, '\\');
        const std::string segment(at,
                                  end != nullptr ? static_cast<size_t>(end - at) : std::strlen(at));
        if (!segment.empty() && !RegistryStore::IsValidName(segment)) refused = segment;
        at += segment.size() + (end != nullptr ? 1 : 0);
    }
    if (refused.empty() && name != nullptr && *name != '\0' && !RegistryStore::IsValidName(name)) {
        refused = name;
    }
    if (refused.empty()) return true;
    std::fprintf(stderr,
                 "%s: the name '%s' is refused: names may not be '.' or '..' nor hold '/' or "
                 "control characters\n",
                 call.tool.c_str(), refused.c_str());
    return false;
}

// Reads a whole value, however long it grows meanwhile.
RegistryStatus ReadValue(const RegistryKey& key, const char* name, RegistryType* type,
                         std::string* data) {
    uint32_t size = 0;
    RegistryStatus status = RegistryStore::QueryValue(key, name, type, nullptr, &size);
    while (status == RegistryStatus::kOk) {
        data->resize(size);
        status = RegistryStore::QueryValue(key, name, type, data->data(), &size);
        if (status == RegistryStatus::kOk) data->resize(size);
        if (status != RegistryStatus::kMoreData) break;
        status = RegistryStatus::kOk;
    }
    return status;
}

const char* TypeName(RegistryType type) {
    switch (type) {
        case RegistryType::kString:
            return "string";
        case RegistryType::kExpandString:
            return "expand";
        case RegistryType::kNumber:
            return "dword";
    }
    return "binary";
}

// A value as text: a string without a terminating zero, a dword in decimal,
// anything else as hexadecimal bytes.
std::string DataText(RegistryType type, std::string data) {
    if (type == RegistryType::kString || type == RegistryType::kExpandString) {
        if (!data.empty() && data.back() == '\0') data.pop_back();
        return data;
    }
    const auto byte = [&data](size_t i) { return static_cast<uint32_t>(data[i] & 0xff); };
    if (type == RegistryType::kNumber && data.size() == 4) {
        return std::to_string(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
    }
    std::string hex;
    for (size_t i = 0; i < data.size(); ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte(i));
        hex += digits;
    }
    return hex;
}

// Control characters written as \n, \t, \r or \xHH, so that a listing keeps
// one line per entry.
std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7f) {
            out += c;
        } else if (c == '\n' || c == '\t' || c == '\r') {
            out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        }
    }
    return out;
}

// A dword's text: 0 to 4294967295, or 0x0 to 0xffffffff.
bool ParseDword(const char* text, uint32_t* value) {
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    if (*digits == '\0') return false;
    for (const char* p = digits; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (hex ? std::isxdigit(c) == 0 : std::isdigit(c) == 0) return false;
    }
    errno = 0;
    const unsigned long long number = std::strtoull(digits, nullptr, hex ? 16 : 10);
    if (errno == ERANGE || number > UINT32_MAX) return false;
    *value = static_cast<uint32_t>(number);
    return true;
}

int Get(const Call& call) {
    const char* name = call.operands[1];
    const std::string path = StorePath(call.operands[0]);
    if (!NamesAllowed(call, call.operands[0], name)) return kUsage;
    RegistryKey key;
    RegistryStatus status = RegistryStore::OpenKey(path, &key);
    if (status != RegistryStatus::kOk) return Failed(call, KeyText(path), status);
    RegistryType type{};
    std::string data;
    status = ReadValue(key, name, &type, &data);
    if (status != RegistryStatus::kOk) return Failed(call, ValueText(name, path), status);
    const std::string text = DataText(type, data);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputs("\n", stdout);
    return kSuccess;
}

int Set(const Call& call) {
    const char* name = call.operands[1];
    const char* value = call.operands[2];
    const bool dword = call.type != nullptr && std::strcmp(call.type, "dword") == 0;
    if (call.type != nullptr && !dword && std::strcmp(call.type, "string") != 0) {
        std::fprintf(stderr, "%s: unknown type '%s': give string or dword\n", call.tool.c_str(),
                     call.type);
        return kUsage;
    }
    uint32_t number = 0;
    if (dword && !ParseDword(value, &number)) {
        std::fprintf(stderr,
                     "%s: '%s' is not a number for a dword: give 0 to 4294967295, or 0x0 to "
                     "0xffffffff\n",
                     call.tool.c_str(), value);
        return kUsage;
    }
    const std::string path = StorePath(call.operands[0]);
    if (!NamesAllowed(call, call.operands[0], name)) return kUsage;
    RegistryKey key;
    RegistryStatus status = RegistryStore::CreateKey(path, &key);
    if (status != RegistryStatus::kOk) return Failed(call, KeyText(path), status);
    if (dword) {
        const unsigned char bytes[4] = {
            static_cast<unsigned char>(number & 0xff),
            static_cast<unsigned char>(number >> 8 & 0xff),
            static_cast<unsigned char>(number >> 16 & 0xff),
            static_cast<unsigned char>(number >> 24 & 0xff),
        };
        status = RegistryStore::SetValue(key, name, RegistryType::kNumber, bytes, sizeof bytes);
    } else {
        // Without a terminating zero, as the library's own writes store strings.
        status = RegistryStore::SetValue(key, name, RegistryType::kString, value,
                                         static_cast<uint32_t>(std::strlen(value)));
    }
    return status == RegistryStatus::kOk ? kSuccess : Failed(call, ValueText(name, path), status);
}

// Deletes the key at path with its values and every key below it.
RegistryStatus DeleteTree(const std::string& path) {
    RegistryKey key;
    RegistryStatus status = RegistryStore::OpenKey(path, &key);
    std::vector<std::string> subkeys;
    if (status == RegistryStatus::kOk) status = RegistryStore::EnumKey(key, &subkeys, nullptr);
    for (const std::string& subkey : subkeys) {
        if (status != RegistryStatus::kOk) break;
        status = DeleteTree(path + "\\" + subkey);
        if (status == RegistryStatus::kNotFound) status = RegistryStatus::kOk;  // gone meanwhile
    }
    return status == RegistryStatus::kOk ? RegistryStore::DeleteKey(path) : status;
}

int Delete(const Call& call) {
    const char* keyText = call.operands[0];
    const char* name = call.operands.size() > 1 ? call.operands[1] : nullptr;
    const std::string path = StorePath(keyText);
    if (!NamesAllowed(call, keyText, name)) return kUsage;
    if (name != nullptr) {
        RegistryKey key;
        RegistryStatus status = RegistryStore::OpenKey(path, &key);
        if (status != RegistryStatus::kOk) return Failed(call, KeyText(path), status);
        status = RegistryStore::DeleteValue(key, name);
        return status == RegistryStatus::kOk ? kSuccess
                                             : Failed(call, ValueText(name, path), status);
    }
    if (std::strspn(keyText, "\\") == std::strlen(keyText)) {
        std::fprintf(stderr, "%s: give the key to delete; the product key itself is not deleted\n",
                     call.tool.c_str());
        return kUsage;
    }
    const RegistryStatus status = DeleteTree(path);
    if (status == RegistryStatus::kOk) return kSuccess;
    const int result = Failed(call, KeyText(path), status);
    // A value is deleted by its key and its name: say so when KEY names a value.
    std::string parent = keyText;
    const size_t cut = parent.find_last_of('\\');
    const std::string last = cut == std::string::npos ? parent : parent.substr(cut + 1);
    parent.resize(cut == std::string::npos ? 0 : cut);
    RegistryKey key;
    if (status == RegistryStatus::kNotFound && !last.empty() &&
        RegistryStore::OpenKey(StorePath(parent.c_str()), &key) == RegistryStatus::kOk &&
        RegistryStore::QueryValue(key, last, nullptr, nullptr, nullptr) == RegistryStatus::kOk) {
        std::fprintf(stderr, "%s: '%s' is a value; tqbs registry delete '%s' '%s' deletes it\n",
                     call.tool.c_str(), last.c_str(), parent.c_str(), last.c_str());
    }
    return result;
}

int List(const Call& call) {
    const char* keyText = call.operands.empty() ? "" : call.operands[0];
    const std::string path = StorePath(keyText);
    if (!NamesAllowed(call, keyText, nullptr)) return kUsage;
    RegistryKey key;
    RegistryStatus status = RegistryStore::OpenKey(path, &key);
    std::vector<std::string> subkeys, values;
    if (status == RegistryStatus::kOk) status = RegistryStore::EnumKey(key, &subkeys, &values);
    if (status != RegistryStatus::kOk) return Failed(call, KeyText(path), status);
    for (const std::string& subkey : subkeys)
        std::printf("key\t%s\n", subkey.c_str());
    int result = kSuccess;
    for (const std::string& name : values) {
        RegistryType type{};
        std::string data;
        status = ReadValue(key, name.c_str(), &type, &data);
        if (status == RegistryStatus::kNotFound) continue;  // deleted meanwhile
        if (status != RegistryStatus::kOk) {
            result = Failed(call, ValueText(name.c_str(), path), status);
            continue;
        }
        std::printf("%s\t%s\t%s\n", TypeName(type), name.c_str(),
                    Escaped(DataText(type, data)).c_str());
    }
    return result;
}

struct Action {
    const char* name;
    size_t least;  // operands
    size_t most;
    const char* operands;  // for the usage message
    int (*run)(const Call&);
};

constexpr Action kActions[] = {
    {"get", 2, 2, "KEY NAME", Get},
    {"set", 3, 3, "KEY NAME VALUE [--type string|dword]", Set},
    {"delete", 1, 2, "KEY [NAME]", Delete},
    {"list", 0, 1, "[KEY]", List},
};

}  // namespace

int RunRegistry(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("tqbs registry: give get, set, delete or list (see 'tqbs registry --help')\n",
                   stderr);
        return kUsage;
    }
    const Action* action = nullptr;
    for (const Action& candidate : kActions) {
        if (std::strcmp(argv[1], candidate.name) == 0) action = &candidate;
    }
    if (action == nullptr) {
        std::fprintf(stderr, "tqbs registry: unknown action '%s'\n", argv[1]);
        return kUsage;
    }
    Call call;
    call.tool = std::string("tqbs registry ") + action->name;
    bool options = true;
    for (int i = 2; i < argc;) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
            ++i;
        } else if (options && std::strncmp(arg, "--", 2) == 0) {
            const int found = OptionValue(call.tool.c_str(), argc, argv, &i, "--type", &call.type);
            if (found < 0) return kUsage;
            if (found == 0 || action->run != Set) {
                std::fprintf(stderr, "%s: unknown option '%s'\n", call.tool.c_str(), arg);
                return kUsage;
            }
        } else {
            call.operands.push_back(arg);
            ++i;
        }
    }
    const size_t count = call.operands.size();
    if (count < action->least || count > action->most) {
        std::fprintf(stderr, "%s: %s; usage: tqbs registry %s %s\n", call.tool.c_str(),
                     count < action->least ? "missing arguments" : "too many arguments",
                     action->name, action->operands);
        if (count > action->most) {
            std::fputs("(KEY is one argument, its subkeys joined by \\: 'Server\\Net')\n", stderr);
        }
        return kUsage;
    }
    return action->run(call);
}

}  // namespace tqbs
