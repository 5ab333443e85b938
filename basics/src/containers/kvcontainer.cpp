// The container framework: parameter, container and iterator base classes and
// the default element function table.
#include <climits>
#include <cstring>

#include "kvcontainer.h"

namespace {

int DefaultCopy(KvVContainer* container, void* element, const KvVIterator*, const void* key,
                const void*, KvVParameter*) {
    if (key == nullptr) return KvCONT_NOT_IMPLEMENTED;
    std::memcpy(element, key, container->elementSize);
    return 0;
}

int DefaultCompare(KvCompareArgs* args) {
    *args->keyResult = 0;
    *args->orderResult = 0;
    return 0;
}

const void* DefaultKey(KvVContainer*, const void* element, int* status, KvVParameter*) {
    *status = 0;
    return element;
}

const void* DefaultDat(KvVContainer*, const void*, int* status, KvVParameter*) {
    *status = KvCONT_NO_DAT;
    return nullptr;
}

unsigned int DefaultFlags(KvVContainer*, const void*, int* status, KvVParameter*) {
    *status = 0;
    return 1;
}

int Negate(int value) {
    return value == INT_MIN ? INT_MAX : -value;
}

}  // namespace

// ---------------------------------------------------------------------------
// KvVParameter
// ---------------------------------------------------------------------------

KvVParameter::KvVParameter() : entry(nullptr), flags(0) {}

KvVParameter::KvVParameter(const KvVParameter& other) : entry(other.entry), flags(0) {}

KvVParameter& KvVParameter::operator=(const KvVParameter& other) {
    entry = other.entry;
    return *this;
}

KvVParameter::~KvVParameter() = default;

unsigned short KvVParameter::GetType() const {
    return KvCONT_TYPE_BASE;
}

// ---------------------------------------------------------------------------
// KvVContainer
// ---------------------------------------------------------------------------

KvVContainer::KvVContainer() : KvVContainer(0, 0) {}

KvVContainer::KvVContainer(unsigned int elementSize, unsigned short flags)
    : count(0),
      elementSize(elementSize),
      flags(flags),
      CopyFunction(DefaultCopy),
      DestroyFunction(nullptr),
      CompareFunction(DefaultCompare),
      KeyFunction(DefaultKey),
      DatFunction(DefaultDat),
      FlagsFunction(DefaultFlags) {}

KvVContainer::KvVContainer(const KvVContainer& other) = default;

KvVContainer::~KvVContainer() = default;

KvVContainer* KvVContainer::Clone(KvVContainer*) const {
    return nullptr;
}

unsigned short KvVContainer::GetType() const {
    return KvCONT_TYPE_BASE;
}

int KvVContainer::Clear(KvTransactionContext*, unsigned int*, KvVContainer*) {
    return KvCONT_NOT_IMPLEMENTED;
}

int KvVContainer::SearchElement(const KvVIterator*, KvVParameter*, unsigned short, KvVParameter*,
                                KvVIterator*) {
    return KvCONT_NOT_IMPLEMENTED;
}

int KvVContainer::InsertElement(const KvVIterator*, KvVParameter*, unsigned short, KvVParameter*) {
    return KvCONT_NOT_IMPLEMENTED;
}

int KvVContainer::DeleteElement(const KvVIterator*, KvVParameter*, unsigned short, KvVParameter*) {
    return KvCONT_NOT_IMPLEMENTED;
}

const void* KvVContainer::GetElementOfEntry(const void* entry) const {
    return entry;
}

KvVIterator* KvVContainer::CreateIterator(KvTransactionContext*) {
    return nullptr;
}

// ---------------------------------------------------------------------------
// KvVIterator
// ---------------------------------------------------------------------------

KvVIterator::KvVIterator(KvTransactionContext* context)
    : container(nullptr), transactionContext(context), status(KvCONT_NO_CONTAINER) {}

KvVIterator::KvVIterator(KvTransactionContext* context, KvVContainer* container)
    : container(container),
      transactionContext(context),
      status(container != nullptr ? KvCONT_BEFORE_FIRST : KvCONT_NO_CONTAINER) {}

KvVIterator::KvVIterator(const KvVIterator& other) = default;

KvVIterator& KvVIterator::operator=(const KvVIterator& other) = default;

KvVIterator& KvVIterator::operator=(KvVContainer* container) {
    SetContainer(container);
    return *this;
}

KvVIterator::~KvVIterator() = default;

void KvVIterator::SetContainer(KvVContainer* container) {
    this->container = container;
    status = container != nullptr ? KvCONT_BEFORE_FIRST : KvCONT_NO_CONTAINER;
}

unsigned short KvVIterator::GetType() const {
    return KvCONT_TYPE_BASE;
}

KvVIterator* KvVIterator::Clone(KvVIterator*) const {
    return nullptr;
}

int KvVIterator::First() {
    return KvCONT_NOT_IMPLEMENTED;
}

int KvVIterator::Next() {
    return KvCONT_NOT_IMPLEMENTED;
}

int KvVIterator::Prior() {
    return KvCONT_NOT_IMPLEMENTED;
}

int KvVIterator::Last() {
    return KvCONT_NOT_IMPLEMENTED;
}

int KvVIterator::CompareElement(const KvVIterator* other, KvVParameter* p1, int& keyResult,
                                int& orderResult, KvVParameter* p2) const {
    if (status < 0) return status;
    if (other == nullptr) return KvCONT_NO_POSITION;
    if (other->status < 0) return other->status;
    int result = 0;
    const void* key = other->GetKey(result, p1);
    if (result < 0) return result;
    const void* dat = other->GetDat(result, p1);
    if (result == KvCONT_NO_DAT) {
        dat = nullptr;
        result = 0;
    }
    if (result < 0) return result;
    const void* element = GetElement(result, p2);
    if (result < 0) return result;
    if (container == nullptr || container->CompareFunction == nullptr) {
        return KvCONT_NOT_IMPLEMENTED;
    }
    KvCompareArgs args{container, &keyResult, &orderResult, other, key, dat, element, p2};
    result = container->CompareFunction(&args);
    // The function compares the other key against this element; turn it round.
    keyResult = Negate(keyResult);
    orderResult = Negate(orderResult);
    return result;
}

int KvVIterator::SearchElement(const KvVIterator*, KvVParameter*, unsigned short, KvVParameter*) {
    return KvCONT_NOT_IMPLEMENTED;
}

int KvVIterator::InsertElement(const KvVIterator*, KvVParameter*, unsigned short, KvVParameter*) {
    return KvCONT_NOT_IMPLEMENTED;
}

int KvVIterator::UpdateElement(const KvVIterator*, KvVParameter*, unsigned short, KvVParameter*) {
    return KvCONT_NOT_IMPLEMENTED;
}

int KvVIterator::DeleteElement(unsigned short, KvVParameter*) {
    return KvCONT_NOT_IMPLEMENTED;
}

void KvVIterator::Destroy() {
    container = nullptr;
    status = KvCONT_NO_CONTAINER;
}

const void* KvVIterator::GetEntry(int& status, KvVParameter*) const {
    status = KvCONT_NOT_IMPLEMENTED;
    return nullptr;
}

int KvVIterator::GetEntryParts(const void* entry, const void** element, const void** key,
                               const void** dat, unsigned int* flags,
                               KvVParameter* parameter) const {
    int result = 0;
    if (container == nullptr) return 0;
    if (element == nullptr && key == nullptr && dat == nullptr && flags == nullptr) return 0;
    const void* el = container->GetElementOfEntry(entry);
    if (element != nullptr) {
        if (el == nullptr) return KvCONT_NOT_IMPLEMENTED;
        *element = el;
    }
    if (el == nullptr) return result;
    if (key != nullptr) {
        if (container->KeyFunction == nullptr) return KvCONT_NOT_IMPLEMENTED;
        *key = container->KeyFunction(container, el, &result, parameter);
        if (result < 0) return result;
    }
    if (flags != nullptr) {
        if (container->FlagsFunction == nullptr) return KvCONT_NOT_IMPLEMENTED;
        *flags = container->FlagsFunction(container, el, &result, parameter);
        if (result < 0) return result;
    }
    if (dat != nullptr) {
        if (container->DatFunction == nullptr) return KvCONT_NOT_IMPLEMENTED;
        *dat = container->DatFunction(container, el, &result, parameter);
    }
    return result;
}

const void* KvVIterator::GetElement(int& status, KvVParameter* parameter) const {
    const void* entry = GetEntry(status, parameter);
    if (entry == nullptr || container == nullptr) return nullptr;
    const void* element = container->GetElementOfEntry(entry);
    if (element == nullptr) status = KvCONT_NOT_IMPLEMENTED;
    return element;
}

// Without an element (whatever kept GetEntry from giving one: off an entry, a
// changed container) or without the table function, GetKey, GetDat and
// GetFlags answer -2999.
const void* KvVIterator::GetKey(int& status, KvVParameter* parameter) const {
    const void* element = GetElement(status, parameter);
    if (element == nullptr || container->KeyFunction == nullptr) {
        status = KvCONT_NOT_IMPLEMENTED;
        return nullptr;
    }
    return container->KeyFunction(container, element, &status, parameter);
}

const void* KvVIterator::GetDat(int& status, KvVParameter* parameter) const {
    const void* element = GetElement(status, parameter);
    if (element == nullptr || container->DatFunction == nullptr) {
        status = KvCONT_NOT_IMPLEMENTED;
        return nullptr;
    }
    return container->DatFunction(container, element, &status, parameter);
}

unsigned int KvVIterator::GetFlags(int& status, KvVParameter* parameter) const {
    const void* element = GetElement(status, parameter);
    if (element == nullptr || container->FlagsFunction == nullptr) {
        status = KvCONT_NOT_IMPLEMENTED;
        return 0;
    }
    return container->FlagsFunction(container, element, &status, parameter);
}
