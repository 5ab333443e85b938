/// \file
/// The performance data block: the item table of the statistics' performance
/// object and counters, the shared block that mirrors their values, and the
/// entry points through which a performance host collects them.
///
/// The provider (the server, through KvStatistics::Enable) creates the block
/// and writes the values; consumers (the performance host, through
/// PrfData_Open) read it. Block names: `Global\<app>_Performance` is the POSIX
/// shared memory object `/<ns><app>_Performance` (the machine-wide block),
/// `<app>_Performance` is `/<ns><app>_Performance.u<euid>` (one per user
/// account), with `<ns>` from `$TQ_SHM_NAMESPACE` (empty by default). The
/// provider guard `<app>_mt` is an exclusive lock on
/// `/dev/shm/<ns><app>_mt.u<euid>/lock`, in a directory only the account may
/// change, released by the kernel when the provider ends.
///
/// Other accounts: a block is created with mode 0644 (every account reads, only
/// the provider's account writes). A provider uses an existing block only when
/// it belongs to its account and no one else may write it; it names any other
/// in the system log and falls back to the account's own block. A consumer
/// never reads a block that group or others may write, nor an account block of
/// another owner, and reads through the descriptor, so that a block cut short
/// under it gives no data rather than a fault.
#ifndef KVBASICS_PRFDATA_H
#define KVBASICS_PRFDATA_H

#include <cstddef>
#include <cstdint>

#include "kvexport.h"

// Platform values of the performance-data records.
inline constexpr uint32_t PERF_DETAIL_NOVICE = 100;             ///< detail level: every user
inline constexpr uint32_t PERF_DETAIL_ADVANCED = 200;           ///< detail level: advanced users
inline constexpr uint32_t PERF_DETAIL_EXPERT = 300;             ///< detail level: experts
inline constexpr uint32_t PERF_DETAIL_WIZARD = 400;             ///< detail level: developers
inline constexpr uint32_t PERF_COUNTER_RAWCOUNT = 0x00010000u;  ///< a count shown as it stands
inline constexpr uint32_t PERF_COUNTER_COUNTER =
    0x10410400u;                                             ///< a count shown as a rate per second
inline constexpr uint32_t PERF_MASK_SIZE_FLD = 0x00000300u;  ///< the size bits of a counter type
inline constexpr uint32_t PERF_SIZE_DWORD = 0x00000000u;     ///< size bits: a 32-bit value
inline constexpr uint32_t PERF_SIZE_LARGE = 0x00000100u;     ///< size bits: a 64-bit value
inline constexpr intptr_t PERF_NO_INSTANCES = -1;            ///< an object without instances
inline constexpr uint32_t KV_PERF_MORE_DATA = 234;           ///< the buffer is too small

// Record sizes in the block.
inline constexpr uint32_t KV_PERF_OBJECT_TYPE_SIZE = 64;          ///< bytes of an object header
inline constexpr uint32_t KV_PERF_COUNTER_DEFINITION_SIZE = 40;   ///< bytes of a counter definition
inline constexpr uint32_t KV_PERF_INSTANCE_DEFINITION_SIZE = 24;  ///< bytes of an instance header

using OBJID = uintptr_t;  ///< identifier of a performance object in the item table
using CTRID = uintptr_t;  ///< identifier of a counter in the item table
using INSTID = intptr_t;  ///< instance number, 0 for objects without instances

/// One item of the table: an object followed by its counters; Type 0 ends it.
struct PRFITM {
    uint32_t Type;             ///< 0 end, 1 object, 2 counter
    uintptr_t dwId;            ///< the object's or counter's identifier
    const char16_t* pszName;   ///< its name, not owned
    const char16_t* pszHelp;   ///< its help text, not owned
    uint32_t dwDetailLevel;    ///< one of the PERF_DETAIL_ values
    intptr_t DefCounter;       ///< objects: the default counter's identifier, or -1
    intptr_t MaxInstances;     ///< objects: PERF_NO_INSTANCES or the instance slots
    uintptr_t cchMaxInstName;  ///< objects: room for one instance name
    uintptr_t NumCounters;     ///< objects: computed at start-up
    uint32_t NextObjItem;      ///< objects: computed; index of the next object, -1
    uint32_t cbObjBlock;       ///< objects: computed at activation
    uint32_t fCollectThisObj;  ///< objects: set per collection
    int32_t DefaultScale;      ///< counters
    uint32_t dwCounterType;    ///< counters
};

/// Values of PRFITM::Type.
enum : uint32_t {
    PRFITM_END = 0,      ///< ends the table
    PRFITM_OBJECT = 1,   ///< a performance object
    PRFITM_COUNTER = 2,  ///< a counter of the object before it
};

/// The item table and the block. One process-wide instance (sm_pPrfData) serves
/// the statistics and the entry points; tests may build others over tables of
/// their own and with application names of their own.
class KVBASICS_API PrfData {
public:
    /// Walks the table, computing the object fields; a malformed table fails an
    /// assertion.
    PrfData(const char16_t* appName, PRFITM* items);
    ~PrfData();
    PrfData(const PrfData&) = delete;
    PrfData& operator=(const PrfData&) = delete;

    /// The process-wide instance, over this library's own table.
    static PrfData* sm_pPrfData;
    /// sm_pPrfData, created on first use.
    static PrfData* Instance();

    /// Maps the block as the provider (fProvider 1) or a consumer (0).
    /// 0 active, 1 counters disabled, 2 not installed, 3 another provider
    /// runs, -1 failure.
    int Activate(int fProvider);
    /// Whether the block is mapped.
    bool IsActive() const { return m_pPrfData != nullptr; }
    /// A consumer whose block was removed (a cleanup of a stale block) turns
    /// to the block that now carries the name, when there is one.
    void FollowReplacedBlock();

    /// The item of counter CtrId, or null when unknown.
    PRFITM* CvtCtrIdToPrfItm(CTRID CtrId) const;
    /// The table index of counter CtrId, or -1 when unknown.
    int CvtCtrIdToPrfItmIndex(CTRID CtrId) const;
    /// The table index of object ObjId, or -1 when unknown.
    int CvtObjIdToPrfItmIndex(OBJID ObjId) const;
    /// The item of the object at position ObjOrd (0 first), or null.
    PRFITM* CvtObjOrdToPrfItm(int ObjOrd) const;
    /// The position of object ObjId among the objects, or -1 when unknown.
    int CvtObjIdToObjOrd(OBJID ObjId) const;
    /// Whether ObjOrd is the position of an object.
    bool IsValidObjOrd(int ObjOrd) const { return ObjOrd >= 0 && ObjOrd < m_nNumObjects; }
    /// Whether InstId is an instance of the object at ObjOrd (0 when it has none).
    bool IsValidInstId(int ObjOrd, INSTID InstId) const;

    /// The 8-byte value slot of a counter for an instance (0 without instances),
    /// or null when the block is not mapped or the identifiers are unknown. A
    /// consumer's slot lies in its private copy of the block, which this call
    /// brings up to date (null when the block was cut short).
    uint64_t* CounterSlot(CTRID CtrId, INSTID InstId) const;
    /// The same for a 32-bit counter; a counter of another size fails an
    /// assertion.
    int32_t* CounterSlot32(CTRID CtrId, INSTID InstId) const;

    /// Copies the objects that valueName asks for ("Global", or blank-separated
    /// name indexes) into *ppData; see PrfData_Collect.
    uint32_t Collect(const char16_t* valueName, void** ppData, uint32_t* pcbTotal,
                     uint32_t* pNumObjects);

    /// Bytes of the block, 0 when it is not mapped.
    uint32_t BlockSize() const;
    /// The mapped block, or null.
    const unsigned char* Block() const { return static_cast<const unsigned char*>(m_pPrfData); }

    const char16_t* m_pszAppName;   ///< application name, not owned
    uint32_t m_dwFirstCounter = 0;  ///< first installed name index
    uint32_t m_dwFirstHelp = 1;     ///< first installed help index
    uint32_t m_dwLastCounter = 0;   ///< last installed name index
    uint32_t m_dwLastHelp = 1;      ///< last installed help index
    PRFITM* m_pPrfItms;             ///< the item table, not owned
    int m_nNumPrfItms = 0;          ///< items before the end item
    int m_nNumObjects = 0;          ///< objects in the table
    void* m_hfm = nullptr;          ///< the mapping's handle while mapped
    void* m_pPrfData = nullptr;     ///< the mapped block, or null

private:
    KVBASICS_LOCAL int ActivateLocked(int fProvider, int guard);
    KVBASICS_LOCAL void InitializeBlock();
    int m_guard = -1;  ///< the provider guard, held for the provider's life
};

/// Performance-extension entry point, resolved by name by the host: opens the
/// block as a consumer when it is not open yet, or follows it to a new block
/// when it was removed. Always 0; while no block is open, collections return
/// no data.
KVBASICS_C uint32_t PrfData_Open(char16_t* deviceNames);
/// Fills *ppData with the objects that valueName asks for and advances it;
/// 0, or 234 with *pcbTotal 0 when the buffer is too small. Any fault (a null
/// *ppData with room claimed included) gives 0 with no data.
KVBASICS_C uint32_t PrfData_Collect(char16_t* valueName, void** ppData, uint32_t* pcbTotal,
                                    uint32_t* pNumObjects);
/// Ends a host's use; the block stays mapped for the process. Always 0.
KVBASICS_C uint32_t PrfData_Close();

// ---------------------------------------------------------------------------
// Performance host
// ---------------------------------------------------------------------------
//
// What the platform's performance host and its counter-text loader do, for a
// host of our own (the tqbs tool). The installation lives in the registry
// store: the extension under the key
//   SYSTEM\CurrentControlSet\Services\<app>\Performance
// the index allocator in the values "Last Counter" and "Last Help" of
//   SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib
// and the texts, by index, under its subkeys 009\Counter and 009\Help.

/// An installed performance extension as the host reads it.
struct KvPerfExtension {
    char library[1024];     ///< the full path of the extension's module
    char open[128];         ///< its open entry point
    char collect[128];      ///< its collect entry point
    char close[128];        ///< its close entry point
    uint32_t disabled;      ///< "Disable Performance Counters"
    uint32_t firstCounter;  ///< first name index of its range
    uint32_t lastCounter;   ///< last name index
    uint32_t firstHelp;     ///< first help index
    uint32_t lastHelp;      ///< last help index
};

/// Reads the installation of appName; 0, or -1 when it is not installed.
KVBASICS_API int KvQueryPerfExtension(const char* appName, KvPerfExtension* extension);

/// The installed name (help 0) or help text of an index; 0, or -1 when there is
/// none. The text is cut to size - 1 characters.
KVBASICS_API int KvQueryPerfCounterText(uint32_t index, int help, char* buffer, size_t size);

/// Loads the counter texts of a counter-text file into the store and allots
/// their index range. commandLine: a program name, a blank and the file's path
/// (in double quotes when it holds blanks). 0 on success, else an errno value.
KVBASICS_API int KvLoadPerfCounterTextStrings(const char* commandLine, int quiet);
/// Removes the texts of a driver. commandLine: a program name, a blank and the
/// driver name. 0 on success, else an errno value.
KVBASICS_API int KvUnloadPerfCounterTextStrings(const char* commandLine, int quiet);

/// The shared objects of an application's counters, as this account sees them.
struct KvPerfObjects {
    int32_t provider;     ///< 1 a provider of this account runs, 0 none, -1 unknown
    int32_t providerPid;  ///< its process id when the system shows it, else 0
    int32_t block;     ///< the block a consumer here reads: 0 none, 1 machine-wide, 2 the account's
    int32_t blockOwn;  ///< 1 when that block belongs to this account
    char blockText[256];  ///< its file, owner and mode, "" when none
    char refused[512];    ///< blocks a consumer refuses, with owner and mode, one per line
};

/// Looks at appName's block and provider guard; 0, or -1 on a null argument.
/// A block of this account with no provider (provider 0) is stale: a provider
/// that ended left it, and KvRemoveStalePerfObjects removes it.
KVBASICS_API int KvQueryPerfObjects(const char* appName, KvPerfObjects* objects);

/// Removes this account's blocks and guard of appName while no provider of the
/// account runs (it holds the guard meanwhile, so none can start). Writes the
/// removed files to removed, one per line (may be null). The number of files
/// removed, or -1 when a provider runs or the guard cannot be taken. Consumers
/// that read a removed block keep working on their copy.
KVBASICS_API int KvRemoveStalePerfObjects(const char* appName, char* removed, size_t size);

#endif  // KVBASICS_PRFDATA_H
