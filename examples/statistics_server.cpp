// A server counting into the statistics. Statistics()->Enable() makes this
// process the provider of the shared performance block; from then on every
// count is visible to `tqbs perf monitor` (after `tqbs perf install`).
//
//   statistics_server [SECONDS]     (default 5)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "kvbasics.h"

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: statistics_server [SECONDS]\n");
        return 2;
    }

    KvStatistics* statistics = Statistics();
    statistics->Enable();
    if (!statistics->IsEnabled()) {
        // Not installed, disabled, or another provider runs: the counters stay
        // local and the system log says why.
        std::fprintf(stderr,
                     "statistics_server: the counters are not shared (run `tqbs perf install`; "
                     "`tqbs perf status` tells more)\n");
        return 1;
    }
    std::printf("statistics_server: counting for %d seconds\n", seconds);
    std::fflush(stdout);

    statistics->IncClients();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        // One simulated transaction: begin, a query, a few objects, commit.
        statistics->IncTransactions();
        statistics->IncQueries();
        statistics->AddDeliveredObjects(3);
        statistics->AddUpdatedObjects(1);
        statistics->IncCommits();
        statistics->DecTransactions();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    statistics->DecClients();

    std::printf("statistics_server: %d commits, %d queries\n", statistics->Value(102),
                statistics->Value(107));
    return 0;
}
