// The registry store and KvGet/Set/DeleteRegistryEntry with hostile key and
// value names, against a model of the keys and values. The store lives under
// a private root; after every step the root's parent holds nothing but the
// root, and the directories and files below the root are exactly the model's
// keys and values (no temporary file left behind). A key and a value may share
// a name, and a value's name may be empty (the key's default value).
#include <dirent.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "kvplatform.h"
#include "platform/registry_store.h"

namespace {

using tq::platform::RegistryKey;
using tq::platform::RegistryStatus;
using tq::platform::RegistryStore;
using tq::platform::RegistryType;
using KeyPath = std::vector<std::string>;
namespace fs = std::filesystem;

constexpr size_t kNameMax = 255;       // the file system's limit on one name
constexpr char kValuePrefix = '\x01';  // a value's file is its name behind this

struct Value {
    uint32_t type;
    std::string bytes;
    bool operator==(const Value&) const = default;
};

struct Model {
    std::set<KeyPath> keys{KeyPath{}};  // the root is always there
    std::map<std::pair<KeyPath, std::string>, Value> values;

    bool IsKey(const KeyPath& k) const { return keys.count(k) != 0; }
};

bool ValidName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return c == '/' || b < 0x20 || b == 0x7f;
    });
}

bool ValidValueName(const std::string& name) {
    return name.empty() || ValidName(name);
}

// Splits at '\', skipping empty segments; false when a name is refused.
bool Split(const std::string& path, KeyPath* out) {
    out->clear();
    std::string name;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            if (!name.empty()) {
                if (!ValidName(name)) return false;
                out->push_back(name);
            }
            name.clear();
        } else {
            name += path[i];
        }
    }
    return true;
}

KeyPath Prefix(const KeyPath& k, size_t n) {
    return KeyPath(k.begin(), k.begin() + static_cast<long>(n));
}

// ---------------------------------------------------------------------------
// What the store answers, by the model

RegistryStatus ModelOpenKey(const Model& m, const std::string& path, KeyPath* key) {
    if (!Split(path, key)) return RegistryStatus::kInvalidName;
    for (size_t i = 1; i <= key->size(); ++i) {
        if (m.IsKey(Prefix(*key, i))) continue;
        if ((*key)[i - 1].size() > kNameMax) return RegistryStatus::kInvalidName;
        return RegistryStatus::kNotFound;
    }
    return RegistryStatus::kOk;
}

RegistryStatus ModelCreateKey(Model& m, const std::string& path, KeyPath* key) {
    if (!Split(path, key)) return RegistryStatus::kInvalidName;
    size_t i = 1;
    while (i <= key->size() && m.IsKey(Prefix(*key, i)))
        ++i;
    for (; i <= key->size(); ++i) {
        if ((*key)[i - 1].size() > kNameMax) return RegistryStatus::kInvalidName;
        m.keys.insert(Prefix(*key, i));
    }
    return RegistryStatus::kOk;
}

RegistryStatus ModelQuery(const Model& m, const KeyPath& key, const std::string& name,
                          Value* value) {
    if (!ValidValueName(name)) return RegistryStatus::kInvalidName;
    if (!m.IsKey(key)) return RegistryStatus::kNotFound;
    if (name.size() + 1 > kNameMax) return RegistryStatus::kInvalidName;
    const auto it = m.values.find({key, name});
    if (it == m.values.end()) return RegistryStatus::kNotFound;
    *value = it->second;
    return RegistryStatus::kOk;
}

RegistryStatus ModelSetValue(Model& m, const KeyPath& key, const std::string& name,
                             const Value& value) {
    if (!ValidValueName(name)) return RegistryStatus::kInvalidName;
    if (!m.IsKey(key)) return RegistryStatus::kNotFound;
    if (name.size() + 1 > kNameMax) return RegistryStatus::kInvalidName;
    m.values[{key, name}] = value;
    return RegistryStatus::kOk;
}

RegistryStatus ModelDeleteValue(Model& m, const KeyPath& key, const std::string& name) {
    if (!ValidValueName(name)) return RegistryStatus::kInvalidName;
    if (!m.IsKey(key)) return RegistryStatus::kNotFound;
    if (name.size() + 1 > kNameMax) return RegistryStatus::kInvalidName;
    return m.values.erase({key, name}) != 0 ? RegistryStatus::kOk : RegistryStatus::kNotFound;
}

RegistryStatus ModelDeleteKey(Model& m, const std::string& path) {
    KeyPath key;
    if (!Split(path, &key) || key.empty()) return RegistryStatus::kInvalidName;
    const RegistryStatus open = ModelOpenKey(m, path, &key);
    if (open != RegistryStatus::kOk) return open;
    for (const KeyPath& k : m.keys) {
        if (k.size() == key.size() + 1 && std::equal(key.begin(), key.end(), k.begin())) {
            return RegistryStatus::kKeyHasSubkeys;
        }
    }
    for (auto it = m.values.begin(); it != m.values.end();) {
        it = it->first.first == key ? m.values.erase(it) : std::next(it);
    }
    m.keys.erase(key);
    return RegistryStatus::kOk;
}

// ---------------------------------------------------------------------------
// The registry functions, by the model

constexpr size_t kKeyPathRoom = 259;

// The composed key path, or false when it does not fit.
bool Compose(const std::vector<std::string>& path, std::string* keyPath) {
    *keyPath = KV_PRODUCT_REGISTRY_KEY;
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        *keyPath += '\\';
        *keyPath += path[i];
        if (keyPath->size() > kKeyPathRoom) return false;
    }
    return true;
}

int ModelDeleteEntry(Model& m, const std::vector<std::string>& path) {
    std::string keyPath;
    if (path.empty() || !Compose(path, &keyPath)) return KV_ERR_INVALID_PARAMETER;
    KeyPath key;
    if (ModelOpenKey(m, keyPath, &key) != RegistryStatus::kOk) return -1;
    return ModelDeleteValue(m, key, path.back()) == RegistryStatus::kOk ? 0 : -1;
}

int ModelSetEntry(Model& m, const std::vector<std::string>& path, const std::string& value) {
    std::string keyPath;
    if (path.empty() || !Compose(path, &keyPath)) return KV_ERR_INVALID_PARAMETER;
    ModelDeleteEntry(m, path);
    KeyPath key;
    if (ModelCreateKey(m, keyPath, &key) != RegistryStatus::kOk) return -1;
    const Value stored{static_cast<uint32_t>(RegistryType::kString), value};
    return ModelSetValue(m, key, path.back(), stored) == RegistryStatus::kOk ? 0 : -1;
}

// ---------------------------------------------------------------------------
// The run

struct Setup {
    std::string parent;  // holds the root and nothing else
    std::string root;
};

const Setup& Directories() {
    static const Setup setup = [] {
        Setup s;
        s.parent = tq::fuzz::MakeRunDirectory("registry");
        s.root = s.parent + "/root";
        setenv("TQ_REGISTRY_ROOT", s.root.c_str(), 1);
        return s;
    }();
    return setup;
}

// Names from a small alphabet, so that they meet each other, with the
// characters that must be refused and runs long enough to pass the limit.
std::string Name(FuzzedDataProvider& in) {
    static const char* const kPieces[] = {
        "a",    "b",        "Ab", ".",     "..", "\\", "/",  "\x01",           " ",
        "\x7f", "\xc3\xa9", "-",  ".tmp-", "~",  "*",  "\n", "yyyyyyyyyyyyyyy"};
    constexpr int kCount = static_cast<int>(std::size(kPieces));
    std::string name;
    const int pieces = in.ConsumeIntegralInRange(0, 7);
    for (int i = 0; i < pieces; ++i) {
        const int pick = in.ConsumeIntegralInRange(0, kCount + 1);
        if (pick < kCount) {
            name += kPieces[pick];
        } else if (pick == kCount) {
            name.append(120, 'x');
        } else {
            name += static_cast<char>(in.ConsumeIntegral<unsigned char>());
        }
    }
    return name;
}

std::string KeyPathString(FuzzedDataProvider& in) {
    std::string path;
    const int names = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < names; ++i) {
        if (i > 0) path += '\\';
        path += Name(in);
    }
    return path;
}

std::vector<std::string> EntryPath(FuzzedDataProvider& in) {
    std::vector<std::string> path;
    const int strings = in.ConsumeIntegralInRange(1, 4);
    for (int i = 0; i < strings; ++i) {
        const std::string name = Name(in);
        path.push_back(name.c_str());  // a C string ends at its first NUL
    }
    return path;
}

std::string Slurp(const fs::path& file) {
    std::ifstream f(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// The root's parent holds only the root; below the root, exactly the model.
void CompareTree(const Model& m) {
    const Setup& dirs = Directories();
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(dirs.parent))
        beside.push_back(entry.path().filename().string());
    FUZZ_CHECK(beside == std::vector<std::string>{"root"});

    std::set<KeyPath> keys{KeyPath{}};
    std::map<std::pair<KeyPath, std::string>, Value> values;
    for (auto it = fs::recursive_directory_iterator(dirs.root);
         it != fs::recursive_directory_iterator(); ++it) {
        KeyPath key;
        const std::string below = it->path().string().substr(dirs.root.size() + 1);
        for (size_t at = 0;;) {
            const size_t slash = below.find('/', at);
            key.push_back(below.substr(at, slash - at));
            if (slash == std::string::npos) break;
            at = slash + 1;
        }
        if (it->is_directory()) {
            keys.insert(key);
            continue;
        }
        // Nothing but values: no temporary file, no file of the old layout.
        FUZZ_CHECK(it->is_regular_file() && key.back().front() == kValuePrefix);
        const std::string content = Slurp(it->path());
        FUZZ_CHECK(content.size() >= 8 && content.compare(0, 4, "TQRV") == 0);
        uint32_t type = 0;
        for (int b = 3; b >= 0; --b)
            type = type << 8 | static_cast<unsigned char>(content[4 + static_cast<size_t>(b)]);
        const std::string name = key.back().substr(1);
        key.pop_back();
        values[{key, name}] = Value{type, content.substr(8)};
    }
    FUZZ_CHECK(keys == m.keys);
    FUZZ_CHECK(values == m.values);
}

struct Run {
    FuzzedDataProvider& in;
    Model model;
    RegistryKey key;  // the key opened last, and where the model has it
    KeyPath keyPath;

    void Step();
    void Entry();
};

void Run::Entry() {
    const std::vector<std::string> path = EntryPath(in);
    std::vector<const char*> pointers;
    for (const std::string& s : path)
        pointers.push_back(s.c_str());
    pointers.push_back(nullptr);
    switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0: {  // set
            const std::string value = in.ConsumeRandomLengthString(64);
            std::string copy = value;
            int size = in.ConsumeBool() ? 0 : 1;
            const int rc = KvSetRegistryEntry(pointers.data(), copy.data(), size);
            FUZZ_CHECK(rc == (size == 0 ? KV_ERR_INVALID_PARAMETER
                                        : ModelSetEntry(model, path, value.c_str())));
            break;
        }
        case 1: {  // get into a buffer of exactly the room given
            const int room = in.ConsumeIntegralInRange(-1, 80);
            tq::fuzz::ExactBuffer buffer(static_cast<size_t>(std::max(room, 0)));
            int size = room;
            const int rc =
                KvGetRegistryEntry(pointers.data(), reinterpret_cast<char*>(buffer.data()), size);
            std::string keyPath;
            if (room <= 0 || !Compose(path, &keyPath)) {
                FUZZ_CHECK(rc == KV_ERR_INVALID_PARAMETER);
                break;
            }
            KeyPath k;
            Value value;
            if (ModelOpenKey(model, keyPath, &k) != RegistryStatus::kOk ||
                ModelQuery(model, k, path.back(), &value) != RegistryStatus::kOk) {
                FUZZ_CHECK(rc == -1 && size == 0);
                break;
            }
            const size_t shown = std::min(value.bytes.size(), static_cast<size_t>(room - 1));
            FUZZ_CHECK(std::memcmp(buffer.data(), value.bytes.data(), shown) == 0);
            FUZZ_CHECK(buffer.data()[shown] == '\0');
            FUZZ_CHECK(size == static_cast<int>(value.bytes.size()));
            FUZZ_CHECK(rc == (shown == value.bytes.size() ? 0 : -1));
            break;
        }
        default:
            FUZZ_CHECK(KvDeleteRegistryEntry(pointers.data()) == ModelDeleteEntry(model, path));
            break;
    }
}

void Run::Step() {
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: {  // open or create a key; it serves the value operations after
            const std::string path = KeyPathString(in);
            const bool create = in.ConsumeBool();
            KeyPath k;
            const RegistryStatus want =
                create ? ModelCreateKey(model, path, &k) : ModelOpenKey(model, path, &k);
            RegistryKey opened;
            const RegistryStatus got = create ? RegistryStore::CreateKey(path, &opened)
                                              : RegistryStore::OpenKey(path, &opened);
            FUZZ_CHECK(got == want);
            FUZZ_CHECK(opened.is_open() == (got == RegistryStatus::kOk));
            if (got == RegistryStatus::kOk) {
                key = opened;
                keyPath = k;
            }
            break;
        }
        case 1: {  // set a value of the open key
            if (!key.is_open()) break;
            const std::string name = Name(in);
            static const uint32_t kTypes[] = {1, 2, 4, 0, 0xFFFFFFFFu};
            const Value value{kTypes[in.ConsumeIntegralInRange(0, 4)],
                              in.ConsumeRandomLengthString(100)};
            const tq::fuzz::ExactBuffer bytes(value.bytes.size(), value.bytes.data());
            const RegistryStatus got =
                RegistryStore::SetValue(key, name, static_cast<RegistryType>(value.type),
                                        bytes.data(), static_cast<uint32_t>(bytes.size()));
            FUZZ_CHECK(got == ModelSetValue(model, keyPath, name, value));
            break;
        }
        case 2: {  // read a value into exactly the room given, or only its size
            if (!key.is_open()) break;
            const std::string name = Name(in);
            const bool withData = in.ConsumeBool();
            const auto room = in.ConsumeIntegralInRange<uint32_t>(0, 120);
            tq::fuzz::ExactBuffer data(room);
            uint32_t size = room;
            RegistryType type{};
            const RegistryStatus got = RegistryStore::QueryValue(
                key, name, &type, withData ? data.data() : nullptr, &size);
            Value value;
            const RegistryStatus want = ModelQuery(model, keyPath, name, &value);
            if (want != RegistryStatus::kOk) {
                FUZZ_CHECK(got == want);
                break;
            }
            const bool more = withData && room < value.bytes.size();
            FUZZ_CHECK(got == (more ? RegistryStatus::kMoreData : RegistryStatus::kOk));
            FUZZ_CHECK(size == value.bytes.size());
            FUZZ_CHECK(static_cast<uint32_t>(type) == value.type);
            if (withData) {
                const size_t n = std::min<size_t>(room, value.bytes.size());
                FUZZ_CHECK(std::memcmp(data.data(), value.bytes.data(), n) == 0);
            }
            break;
        }
        case 3: {  // delete a value of the open key
            if (!key.is_open()) break;
            const std::string name = Name(in);
            FUZZ_CHECK(RegistryStore::DeleteValue(key, name) ==
                       ModelDeleteValue(model, keyPath, name));
            break;
        }
        case 4: {  // delete a key
            const std::string path = KeyPathString(in);
            FUZZ_CHECK(RegistryStore::DeleteKey(path) == ModelDeleteKey(model, path));
            break;
        }
        default:
            Entry();
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Setup& dirs = Directories();
    std::error_code ec;
    fs::remove_all(dirs.root, ec);
    fs::create_directory(dirs.root);
    FUZZ_CHECK(RegistryStore::Root() == dirs.root);

    FuzzedDataProvider in(data, size);
    Run run{in, {}, {}, {}};
    for (int step = 0; step < 60 && in.remaining_bytes() > 0; ++step) {
        run.Step();
        CompareTree(run.model);
    }
    return 0;
}
