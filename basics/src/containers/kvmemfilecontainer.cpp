// The memory-file container: fixed-size records stored back to back in a
// memory file, walked forward and compared byte by byte.
#include <cstring>

#include "kvcontainer.h"
#include "memfile.h"

KvMemFileContainer::KvMemFileContainer(MemFile* file, unsigned int recordSize,
                                       unsigned int recordCount)
    : KvVContainer(recordSize, 0),
      file(file),
      startPosition(file != nullptr ? static_cast<uint32_t>(file->GetPosition()) : 0),
      index(0) {
    count = recordCount;
}

KvMemFileContainer::~KvMemFileContainer() = default;

KvMemFileIterator::KvMemFileIterator(KvMemFileContainer* container)
    : KvVIterator(nullptr, container), currentRecord(nullptr) {}

KvMemFileIterator::~KvMemFileIterator() = default;

KvMemFileContainer* KvMemFileIterator::Own() const {
    return dynamic_cast<KvMemFileContainer*>(container);
}

// The record of that number when the whole of it lies inside the file, else
// null. Records are found from the start position, so other users of the
// file's position (another container over the same file) do not disturb the
// walk; the position is left on the record as a relative seek would leave it.
const unsigned char* KvMemFileIterator::RecordAt(KvMemFileContainer& own,
                                                 uint64_t recordIndex) const {
    if (own.file == nullptr) return nullptr;
    const uint64_t offset = own.startPosition + recordIndex * own.elementSize;
    // GCOVR_EXCL_BR_START: the record before it ended inside the file (at most INT32_MAX bytes)
    if (offset > INT32_MAX) return nullptr;
    // GCOVR_EXCL_BR_STOP
    unsigned int length = own.elementSize;
    const unsigned char* record = own.file->Seek(static_cast<int>(offset), 0, &length);
    return length == own.elementSize ? record : nullptr;
}

int KvMemFileIterator::First() {
    KvMemFileContainer* own = Own();
    if (own == nullptr) return status = KvCONT_NO_CONTAINER;
    currentRecord = nullptr;
    if (own->count == 0) return status = KvCONT_BEFORE_FIRST;
    own->index = 0;
    currentRecord = RecordAt(*own, 0);
    return status = currentRecord != nullptr ? 0 : KvCONT_BEFORE_FIRST;
}

int KvMemFileIterator::Next() {
    KvMemFileContainer* own = Own();
    if (own == nullptr) return status = KvCONT_NO_CONTAINER;
    if (status == KvCONT_BEFORE_FIRST) {
        // Not positioned yet: the first record, if there is one.
        if (First() == KvCONT_BEFORE_FIRST) status = KvCONT_AFTER_LAST;
        return status;
    }
    if (status != 0) return status;
    currentRecord = RecordAt(*own, uint64_t{own->index} + 1);
    if (currentRecord == nullptr) return status = KvCONT_AFTER_LAST;
    ++own->index;
    return status = own->index < own->count ? 0 : KvCONT_AFTER_LAST;
}

int KvMemFileIterator::CompareElement(const KvVIterator* other, KvVParameter* p1, int& keyResult,
                                      int& orderResult, KvVParameter* p2) const {
    int result = 0;
    const void* mine = GetEntry(result, p2);
    if (result < 0) return result;
    if (other == nullptr) return KvCONT_NO_POSITION;
    const void* theirs = other->GetEntry(result, p1);
    if (result < 0) return result;
    if (mine == nullptr || theirs == nullptr) return KvCONT_NO_POSITION;
    if (container == nullptr) return KvCONT_NO_CONTAINER;  // GCOVR_EXCL_BR_LINE: unbound: -520
    // The other entry must hold a whole record to compare with.
    const uint32_t size = container->elementSize;
    if (other->container == nullptr || other->container->elementSize < size) {
        return KvCONT_NOT_IMPLEMENTED;
    }
    keyResult = orderResult = std::memcmp(mine, theirs, size);
    return result;
}

const void* KvMemFileIterator::GetEntry(int& status, KvVParameter*) const {
    status = this->status;
    return currentRecord;
}

const void* KvMemFileIterator::GetKey(int& status, KvVParameter* parameter) const {
    return GetEntry(status, parameter);
}
