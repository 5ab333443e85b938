/// \file
/// The statistics counters of the database server, mirrored into the shared
/// performance data block once enabled.
#ifndef KVBASICS_KVSTATISTICS_H
#define KVBASICS_KVSTATISTICS_H

#include <cstdint>

#include "kvexport.h"

/// The server's counters (identifiers 101 to 122 of the performance object).
/// Before Enable they count locally; afterwards every update is mirrored into
/// the shared block. Updates are atomic, locally and in the block, so counts
/// from several threads are never lost.
class KVBASICS_API KvStatistics {
public:
    /// All counters 0, not mirrored.
    KvStatistics();

    void IncTransactions() { Change(0, 1); }      ///< adds 1 to the transactions
    void IncCommits() { Change(1, 1); }           ///< adds 1 to the commits
    void IncAborts() { Change(2, 1); }            ///< adds 1 to the aborts
    void IncCSRequests() { Change(3, 1); }        ///< adds 1 to the client/server requests
    void IncFailedCSRequests() { Change(4, 1); }  ///< adds 1 to the failed client/server requests
    void IncServerNotifications() { Change(5, 1); }    ///< adds 1 to the server notifications
    void IncQueries() { Change(6, 1); }                ///< adds 1 to the queries
    void IncClients() { Change(7, 1); }                ///< adds 1 to the clients
    void IncObjDescs() { Change(8, 1); }               ///< adds 1 to the object descriptors
    void IncExtents() { Change(9, 1); }                ///< adds 1 to the extents
    void IncLocks() { Change(10, 1); }                 ///< adds 1 to the locks
    void IncWatches() { Change(11, 1); }               ///< adds 1 to the watches
    void IncInternalTransactions() { Change(14, 1); }  ///< adds 1 to the internal transactions
    void IncWaitingJobs() { Change(18, 1); }           ///< adds 1 to the waiting jobs

    void DecTransactions() { Change(0, -1); }  ///< subtracts 1 from the transactions
    void DecClients() { Change(7, -1); }       ///< subtracts 1 from the clients
    void DecObjDescs() { Change(8, -1); }      ///< subtracts 1 from the object descriptors
    void DecExtents() { Change(9, -1); }       ///< subtracts 1 from the extents
    void DecLocks() { Change(10, -1); }        ///< subtracts 1 from the locks
    void DecWatches() { Change(11, -1); }      ///< subtracts 1 from the watches
    /// Subtracts 1 from the waiting jobs; never goes below 0.
    void DecWaitingJobs();

    /// Adds delta (may be negative) to the locks.
    void AddLocks(int delta) { Change(10, delta); }
    /// Adds delta (may be negative) to the watches.
    void AddWatches(int delta) { Change(11, delta); }
    /// Adds delta (may be negative) to the refreshed objects.
    void AddRefreshedObjects(int delta) { Change(12, delta); }
    /// Adds delta (may be negative) to the delivered objects.
    void AddDeliveredObjects(int delta) { Change(13, delta); }
    /// Adds delta (may be negative) to the deleted objects.
    void AddDeletedObjects(int delta) { Change(15, delta); }
    /// Adds delta (may be negative) to the updated objects.
    void AddUpdatedObjects(int delta) { Change(16, delta); }
    /// Adds delta (may be negative) to the inserted objects.
    void AddInsertedObjects(int delta) { Change(17, delta); }
    /// Adds delta (may be negative) to the object-descriptor retry loops.
    void AddObjDescRetryLoops(int delta) { Change(19, delta); }
    /// Adds delta (may be negative) to the object-descriptor critical-section uses.
    void AddObjDescCSUsedCount(int delta) { Change(20, delta); }
    /// Adds delta (may be negative) to the object-descriptor critical-section waits.
    void AddObjDescWaitCSCount(int delta) { Change(21, delta); }

    /// Becomes the provider of the shared block and starts mirroring; failures
    /// go to the system log and leave the counters local.
    void Enable();
    /// Sets every counter to 0, locally and in the block.
    void Clear();

    /// The local value of counter id (101 to 122); 0 for other identifiers.
    int32_t Value(int id) const;
    /// Whether Enable succeeded and the counters are mirrored.
    bool IsEnabled() const;

    /// Number of counters.
    static constexpr int kCounters = 22;

    uint16_t enabled;             ///< nonzero once Enable succeeded
    int32_t counters[kCounters];  ///< the local values, by index (identifier - 101)

private:
    /// Adds delta to counter index and to its mirror.
    void Change(int index, int32_t delta);
};

/// The process-wide statistics.
KVBASICS_API KvStatistics* Statistics();

/// Installs the counters with the performance host: 0, or -1 on any failure.
KVBASICS_API int RegisterStatistics();
/// Removes them: 0, or -1 on any failure.
KVBASICS_API int DeregisterStatistics();

#endif  // KVBASICS_KVSTATISTICS_H
