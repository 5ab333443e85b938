// PrfData: the item table, the shared performance data block and the
// performance-extension entry points.
#include "prfdata.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kvlog.h"
#include "kvmemory.h"
#include "platform/registry_store.h"
#include "platform/shared_memory.h"
#include "statistics/perf_objects.h"
#include "statistics/perf_registry.h"
#include "statistics/prfdata_items.h"
#include "statistics/statistics_mirror.h"
#include "util/utf.h"

namespace {

using tq::perf::ReadNumber;
using tq::platform::RegistryKey;
using tq::platform::RegistryStatus;
using tq::platform::RegistryStore;

constexpr const char* kSourceFile = "basics\\src\\prfdata";

void Check(bool condition, const char* expression, int line) {
    if (!condition) KIVO_assert(expression, kSourceFile, line);
}

bool ValidDetailLevel(uint32_t level) {
    return level == PERF_DETAIL_NOVICE || level == PERF_DETAIL_ADVANCED ||
           level == PERF_DETAIL_EXPERT || level == PERF_DETAIL_WIZARD;
}

std::string PerformanceKey(const char16_t* appName) {
    return "SYSTEM\\CurrentControlSet\\Services\\" + tq::Utf8FromUtf16(appName) + "\\Performance";
}

void Store32(unsigned char* at, uint32_t value) {
    std::memcpy(at, &value, 4);
}

uint32_t CounterBlockSize(const PRFITM& object) {
    return 8 + 8 * static_cast<uint32_t>(object.NumCounters);
}

uint32_t DefinitionLength(const PRFITM& object) {
    return KV_PERF_OBJECT_TYPE_SIZE +
           KV_PERF_COUNTER_DEFINITION_SIZE * static_cast<uint32_t>(object.NumCounters);
}

bool HasInstances(const PRFITM& object) {
    return object.MaxInstances != PERF_NO_INSTANCES;
}

uint32_t ObjectBlockSize(const PRFITM& object) {
    if (!HasInstances(object)) return DefinitionLength(object) + CounterBlockSize(object);
    const uint32_t instances = static_cast<uint32_t>(object.MaxInstances);
    return DefinitionLength(object) +
           instances * (KV_PERF_INSTANCE_DEFINITION_SIZE +
                        2 * static_cast<uint32_t>(object.cchMaxInstName)) +
           instances * CounterBlockSize(object);
}

uint32_t Load32(const unsigned char* at) {
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

// Whether a copied object carries the lengths, counts and offsets that the
// provider lays out. A provider that died while laying the block out, or one
// that lays it out again under a reader, leaves a copy without them; a host
// must never walk such records.
bool IsLaidOut(const unsigned char* part, const PRFITM& object) {
    const uint32_t counters = static_cast<uint32_t>(object.NumCounters);
    if (Load32(part + 4) != DefinitionLength(object) ||
        Load32(part + 8) != KV_PERF_OBJECT_TYPE_SIZE || Load32(part + 32) != counters) {
        return false;
    }
    const unsigned char* definition = part + KV_PERF_OBJECT_TYPE_SIZE;
    for (uint32_t c = 0; c < counters; ++c, definition += KV_PERF_COUNTER_DEFINITION_SIZE) {
        if (Load32(definition) != KV_PERF_COUNTER_DEFINITION_SIZE || Load32(definition + 32) != 8 ||
            Load32(definition + 36) != 8 + 8 * c) {
            return false;
        }
    }
    return HasInstances(object) ||
           Load32(part + DefinitionLength(object)) == CounterBlockSize(object);
}

bool EqualsIgnoringCase(const char16_t* text, const char* ascii) {
    for (; *ascii != '\0'; ++text, ++ascii) {
        char16_t c = *text;
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        char a = *ascii >= 'A' && *ascii <= 'Z' ? static_cast<char>(*ascii - 'A' + 'a') : *ascii;
        if (c != static_cast<char16_t>(a)) return false;
    }
    return *text == 0;
}

// Names an object that the provider does not use, and why, in the system log.
void LogRefusal(const std::string& why) {
    KvSystemLog()->Log(KV_LOG_ERROR, "Tessaloquin performance counters: %s, so it is not used",
                       why.c_str());
}

tq::platform::SharedBlock* BlockOf(void* handle) {
    return static_cast<tq::platform::SharedBlock*>(handle);
}

}  // namespace

void (*tq::g_providerStepHook)(int step) = nullptr;

PrfData* PrfData::sm_pPrfData = nullptr;

PrfData::PrfData(const char16_t* appName, PRFITM* items)
    : m_pszAppName(appName), m_pPrfItms(items) {
    int current = -1;
    for (int pii = 0; m_pPrfItms[pii].Type != PRFITM_END; ++pii) {
        PRFITM& item = m_pPrfItms[pii];
        ++m_nNumPrfItms;
        Check(item.dwId != 0, "m_pPrfItms[pii].dwId != 0", 636);
        if (item.Type == PRFITM_OBJECT) {
            Check(CvtObjIdToPrfItmIndex(static_cast<OBJID>(item.dwId)) == pii,
                  "CvtObjIdToPrfItmIndex((OBJID)(KvPtrWord) m_pPrfItms[pii].dwId) == pii", 649);
            Check(item.DefCounter == -1 ||
                      CvtCtrIdToPrfItmIndex(static_cast<CTRID>(item.DefCounter)) != -1,
                  "(m_pPrfItms[pii].DefCounter == (CTRID) -1) || "
                  "(CvtCtrIdToPrfItmIndex(m_pPrfItms[pii].DefCounter) != -1)",
                  653);
            Check(item.MaxInstances == PERF_NO_INSTANCES || item.MaxInstances > 0,
                  "(m_pPrfItms[pii].MaxInstances == (INSTID) PERF_NO_INSTANCES) || "
                  "(m_pPrfItms[pii].MaxInstances > 0)",
                  656);
            Check(ValidDetailLevel(item.dwDetailLevel),
                  "(m_pPrfItms[pii].dwDetailLevel >= PERF_DETAIL_NOVICE) && "
                  "(m_pPrfItms[pii].dwDetailLevel <= PERF_DETAIL_WIZARD)",
                  661);
            ++m_nNumObjects;
            if (current != -1) {
                Check(m_pPrfItms[current].NumCounters > 0, "m_pPrfItms[piiCrntObj].NumCounters > 0",
                      669);
                m_pPrfItms[current].NextObjItem = static_cast<uint32_t>(pii);
            }
            item.NumCounters = 0;
            item.NextObjItem = static_cast<uint32_t>(-1);
            current = pii;
        } else {
            Check(pii != 0, "pii != 0", 683);
            Check(CvtCtrIdToPrfItmIndex(static_cast<CTRID>(item.dwId)) == pii,
                  "CvtCtrIdToPrfItmIndex( (CTRID)(KvPtrWord) m_pPrfItms[pii].dwId) == pii", 687);
            Check(ValidDetailLevel(item.dwDetailLevel),
                  "(m_pPrfItms[pii].dwDetailLevel >= PERF_DETAIL_NOVICE) && "
                  "(m_pPrfItms[pii].dwDetailLevel <= PERF_DETAIL_WIZARD)",
                  694);
            // A counter first in the table fails the check above: an object precedes.
            if (current >= 0) ++m_pPrfItms[current].NumCounters;  // GCOVR_EXCL_BR_LINE: see above
        }
    }
}

PrfData::~PrfData() {
    if (m_hfm != nullptr) {
        tq::platform::CloseSharedBlock(BlockOf(m_hfm));
        delete BlockOf(m_hfm);  // GCOVR_EXCL_BR_LINE: delete's own null check; never null here
    }
    m_hfm = nullptr;
    m_pPrfData = nullptr;
    tq::platform::ReleaseInstanceGuard(m_guard);
}

PrfData* PrfData::Instance() {
    static PrfData* instance = [] {
        Check(sm_pPrfData == nullptr, "sm_pPrfData == NULL", 89);
        // Alive through exit, so that late statistics updates stay harmless;
        // the block is unmapped by the exit handler once the mirror is off.
        // GCOVR_EXCL_BR_START: the built-in table passes the checks; the other branches
        // free the object when its construction throws
        sm_pPrfData = new PrfData(tq::kApplicationName, tq::g_statisticsItems);
        // GCOVR_EXCL_BR_STOP
        std::atexit([] {
            tq::DetachStatisticsMirror();
            PrfData* data = sm_pPrfData;
            if (data->m_hfm != nullptr) {
                tq::platform::CloseSharedBlock(BlockOf(data->m_hfm));
                delete BlockOf(data->m_hfm);  // GCOVR_EXCL_BR_LINE: delete's null check
                data->m_hfm = nullptr;
                data->m_pPrfData = nullptr;
            }
        });
        return sm_pPrfData;
    }();  // GCOVR_EXCL_BR_LINE: the static's guard is given back only when this throws
    return instance;
}

// ---------------------------------------------------------------------------
// Conversions

PRFITM* PrfData::CvtCtrIdToPrfItm(CTRID CtrId) const {
    int index = CvtCtrIdToPrfItmIndex(CtrId);
    return index < 0 ? nullptr : &m_pPrfItms[index];
}

int PrfData::CvtCtrIdToPrfItmIndex(CTRID CtrId) const {
    for (int i = 0; m_pPrfItms[i].Type != PRFITM_END; ++i) {
        if (m_pPrfItms[i].Type == PRFITM_COUNTER && m_pPrfItms[i].dwId == CtrId) return i;
    }
    return -1;
}

int PrfData::CvtObjIdToPrfItmIndex(OBJID ObjId) const {
    for (int i = 0; m_pPrfItms[i].Type != PRFITM_END; ++i) {
        if (m_pPrfItms[i].Type == PRFITM_OBJECT && m_pPrfItms[i].dwId == ObjId) return i;
    }
    return -1;
}

PRFITM* PrfData::CvtObjOrdToPrfItm(int ObjOrd) const {
    if (!IsValidObjOrd(ObjOrd)) return nullptr;
    uint32_t index = 0;
    for (int ord = 0; ord < ObjOrd; ++ord)
        index = m_pPrfItms[index].NextObjItem;
    return &m_pPrfItms[index];
}

int PrfData::CvtObjIdToObjOrd(OBJID ObjId) const {
    for (int ord = 0; ord < m_nNumObjects; ++ord) {
        if (CvtObjOrdToPrfItm(ord)->dwId == ObjId) return ord;
    }
    return -1;
}

bool PrfData::IsValidInstId(int ObjOrd, INSTID InstId) const {
    if (!IsValidObjOrd(ObjOrd)) return false;
    const PRFITM* object = CvtObjOrdToPrfItm(ObjOrd);
    if (!HasInstances(*object)) return InstId == 0;
    return InstId >= 0 && InstId <= object->MaxInstances - 1;
}

uint64_t* PrfData::CounterSlot(CTRID CtrId, INSTID InstId) const {
    const int index = CvtCtrIdToPrfItmIndex(CtrId);
    if (index < 0 || m_pPrfData == nullptr) return nullptr;
    // A consumer's block is its private copy: brought up to date here.
    tq::platform::SharedBlock* block = BlockOf(m_hfm);
    if (!block->writable && !tq::platform::RefreshSharedBlock(block)) return nullptr;
    int objectIndex = index;
    while (m_pPrfItms[objectIndex].Type != PRFITM_OBJECT)
        --objectIndex;
    const uint32_t ordinal = static_cast<uint32_t>(index - objectIndex - 1);
    int objectOrd = 0;
    uint32_t offset = 0;
    for (int i = 0; i < objectIndex; ++i) {
        if (m_pPrfItms[i].Type == PRFITM_OBJECT) {
            ++objectOrd;
            offset += m_pPrfItms[i].cbObjBlock;
        }
    }
    if (!IsValidInstId(objectOrd, InstId)) return nullptr;
    const PRFITM& object = m_pPrfItms[objectIndex];
    offset += DefinitionLength(object);
    if (HasInstances(object)) {
        offset += static_cast<uint32_t>(object.MaxInstances) * KV_PERF_INSTANCE_DEFINITION_SIZE +
                  static_cast<uint32_t>(InstId) * CounterBlockSize(object);
    }
    offset += 8 + 8 * ordinal;
    return reinterpret_cast<uint64_t*>(static_cast<unsigned char*>(m_pPrfData) + offset);
}

int32_t* PrfData::CounterSlot32(CTRID CtrId, INSTID InstId) const {
    const PRFITM* item = CvtCtrIdToPrfItm(CtrId);
    if (item != nullptr && (item->dwCounterType & PERF_MASK_SIZE_FLD) != PERF_SIZE_DWORD) {
        KIVO_assert(
            "(CvtCtrIdToPrfItm(CtrId)->dwCounterType & PERF_MASK_SIZE_FLD) == PERF_SIZE_DWORD",
            "basics\\inc\\prfdata", 297);
    }
    // The low four bytes of the slot, in the platform's byte order.
    return reinterpret_cast<int32_t*>(CounterSlot(CtrId, InstId));
}

uint32_t PrfData::BlockSize() const {
    uint32_t size = 0;
    for (int i = 0; m_pPrfItms[i].Type != PRFITM_END; ++i) {
        if (m_pPrfItms[i].Type == PRFITM_OBJECT) size += ObjectBlockSize(m_pPrfItms[i]);
    }
    return size;
}

// ---------------------------------------------------------------------------
// Activation

int PrfData::Activate(int fProvider) {
    const std::string keyPath = PerformanceKey(m_pszAppName);
    RegistryKey key;
    if (RegistryStore::OpenKey(keyPath, &key) != RegistryStatus::kOk) return 2;
    uint32_t disabled = 0;
    // GCOVR_EXCL_BR_START: the outcomes are tested; the other branches clean up the
    // temporary name when building it throws (the heap refused)
    if (ReadNumber(key, "Disable Performance Counters", &disabled) && disabled != 0) return 1;
    // GCOVR_EXCL_BR_STOP

    int guard = -1;
    if (fProvider != 0) {
        const std::string guardName = tq::perf::GuardName(tq::Utf8FromUtf16(m_pszAppName));
        std::string why;
        // GCOVR_EXCL_BR_START: every result has its case; none other exists
        switch (tq::platform::AcquireInstanceGuard(guardName.c_str(), &guard, &why)) {
            // GCOVR_EXCL_BR_STOP
            case tq::platform::GuardResult::kAcquired:
                break;
            case tq::platform::GuardResult::kHeldElsewhere:
                return 3;
            case tq::platform::GuardResult::kFailed:
                LogRefusal(why);
                return -1;
        }
    }
    if (fProvider != 0 && tq::g_providerStepHook != nullptr) tq::g_providerStepHook(0);
    ReadNumber(key, "First Counter", &m_dwFirstCounter);
    ReadNumber(key, "First Help", &m_dwFirstHelp);
    ReadNumber(key, "Last Counter", &m_dwLastCounter);
    ReadNumber(key, "Last Help", &m_dwLastHelp);
    RegistryStore::CloseKey(&key);

    const int result = ActivateLocked(fProvider, guard);
    if (result == 0) {
        m_guard = guard;
    } else {
        // A provider that could not set up gives the role back.
        tq::platform::ReleaseInstanceGuard(guard);
    }
    return result;
}

int PrfData::ActivateLocked(int fProvider, int) {
    const uint32_t items = static_cast<uint32_t>(m_nNumPrfItms);
    if (items != (m_dwLastCounter - m_dwFirstCounter) / 2 + 1 ||
        items != (m_dwLastHelp - m_dwFirstHelp) / 2 + 1) {
        KvSystemLog()->Log(KV_LOG_INFORMATION,
                           "Tessaloquin performance counter are inconsistent, please deregister "
                           "and register again");
        return -1;
    }
    Check(m_pPrfData == nullptr, "m_pPrfData == NULL", 365);
    for (int i = 0; m_pPrfItms[i].Type != PRFITM_END; ++i) {
        if (m_pPrfItms[i].Type == PRFITM_OBJECT) {
            m_pPrfItms[i].cbObjBlock = ObjectBlockSize(m_pPrfItms[i]);
        }
    }
    const uint32_t size = BlockSize();
    const std::string app = tq::Utf8FromUtf16(m_pszAppName);
    auto* block = new tq::platform::SharedBlock;
    bool mapped = false;
    if (fProvider != 0) {
        using tq::platform::BlockStatus;
        // Another account's object is never written to: it is named in the
        // log, and the account's own name (or nothing) is used instead.
        auto create = [&](const std::string& name) {
            std::string why;
            const BlockStatus status =
                tq::platform::CreateSharedBlock(name.c_str(), size, block, &why);
            if (status == BlockStatus::kRefused) LogRefusal(why);
            return status == BlockStatus::kOk;
        };
        const std::string local = tq::perf::LocalBlockName(app);
        const bool localOwn =
            tq::platform::ProbeSharedBlock(local.c_str(), nullptr) == BlockStatus::kOk;
        // GCOVR_EXCL_BR_START: the paths are tested; the other branches clean up the
        // temporary name when building it throws (the heap refused)
        mapped = (!localOwn && create(tq::perf::GlobalBlockName(app))) || create(local);
        // GCOVR_EXCL_BR_STOP
    } else {
        mapped = tq::perf::OpenConsumerBlock(app, size, block, nullptr) ==
                 tq::platform::BlockStatus::kOk;
    }
    if (!mapped) {
        delete block;  // GCOVR_EXCL_BR_LINE: delete's own null check; never null here
        return -1;
    }
    m_hfm = block;
    m_pPrfData = block->address;
    // The named block outlives its provider here, so a provider always lays
    // it out again: a block left by an earlier installation may carry other
    // name indexes. Consumers that read it keep their descriptor.
    if (fProvider != 0) {
        if (tq::g_providerStepHook != nullptr) tq::g_providerStepHook(1);
        InitializeBlock();
    }
    return 0;
}

void PrfData::InitializeBlock() {
    // Field by field, each step seen by the test hook.
    int step = 1;
    auto store = [&step](unsigned char* to, uint32_t value) {
        Store32(to, value);
        if (tq::g_providerStepHook != nullptr) tq::g_providerStepHook(++step);
    };
    unsigned char* at = static_cast<unsigned char*>(m_pPrfData);
    for (int i = 0; m_pPrfItms[i].Type != PRFITM_END;) {
        const PRFITM& object = m_pPrfItms[i];
        const uint32_t counters = static_cast<uint32_t>(object.NumCounters);
        unsigned char* part = at;
        std::memset(part, 0, object.cbObjBlock);
        store(part + 4, DefinitionLength(object));
        store(part + 8, KV_PERF_OBJECT_TYPE_SIZE);
        store(part + 12, m_dwFirstCounter + 2 * static_cast<uint32_t>(i));
        store(part + 20, m_dwFirstHelp + 2 * static_cast<uint32_t>(i));
        store(part + 28, object.dwDetailLevel);
        store(part + 32, counters);
        int32_t defaultOrdinal = -1;
        if (object.DefCounter != -1) {
            defaultOrdinal = CvtCtrIdToPrfItmIndex(static_cast<CTRID>(object.DefCounter)) - i - 1;
        }
        store(part + 36, static_cast<uint32_t>(defaultOrdinal));
        store(part + 40, static_cast<uint32_t>(object.MaxInstances));
        unsigned char* definition = part + KV_PERF_OBJECT_TYPE_SIZE;
        for (uint32_t c = 0; c < counters; ++c, definition += KV_PERF_COUNTER_DEFINITION_SIZE) {
            const PRFITM& counter = m_pPrfItms[static_cast<uint32_t>(i) + 1 + c];
            const uint32_t item = static_cast<uint32_t>(i) + 1 + c;
            store(definition, KV_PERF_COUNTER_DEFINITION_SIZE);
            store(definition + 4, m_dwFirstCounter + 2 * item);
            store(definition + 12, m_dwFirstHelp + 2 * item);
            store(definition + 20, static_cast<uint32_t>(counter.DefaultScale));
            store(definition + 24, counter.dwDetailLevel);
            store(definition + 28, counter.dwCounterType);
            store(definition + 32, 8);
            store(definition + 36, 8 + 8 * c);
        }
        unsigned char* counterBlocks = part + DefinitionLength(object);
        const uint32_t blocks =
            HasInstances(object) ? static_cast<uint32_t>(object.MaxInstances) : 1;
        if (HasInstances(object)) counterBlocks += blocks * KV_PERF_INSTANCE_DEFINITION_SIZE;
        for (uint32_t b = 0; b < blocks; ++b) {
            store(counterBlocks + b * CounterBlockSize(object), CounterBlockSize(object));
        }
        at += object.cbObjBlock;
        i += 1 + static_cast<int>(counters);
    }
}

void PrfData::FollowReplacedBlock() {
    tq::platform::SharedBlock* block = BlockOf(m_hfm);
    if (block == nullptr || block->writable || !tq::platform::SharedBlockRemoved(*block)) return;
    tq::platform::SharedBlock fresh;
    // GCOVR_EXCL_BR_START: the outcomes are tested; the other branch cleans up the
    // temporary name when building it throws (the heap refused)
    if (tq::perf::OpenConsumerBlock(tq::Utf8FromUtf16(m_pszAppName), block->size, &fresh,
                                    nullptr) != tq::platform::BlockStatus::kOk) {
        // GCOVR_EXCL_BR_STOP
        return;  // the old copy holds the values its provider left
    }
    tq::platform::CloseSharedBlock(block);
    *block = fresh;
    m_pPrfData = block->address;
}

// ---------------------------------------------------------------------------
// Collection

uint32_t PrfData::Collect(const char16_t* valueName, void** ppData, uint32_t* pcbTotal,
                          uint32_t* pNumObjects) {
    void* const entryData = *ppData;
    try {
        if (valueName == nullptr || m_pPrfData == nullptr) throw 0;
        std::string filter;
        const bool everything = EqualsIgnoringCase(valueName, "Global");
        if (!everything) {
            filter = ' ';
            filter += tq::Utf8FromUtf16(valueName);
            filter += ' ';
        }
        *pNumObjects = 0;
        uint32_t needed = 0;
        for (int ord = 0; ord < m_nNumObjects; ++ord) {
            PRFITM* object = CvtObjOrdToPrfItm(ord);
            object->fCollectThisObj = 0;
            const uint32_t index = static_cast<uint32_t>(object - m_pPrfItms);
            char number[16];
            std::snprintf(number, sizeof number, " %u ", m_dwFirstCounter + 2 * index);
            if (!everything && filter.find(number) == std::string::npos) continue;
            object->fCollectThisObj = 1;
            needed += HasInstances(*object) ? DefinitionLength(*object)
                                            : DefinitionLength(*object) + CounterBlockSize(*object);
        }
        if (*pcbTotal < needed) {
            *pcbTotal = 0;
            return KV_PERF_MORE_DATA;
        }
        // A host that claims room but passes no buffer gets no data.
        if (needed != 0 && entryData == nullptr) throw 0;
        // A consumer reads a fresh copy; nothing is read from a block that
        // someone shrank under us.
        if (!tq::platform::RefreshSharedBlock(BlockOf(m_hfm))) throw 0;
        *pcbTotal = 0;
        const unsigned char* part = static_cast<const unsigned char*>(m_pPrfData);
        for (int ord = 0; ord < m_nNumObjects; ++ord) {
            const PRFITM* object = CvtObjOrdToPrfItm(ord);
            if (object->fCollectThisObj != 0) {
                // Objects with instances are given without their instances.
                const uint32_t bytes = HasInstances(*object)
                                           ? DefinitionLength(*object)
                                           : DefinitionLength(*object) + CounterBlockSize(*object);
                unsigned char* out = static_cast<unsigned char*>(*ppData);
                std::memcpy(out, part, bytes);
                if (!IsLaidOut(out, *object)) throw 0;  // no data rather than broken records
                Store32(out, bytes);
                Store32(out + 40, HasInstances(*object) ? 0u : static_cast<uint32_t>(-1));
                *ppData = out + bytes;
                *pcbTotal += bytes;
                *pNumObjects += 1;
            }
            part += object->cbObjBlock;
        }
        return 0;
    } catch (...) {
        *ppData = entryData;
        *pcbTotal = 0;
        *pNumObjects = 0;
        return 0;
    }
}

// ---------------------------------------------------------------------------
// Entry points

uint32_t PrfData_Open(char16_t*) {
    try {
        PrfData* data = PrfData::Instance();
        if (!data->IsActive()) {
            data->Activate(0);
        } else {
            data->FollowReplacedBlock();
        }
    } catch (...) {  // GCOVR_EXCL_LINE: only when the heap refuses (std::bad_alloc)
    }
    return 0;
}

uint32_t PrfData_Collect(char16_t* valueName, void** ppData, uint32_t* pcbTotal,
                         uint32_t* pNumObjects) {
    if (ppData == nullptr || pcbTotal == nullptr || pNumObjects == nullptr) return 0;
    try {
        return PrfData::Instance()->Collect(valueName, ppData, pcbTotal, pNumObjects);
    } catch (...) {  // GCOVR_EXCL_START: only when the heap refuses the instance
        *pcbTotal = 0;
        *pNumObjects = 0;
        return 0;
    }  // GCOVR_EXCL_STOP
}

uint32_t PrfData_Close() {
    return 0;
}
