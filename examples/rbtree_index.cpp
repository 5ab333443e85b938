// An index on KvRBTree: employees ordered by name, each element holding the
// name (the key) and the employee number (the dat). The tree learns about the
// element through its function table: copy builds an element from a key and a
// dat, compare orders a key against an element, key and dat find the parts.
// Insertions, searches and deletions read their key from a source iterator;
// here a small one over a single element held by the caller.
#include <cstdio>
#include <cstring>

#include "kvbasics.h"

namespace {

struct Employee {
    char name[24];  // the key, NUL-padded
    int32_t number;
};

const void* KeyOf(KvVContainer*, const void* element, int* status, KvVParameter*) {
    *status = 0;
    return static_cast<const Employee*>(element)->name;
}

const void* DatOf(KvVContainer*, const void* element, int* status, KvVParameter*) {
    *status = 0;
    return &static_cast<const Employee*>(element)->number;
}

int CompareByName(KvCompareArgs* args) {
    const auto* element = static_cast<const Employee*>(args->element);
    const int order =
        std::strncmp(static_cast<const char*>(args->key), element->name, sizeof element->name);
    *args->keyResult = *args->orderResult = (order > 0) - (order < 0);
    return 0;
}

int CopyEmployee(KvVContainer*, void* element, const KvVIterator*, const void* key, const void* dat,
                 KvVParameter*) {
    Employee employee{};
    std::strncpy(employee.name, static_cast<const char*>(key), sizeof employee.name - 1);
    if (dat != nullptr) std::memcpy(&employee.number, dat, sizeof employee.number);
    std::memcpy(element, &employee, sizeof employee);  // the node's element may be unaligned
    return 0;
}

void InstallFunctions(KvVContainer& container) {
    container.SetCopyFunction(CopyEmployee);
    container.SetCompareFunction(CompareByName);
    container.SetKeyFunction(KeyOf);
    container.SetDatFunction(DatOf);
    // No destroy function: the elements own nothing.
}

// A source iterator over one employee record of the caller's. Its container
// is a plain KvVContainer with the same functions, so that the tree can read
// the key and the dat of the record.
class OneEmployee : public KvVIterator {
public:
    OneEmployee() : KvVIterator(nullptr, &source_) {
        InstallFunctions(source_);
        status = 0;
    }
    OneEmployee& Set(const char* name, int32_t number = 0) {
        employee_ = Employee{};
        std::strncpy(employee_.name, name, sizeof employee_.name - 1);
        employee_.number = number;
        return *this;
    }
    const void* GetEntry(int& s, KvVParameter*) const override {
        s = 0;
        return &employee_;
    }

private:
    KvVContainer source_{sizeof(Employee), 0};
    Employee employee_{};
};

Employee Current(const KvVIterator& it) {
    int status = 0;
    Employee employee{};
    const void* element = it.GetElement(status, nullptr);
    if (element != nullptr && status == 0) std::memcpy(&employee, element, sizeof employee);
    return employee;
}

}  // namespace

int main() {
    KvRBTree index(sizeof(Employee), 0, 0);  // unique names; default block size
    InstallFunctions(index);

    OneEmployee probe;
    const struct {
        const char* name;
        int32_t number;
    } staff[] = {{"Okafor", 1017},
                 {"Lindqvist", 1002},
                 {"Barros", 1033},
                 {"Nakamura", 1008},
                 {"Duval", 1021}};
    for (const auto& person : staff) {
        const int rc =
            index.InsertElement(&probe.Set(person.name, person.number), nullptr, 0, nullptr);
        if (rc != 0) {
            std::fprintf(stderr, "rbtree_index: insert %s: %s\n", person.name,
                         KvError(nullptr, "insert", rc, 0));
            return 1;
        }
    }
    // A second "Duval" is refused: the tree allows neither equal keys nor
    // duplicates.
    if (index.InsertElement(&probe.Set("Duval", 9999), nullptr, 0, nullptr) != KvCONT_DUPLICATE) {
        std::fprintf(stderr, "rbtree_index: a duplicate name was accepted\n");
        return 1;
    }

    // Walk in order, then backwards.
    KvRBTreeIterator it(&index, nullptr);
    std::printf("%u employees by name:\n", index.count);
    for (int rc = it.First(); rc == 0; rc = it.Next()) {
        const Employee e = Current(it);
        std::printf("  %-10s %d\n", e.name, e.number);
    }
    std::printf("backwards:");
    for (int rc = it.Last(); rc == 0; rc = it.Prior())
        std::printf(" %s", Current(it).name);
    std::printf("\n");

    // Find one, and the first name at or after a prefix.
    if (index.SearchElement(&probe.Set("Nakamura"), nullptr, 0, nullptr, &it) != 0 ||
        Current(it).number != 1008) {
        std::fprintf(stderr, "rbtree_index: Nakamura not found\n");
        return 1;
    }
    // Without an exact match the search answers KvCONT_MISSING and, with
    // KvCONT_OR_HIGHER, leaves the iterator on the next higher entry.
    const int rc = index.SearchElement(&probe.Set("M"), nullptr, KvCONT_OR_HIGHER, nullptr, &it);
    if (rc != KvCONT_MISSING || it.status != 0) return 1;
    std::printf("first name from \"M\": %s\n", Current(it).name);

    // Delete through the iterator, which then stands on the successor.
    index.SearchElement(&probe.Set("Duval"), nullptr, 0, nullptr, &it);
    if (it.DeleteElement(0, nullptr) != 0 || std::strcmp(Current(it).name, "Lindqvist") != 0) {
        std::fprintf(stderr, "rbtree_index: deletion through the iterator failed\n");
        return 1;
    }
    // And by key.
    if (index.DeleteElement(&probe.Set("Barros"), nullptr, 0, nullptr) != 0 ||
        index.DeleteElement(&probe.Set("Barros"), nullptr, 0, nullptr) != KvCONT_MISSING) {
        std::fprintf(stderr, "rbtree_index: deletion by key failed\n");
        return 1;
    }
    std::printf("after two deletions: %u employees, tree check %d\n", index.count,
                index.CheckTree(nullptr));
    return index.count == 3 && index.CheckTree(nullptr) == 0 ? 0 : 1;
}
