// The one-entry container: a caller-held key, data part and flags as the
// single entry of a container, so that its iterator can be the source of
// searches, insertions and deletions.
#include "kvcontainer.h"

namespace {

const KvOneEntryContainer* OneEntry(const KvVContainer* container) {
    return static_cast<const KvOneEntryContainer*>(container);
}

const void* KeyOfEntry(KvVContainer* container, const void*, int* status, KvVParameter*) {
    *status = 0;
    return OneEntry(container)->Key();
}

const void* DatOfEntry(KvVContainer* container, const void*, int* status, KvVParameter*) {
    const void* dat = OneEntry(container)->Dat();
    *status = dat != nullptr ? 0 : KvCONT_NO_DAT;
    return dat;
}

unsigned int FlagsOfEntry(KvVContainer* container, const void*, int* status, KvVParameter*) {
    *status = 0;
    return OneEntry(container)->EntryFlags();
}

}  // namespace

// ---------------------------------------------------------------------------
// KvOneEntryContainer
// ---------------------------------------------------------------------------

KvOneEntryContainer::KvOneEntryContainer(const void* key, const void* dat, unsigned int entryFlags,
                                         unsigned int elementSize)
    : KvVContainer(elementSize, 0), key(nullptr), dat(nullptr), entryFlags(0) {
    SetFunctions();
    SetEntry(key, dat, entryFlags);
}

KvOneEntryContainer::~KvOneEntryContainer() = default;

void KvOneEntryContainer::SetFunctions() {
    // Copy and compare keep the defaults: this container builds no elements.
    KeyFunction = KeyOfEntry;
    DatFunction = DatOfEntry;
    FlagsFunction = FlagsOfEntry;
}

void KvOneEntryContainer::SetEntry(const void* key, const void* dat, unsigned int entryFlags) {
    SetKey(key);
    this->dat = dat;
    this->entryFlags = entryFlags;
}

void KvOneEntryContainer::SetKey(const void* key) {
    this->key = key;
    count = key != nullptr ? 1 : 0;
}

unsigned short KvOneEntryContainer::GetType() const {
    return KvCONT_TYPE_ONE_ENTRY;
}

int KvOneEntryContainer::SearchElement(const KvVIterator*, KvVParameter*, unsigned short,
                                       KvVParameter*, KvVIterator* result) {
    if (result != nullptr) result->status = KvCONT_AFTER_LAST;
    return KvCONT_MISSING;
}

// ---------------------------------------------------------------------------
// KvOneEntryIterator
// ---------------------------------------------------------------------------

KvOneEntryIterator::KvOneEntryIterator(KvOneEntryContainer* container,
                                       KvTransactionContext* context)
    : KvVIterator(context, container) {
    if (container != nullptr) status = container->Key() != nullptr ? 0 : KvCONT_BEFORE_FIRST;
}

KvOneEntryIterator::~KvOneEntryIterator() = default;

const KvOneEntryContainer* KvOneEntryIterator::Own() const {
    if (container == nullptr || container->GetType() != KvCONT_TYPE_ONE_ENTRY) return nullptr;
    return OneEntry(container);
}

unsigned short KvOneEntryIterator::GetType() const {
    return KvCONT_TYPE_ONE_ENTRY;
}

// The status is the position: -521 before the entry, 0 on it, -522 behind
// it. First and Last look for the key; Next and Prior step onto the entry
// without looking, so that a caller may position first and set the key after
// (GetEntry answers -523 while none is set).
int KvOneEntryIterator::First() {
    const KvOneEntryContainer* own = Own();
    if (own == nullptr) return status = KvCONT_NO_CONTAINER;
    return status = own->Key() != nullptr ? 0 : KvCONT_BEFORE_FIRST;
}

int KvOneEntryIterator::Last() {
    const KvOneEntryContainer* own = Own();
    if (own == nullptr) return status = KvCONT_NO_CONTAINER;
    return status = own->Key() != nullptr ? 0 : KvCONT_AFTER_LAST;
}

int KvOneEntryIterator::Next() {
    if (Own() == nullptr) return status = KvCONT_NO_CONTAINER;
    if (status == KvCONT_BEFORE_FIRST) {
        status = 0;
    } else if (status == 0) {
        status = KvCONT_AFTER_LAST;
    }
    return status;
}

int KvOneEntryIterator::Prior() {
    if (Own() == nullptr) return status = KvCONT_NO_CONTAINER;
    if (status == KvCONT_AFTER_LAST) {
        status = 0;
    } else if (status == 0) {
        status = KvCONT_BEFORE_FIRST;
    }
    return status;
}

const void* KvOneEntryIterator::GetEntry(int& status, KvVParameter*) const {
    status = this->status;
    if (status < 0) return nullptr;
    const KvOneEntryContainer* own = Own();
    const void* key = own != nullptr ? own->Key() : nullptr;
    // The key was taken away while the iterator stood on it.
    if (key == nullptr) status = KvCONT_NO_POSITION;
    return key;
}

const void* KvOneEntryIterator::GetKey(int& status, KvVParameter* parameter) const {
    return GetEntry(status, parameter);
}

const void* KvOneEntryIterator::GetDat(int& status, KvVParameter* parameter) const {
    if (GetEntry(status, parameter) == nullptr) return nullptr;
    const void* dat = Own()->Dat();
    if (dat == nullptr) status = KvCONT_NO_DAT;
    return dat;
}
