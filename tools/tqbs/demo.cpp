// tqbs demo: a simulated server that provides the statistics counters and
// counts a small workload run on the library itself.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <random>
#include <vector>

#include "command.h"
#include "kvbasics.h"
#include "perf_host.h"

namespace tqbs {

namespace {

constexpr const char* kTool = "tqbs demo";
constexpr int kTicksPerSecond = 20;
constexpr uint32_t kSeed = 20240611;
constexpr uint32_t kMostObjects = 20000;  // well below the sorted list's bound
// Few enough keys that an insert now and then meets an existing one and fails.
constexpr int kKeys = 100000;

volatile sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
    g_stop = 1;
}

// One object of the simulated database, kept in key order.
struct Object {
    uint32_t key;
    uint32_t version;
    uint32_t size;
    uint32_t checksum;
};

int CompareKeys(KvVArray const*, void* a, void* b) {
    uint32_t left, right;
    std::memcpy(&left, a, 4);
    std::memcpy(&right, b, 4);
    return left < right ? -1 : left > right ? 1 : 0;
}

// The objects' keys, also indexed in a red-black tree, as a server keeps an
// index beside its records. An element is the key alone.
const void* IndexKey(KvVContainer*, const void* element, int* status, KvVParameter*) {
    *status = 0;
    return element;
}

int CompareIndexKeys(KvCompareArgs* args) {
    uint32_t key, element;
    std::memcpy(&key, args->key, 4);
    std::memcpy(&element, args->element, 4);
    *args->keyResult = *args->orderResult = key < element ? -1 : key > element ? 1 : 0;
    return 0;
}

int CopyIndexKey(KvVContainer*, void* element, const KvVIterator*, const void* key, const void*,
                 KvVParameter*) {
    std::memcpy(element, key, 4);
    return 0;
}

void InstallIndexFunctions(KvVContainer& container) {
    container.SetKeyFunction(IndexKey);
    container.SetCompareFunction(CompareIndexKeys);
    container.SetCopyFunction(CopyIndexKey);
}

// The source iterator that hands one key to the tree's operations.
class IndexProbe : public KvVIterator {
public:
    IndexProbe() : KvVIterator(nullptr, &source_) {
        InstallIndexFunctions(source_);
        status = 0;
    }
    IndexProbe& Set(uint32_t key) {
        key_ = key;
        return *this;
    }
    const void* GetEntry(int& s, KvVParameter*) const override {
        s = 0;
        return &key_;
    }

private:
    KvVContainer source_{4, 0};
    uint32_t key_ = 0;
};

class ObjectIndex {
public:
    ObjectIndex() : tree_(4, 0, 0), walker_(&tree_, nullptr) { InstallIndexFunctions(tree_); }
    bool Insert(uint32_t key) {
        return tree_.InsertElement(&probe_.Set(key), nullptr, 0, nullptr) == 0;
    }
    bool Delete(uint32_t key) {
        return tree_.DeleteElement(&probe_.Set(key), nullptr, 0, nullptr) == 0;
    }
    // The key or the next higher one is there.
    bool FindOrHigher(uint32_t key) {
        const int rc =
            tree_.SearchElement(&probe_.Set(key), nullptr, KvCONT_OR_HIGHER, nullptr, &walker_);
        return rc == 0 || walker_.status == 0;
    }
    unsigned int Count() const { return tree_.count; }
    int Check() { return tree_.CheckTree(nullptr); }

private:
    KvRBTree tree_;
    KvRBTreeIterator walker_;
    IndexProbe probe_;
};

struct Transaction {
    int locks;
};

struct Totals {
    long ticks = 0, commits = 0, aborts = 0, queries = 0, requests = 0, failed = 0;
    long inserted = 0, updated = 0, deleted = 0;
    long long raw = 0, delivered = 0;
};

class Server {
public:
    Server() : objects_(sizeof(Object), 256) { objects_.SetCompareFunction(CompareKeys); }

    void Tick() {
        ++totals_.ticks;
        Clients();
        const int requests = Pick(0, clients_);
        for (int r = 0; r < requests; ++r)
            Request();
        EndTransactions(false);
        Background();
        CloseExtents(false);
    }

    // Ends what is open, as a server does when it stops.
    void Shutdown() {
        EndTransactions(true);
        CloseExtents(true);
        for (; clients_ > 0; --clients_)
            stats_->DecClients();
        stats_->AddWatches(-watches_);
        stats_->AddObjDescCSUsedCount(-csUsed_);
        stats_->AddObjDescWaitCSCount(-csQueue_);
        for (; waiting_ > 0; --waiting_)
            stats_->DecWaitingJobs();
        watches_ = csUsed_ = csQueue_ = 0;
    }

    const Totals& totals() const { return totals_; }
    uint32_t Count() const { return objects_.GetCount(); }
    // The tree holds exactly the listed keys and keeps its balance rules.
    bool IndexConsistent() { return index_.Count() == objects_.GetCount() && index_.Check() == 0; }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool Chance(double p) { return std::bernoulli_distribution(p)(random_); }

    void Clients() {
        if (clients_ < 3 || (clients_ < 12 && Chance(0.06))) {
            stats_->IncClients();
            ++clients_;
        } else if (clients_ > 3 && Chance(0.05)) {
            stats_->DecClients();
            --clients_;
        }
    }

    void Request() {
        ++totals_.requests;
        stats_->IncCSRequests();
        const int kind = Pick(0, 99);
        if (kind < 40) {
            BeginTransaction();
        } else if (kind < 75) {
            Query();
        } else if (kind < 90) {
            Deliver(Pick(1, 6));
        } else {
            stats_->IncServerNotifications();
        }
    }

    void Fail() {
        ++totals_.failed;
        stats_->IncFailedCSRequests();
    }

    void BeginTransaction() {
        stats_->IncTransactions();
        Transaction transaction{Pick(1, 5)};
        stats_->AddLocks(transaction.locks);
        const bool full = objects_.GetCount() >= kMostObjects;
        for (int n = full ? 0 : Pick(1, 4); n > 0; --n)
            Insert();
        for (int n = Pick(0, 2); n > 0; --n)
            Update();
        for (int n = Pick(0, full ? 6 : 1); n > 0; --n)
            Delete();
        open_.push_back(transaction);
    }

    void Insert() {
        Object object{static_cast<uint32_t>(Pick(0, kKeys - 1)), 1,
                      static_cast<uint32_t>(Pick(16, 400)), 0};
        object.checksum = CalcCheckSum(reinterpret_cast<unsigned char*>(&object), 12, nullptr);
        uint32_t index = 0;
        const int rc = objects_.SortedInsert(&object, &index, 0, 1);
        if (rc != KV_ARRAY_OK) {
            Fail();  // a key that exists (KV_ARRAY_DUPLICATE), or no room
            return;
        }
        if (!index_.Insert(object.key)) Fail();
        ++totals_.inserted;
        stats_->AddInsertedObjects(1);
        stats_->IncObjDescs();
    }

    void Update() {
        if (objects_.GetCount() == 0) return;
        const uint32_t index =
            static_cast<uint32_t>(Pick(0, static_cast<int>(objects_.GetCount()) - 1));
        Object object;
        if (objects_.Get(index, &object) != KV_ARRAY_OK) return;
        ++object.version;
        object.checksum = CalcCheckSum(reinterpret_cast<unsigned char*>(&object), 12, nullptr);
        if (objects_.Update(index, &object) != KV_ARRAY_OK) return;
        ++totals_.updated;
        stats_->AddUpdatedObjects(1);
    }

    void Delete() {
        if (objects_.GetCount() == 0) return;
        const uint32_t index =
            static_cast<uint32_t>(Pick(0, static_cast<int>(objects_.GetCount()) - 1));
        Object object;
        if (objects_.Get(index, &object) != KV_ARRAY_OK) return;
        if (objects_.Delete(index, 1) != KV_ARRAY_OK) return;
        if (!index_.Delete(object.key)) Fail();
        ++totals_.deleted;
        stats_->AddDeletedObjects(1);
        stats_->DecObjDescs();
    }

    void Query() {
        ++totals_.queries;
        stats_->IncQueries();
        stats_->IncExtents();
        extents_.push_back(totals_.ticks + Pick(1, 40));  // the cursor stays open a while
        // Look some keys up; what is found is delivered.
        int found = 0;
        for (int n = Pick(1, 8); n > 0; --n) {
            Object key{static_cast<uint32_t>(Pick(0, kKeys - 1)), 0, 0, 0};
            uint32_t index = 0;
            const bool listed = objects_.Search(&key, &index, nullptr) == KV_ARRAY_OK ||
                                index < objects_.GetCount();
            if (listed != index_.FindOrHigher(key.key)) Fail();  // list and tree disagree
            if (listed) {
                ++found;  // the object found, or the next one in key order
            }
        }
        if (found > 0) Deliver(found);
        if (Chance(0.1)) stats_->AddRefreshedObjects(Pick(1, 4));
    }

    // Writes up to count objects into a memory file, compresses and checksums
    // it, and checks the round trip, as a server ships objects to a client.
    void Deliver(int count) {
        if (objects_.GetCount() == 0) return;
        MemFile file;
        int status = 0;
        uint32_t first = static_cast<uint32_t>(Pick(0, static_cast<int>(objects_.GetCount()) - 1));
        int written = 0;
        for (; written < count && first + static_cast<uint32_t>(written) < objects_.GetCount();
             ++written) {
            Object object;
            objects_.Get(first + static_cast<uint32_t>(written), &object);
            file.Write(object.key, status);
            file.Write(object.version, status);
            // The object's body: runs, as stored records have them.
            for (uint32_t word = 0; word < object.size / 4 && status == 0; ++word)
                file.Write(word < object.size / 8 ? 0u : object.checksum, status);
        }
        const int length = file.GetLogicalSize();
        if (status != 0 || length == 0) {
            // GCOVR_EXCL_START: only a fault of the library's memory file
            Fail();
            return;
            // GCOVR_EXCL_STOP
        }
        std::vector<unsigned char> packed(static_cast<size_t>(length) * 2 + 16);
        int packedLength = static_cast<int>(packed.size());
        if (DScomp(file.GetBuffer(), length, packed.data(), &packedLength) != 0) {
            // GCOVR_EXCL_START: only a fault of the library's compressor
            Fail();
            return;
            // GCOVR_EXCL_STOP
        }
        // The receiver expands the stream and compares checksums.
        const unsigned int sent =
            CalcCheckSum(file.GetBuffer(), static_cast<unsigned>(length), nullptr);
        std::vector<unsigned char> unpacked(static_cast<size_t>(length));
        int unpackedLength = length;
        if (DSlen(packed.data(), packedLength) != length ||
            DSdecomp(packed.data(), packedLength, unpacked.data(), &unpackedLength) != 0 ||
            unpackedLength != length ||
            CalcCheckSum(unpacked.data(), static_cast<unsigned>(length), nullptr) != sent) {
            // GCOVR_EXCL_START: only a fault of the library's compressor or checksum
            std::fprintf(stderr, "%s: a delivery did not survive compression\n", kTool);
            Fail();
            return;
            // GCOVR_EXCL_STOP
        }
        totals_.raw += length;
        totals_.delivered += packedLength;
        stats_->AddDeliveredObjects(written);
    }

    void EndTransactions(bool all) {
        for (size_t i = 0; i < open_.size();) {
            if (!all && !Chance(0.45)) {
                ++i;
                continue;
            }
            if (!all && Chance(0.9)) {
                ++totals_.commits;
                stats_->IncCommits();
                if (watches_ > 0 && Chance(0.5)) stats_->IncServerNotifications();
            } else {
                ++totals_.aborts;
                stats_->IncAborts();
            }
            stats_->AddLocks(-open_[i].locks);
            stats_->DecTransactions();
            open_.erase(open_.begin() + static_cast<long>(i));
        }
    }

    void CloseExtents(bool all) {
        while (!extents_.empty() && (all || extents_.front() <= totals_.ticks)) {
            stats_->DecExtents();
            extents_.pop_front();
        }
    }

    // What runs without a client asking.
    void Background() {
        if (Chance(0.2)) stats_->IncInternalTransactions();
        Walk(&watches_, 0, 40, &KvStatistics::AddWatches);
        Walk(&csUsed_, 0, 8, &KvStatistics::AddObjDescCSUsedCount);
        Walk(&csQueue_, 0, 3, &KvStatistics::AddObjDescWaitCSCount);
        stats_->AddObjDescRetryLoops(Pick(0, 2));
        const int waiting = Pick(0, 3);
        for (; waiting_ < waiting; ++waiting_)
            stats_->IncWaitingJobs();
        for (; waiting_ > waiting; --waiting_)
            stats_->DecWaitingJobs();
    }

    // A raw count that drifts within [low, high].
    void Walk(int* value, int low, int high, void (KvStatistics::*add)(int)) {
        int step = Pick(-2, 2);
        if (*value + step < low || *value + step > high) step = -step;
        *value += step;
        (stats_->*add)(step);
    }

    KvStatistics* stats_ = Statistics();
    std::mt19937 random_{kSeed};
    KvCList objects_;
    ObjectIndex index_;
    std::vector<Transaction> open_;
    std::deque<long> extents_;  // the tick at which each open cursor closes
    int clients_ = 0, watches_ = 0, csUsed_ = 0, csQueue_ = 0, waiting_ = 0;
    Totals totals_;
};

// Why Enable left the counters local.
void ExplainEnableFailure() {
    KvPerfExtension extension;
    if (KvQueryPerfExtension(perf::kApplication, &extension) != 0) {
        std::fprintf(stderr,
                     "%s: the Tessaloquin counters are not installed; run 'tqbs perf install' "
                     "first\n",
                     kTool);
        return;
    }
    if (extension.disabled != 0) {
        std::fprintf(stderr, "%s: the Tessaloquin counters are disabled in their installation\n",
                     kTool);
        return;
    }
    const perf::ProviderState provider = perf::QueryProvider();
    if (provider.kind == perf::ProviderState::kRunning) {
        std::fprintf(stderr, "%s: another server provides the counters already: %s\n", kTool,
                     perf::Describe(provider).c_str());
        return;
    }
    std::fprintf(stderr,
                 "%s: the counters could not be enabled (the system log tells why; an "
                 "inconsistent installation is mended by 'tqbs perf uninstall' and 'tqbs perf "
                 "install')\n",
                 kTool);
}

bool ParseSeconds(const char* text, long* seconds) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < 1 || value > 31536000) return false;
    *seconds = value;
    return true;
}

void AddNanoseconds(timespec* at, long nanoseconds) {
    at->tv_nsec += nanoseconds;
    while (at->tv_nsec >= 1000000000L) {
        at->tv_nsec -= 1000000000L;
        ++at->tv_sec;
    }
}

}  // namespace

int RunDemo(int argc, char** argv) {
    long seconds = 0;
    for (int i = 1; i < argc;) {
        const char* value = nullptr;
        const int found = OptionValue(kTool, argc, argv, &i, "--seconds", &value);
        if (found < 0) return kUsage;
        if (found == 0) {
            std::fprintf(stderr, "%s: unexpected argument '%s'\n", kTool, argv[i]);
            return kUsage;
        }
        if (!ParseSeconds(value, &seconds)) {
            std::fprintf(stderr, "%s: --seconds takes a positive whole number, not '%s'\n", kTool,
                         value);
            return kUsage;
        }
    }

    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    Statistics()->Enable();
    if (!Statistics()->IsEnabled()) {
        ExplainEnableFailure();
        return kFailure;
    }
    if (seconds > 0) {
        std::printf("demo: server %ld provides the Tessaloquin counters for %ld s\n",
                    static_cast<long>(getpid()), seconds);
    } else {
        std::printf("demo: server %ld provides the Tessaloquin counters until stopped\n",
                    static_cast<long>(getpid()));
    }
    std::fflush(stdout);

    Server server;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const long ticks = seconds * kTicksPerSecond;
    while (g_stop == 0 && (ticks == 0 || server.totals().ticks < ticks)) {
        server.Tick();
        AddNanoseconds(&next, 1000000000L / kTicksPerSecond);
        while (g_stop == 0 &&
               clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
    }
    server.Shutdown();

    const Totals& totals = server.totals();
    std::printf(
        "demo: stopped after %ld ticks: %ld requests (%ld failed), %ld commits, %ld aborts, "
        "%ld queries; objects %ld inserted, %ld updated, %ld deleted, %u kept; "
        "%lld bytes delivered as %lld compressed\n",
        totals.ticks, totals.requests, totals.failed, totals.commits, totals.aborts, totals.queries,
        totals.inserted, totals.updated, totals.deleted, server.Count(), totals.raw,
        totals.delivered);
    if (!server.IndexConsistent()) {
        // GCOVR_EXCL_START: only a fault of the library's red-black tree
        std::fprintf(stderr,
                     "tqbs demo: the red-black tree index disagrees with the object list\n");
        return kFailure;
        // GCOVR_EXCL_STOP
    }
    return kSuccess;
}

}  // namespace tqbs
