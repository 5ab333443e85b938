// The statistics counters of the database server, mirrored into the shared
// performance data block once enabled.
#ifndef KVBASICS_KVSTATISTICS_H
#define KVBASICS_KVSTATISTICS_H

#include <cstdint>

#include "kvexport.h"

// The server's counters (identifiers 101 to 122 of the performance object).
// Before Enable they count locally; afterwards every update is mirrored into
// the shared block. Updates are atomic, locally and in the block, so counts
// from several threads are never lost.
class KVBASICS_API KvStatistics {
public:
    KvStatistics();

    void IncTransactions() { Change(0, 1); }
    void IncCommits() { Change(1, 1); }
    void IncAborts() { Change(2, 1); }
    void IncCSRequests() { Change(3, 1); }
    void IncFailedCSRequests() { Change(4, 1); }
    void IncServerNotifications() { Change(5, 1); }
    void IncQueries() { Change(6, 1); }
    void IncClients() { Change(7, 1); }
    void IncObjDescs() { Change(8, 1); }
    void IncExtents() { Change(9, 1); }
    void IncLocks() { Change(10, 1); }
    void IncWatches() { Change(11, 1); }
    void IncInternalTransactions() { Change(14, 1); }
    void IncWaitingJobs() { Change(18, 1); }

    void DecTransactions() { Change(0, -1); }
    void DecClients() { Change(7, -1); }
    void DecObjDescs() { Change(8, -1); }
    void DecExtents() { Change(9, -1); }
    void DecLocks() { Change(10, -1); }
    void DecWatches() { Change(11, -1); }
    // Never goes below 0.
    void DecWaitingJobs();

    void AddLocks(int delta) { Change(10, delta); }
    void AddWatches(int delta) { Change(11, delta); }
    void AddRefreshedObjects(int delta) { Change(12, delta); }
    void AddDeliveredObjects(int delta) { Change(13, delta); }
    void AddDeletedObjects(int delta) { Change(15, delta); }
    void AddUpdatedObjects(int delta) { Change(16, delta); }
    void AddInsertedObjects(int delta) { Change(17, delta); }
    void AddObjDescRetryLoops(int delta) { Change(19, delta); }
    void AddObjDescCSUsedCount(int delta) { Change(20, delta); }
    void AddObjDescWaitCSCount(int delta) { Change(21, delta); }

    // Becomes the provider of the shared block and starts mirroring; failures
    // go to the system log and leave the counters local.
    void Enable();
    // Sets every counter to 0, locally and in the block.
    void Clear();

    // The local value of counter id (101 to 122); 0 for other identifiers.
    int32_t Value(int id) const;
    bool IsEnabled() const;

    static constexpr int kCounters = 22;

    uint16_t enabled;
    int32_t counters[kCounters];

private:
    // Adds delta to counter index and to its mirror.
    void Change(int index, int32_t delta);
};

// The process-wide statistics.
KVBASICS_API KvStatistics* Statistics();

// Installs the counters with the performance host: 0, or -1 on any failure.
KVBASICS_API int RegisterStatistics();
// Removes them: 0, or -1 on any failure.
KVBASICS_API int DeregisterStatistics();

#endif  // KVBASICS_KVSTATISTICS_H
