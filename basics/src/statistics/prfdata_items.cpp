// The item table of the statistics: the performance object "Tessaloquin" and
// its 22 counters. Names and help texts are shown by monitors as they stand,
// trailing blanks included.
#include "statistics/prfdata_items.h"

namespace tq {
namespace {

constexpr PRFITM Object(uintptr_t id, const char16_t* name, const char16_t* help,
                        intptr_t defaultCounter) {
    return PRFITM{PRFITM_OBJECT,
                  id,
                  name,
                  help,
                  PERF_DETAIL_NOVICE,
                  defaultCounter,
                  PERF_NO_INSTANCES,
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  0};
}

constexpr PRFITM Counter(uintptr_t id, const char16_t* name, const char16_t* help, uint32_t type,
                         int32_t scale) {
    return PRFITM{PRFITM_COUNTER, id,  name, help, PERF_DETAIL_NOVICE, 0, 0, 0, 0, 0, 0, 0,
                  scale,          type};
}

constexpr uint32_t RAW = PERF_COUNTER_RAWCOUNT;
constexpr uint32_t RATE = PERF_COUNTER_COUNTER;

}  // namespace

PRFITM g_statisticsItems[kStatisticsItemCount + 1] = {
    Object(100, u"Tessaloquin", u"The Tessaloquin runtime system performance counters", 104),
    Counter(101, u"Transactions   ", u"The number of currently registered transactions.", RAW, 0),
    Counter(102, u"Commits/sec", u"The number of transaction commit requests since last sample.   ",
            RATE, -1),
    Counter(103, u"Aborts/sec ", u"The number of transaction abort requests since last sample.",
            RATE, 0),
    Counter(104, u"C/S Requests/sec   ", u"The number of client/server requests since last sample.",
            RATE, -1),
    Counter(105, u"C/S Failed Requests/sec",
            u"The number of client/server requests resulting in an error since last sample.  ",
            RATE, 0),
    Counter(106, u"Server Notifications/sec   ",
            u"The number of Notify() calls issued by the server since last sample.   ", RATE, 0),
    Counter(107, u"Queries/sec", u"The number of query requests since last sample.", RATE, 0),
    Counter(108, u"Clients", u"The number of currently connected clients. ", RAW, 0),
    Counter(109, u"Object Descriptions",
            u"The number of currently used object descriptions. This number indicates how many "
            u"different persistent objects are used by all clients together.",
            RAW, -2),
    Counter(110, u"Extents",
            u"The number of currently used extent cursors (C++: KvAllSet objects).   ", RAW, 0),
    Counter(111, u"Locks  ", u"The number of currently used locks.", RAW, -1),
    Counter(112, u"Watches", u"The number of currently used watches.  ", RAW, 0),
    Counter(113, u"RefreshedObjects/sec   ",
            u"The number of refreshed objects since last sample. This number indicates how many "
            u"objects have been re-delivered to all clients.   ",
            RATE, -1),
    Counter(114, u"DeliveredObjects/sec   ",
            u"The number of delivered objects since last sample. This number indicates how many "
            u"objects have been delivered to all clients.  ",
            RATE, -2),
    Counter(115, u"Internal Transactions/sec", u"The number of started internal transactions.   ",
            RATE, -1),
    Counter(116, u"DeletedObjects/sec",
            u"The number of deleted objects since last sample by all clients.   ", RATE, 1),
    Counter(117, u"UpdatedObjects/sec",
            u"The number of updated objects since last sample by all clients.   ", RATE, 1),
    Counter(118, u"InsertedObjects/sec",
            u"The number of inserted objects since last sample by all clients.   ", RATE, 1),
    Counter(119, u"Waiting Jobs/sec",
            u"The number of waiting jobs since last sample for all clients.   ", RAW, 1),
    Counter(120, u"ObjDesc_RetryLoops/sec", u"The number of loops to get CS.   ", RATE, 1),
    Counter(121, u"ObjDesc_CSUsedCount", u"The number of all CSUsedCount.  ", RAW, 0),
    Counter(122, u"ObjDesc_CSQueueLength",
            u"The number of all threads waiting for CS of object description.  ", RAW, 0),
    PRFITM{},
};

}  // namespace tq
