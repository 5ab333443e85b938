// How tqbs perf monitor shows its samples: a live screen on a terminal, or
// lines, a table, CSV or JSON for a file or a pipe.
#ifndef TQBS_PERF_VIEW_H
#define TQBS_PERF_VIEW_H

#include <memory>
#include <string>
#include <vector>

#include "perf_collector.h"
#include "perf_counters.h"

namespace tqbs::perf {

// One shown counter of a sample: a raw count as it stands, a running total as
// its rate per second over the interval.
struct Row {
    const CounterInfo* info = nullptr;
    bool known = false;  // a value (or a rate) can be shown
    double shown = 0;
};

class View {
public:
    virtual ~View() = default;
    // Shows sample n (1 the first); rows hold the selected counters when the
    // sample has data.
    virtual void Show(long n, const Sample& sample, const std::vector<Row>& rows) = 0;
    // The terminal's window changed its size.
    virtual void Resize() {}
};

enum class Format { kLines, kTable, kCsv, kJson };

// The live screen: redrawn in place on the terminal's alternate screen, fitted
// to the window; the last screen stays on the terminal when the view ends.
std::unique_ptr<View> ScreenView(double interval, long count);
// A format for files and pipes; columns are the selected counters.
std::unique_ptr<View> FormatView(Format format, const std::vector<const CounterInfo*>& columns);

// A row's value as the screen, the lines and the table show it: "12.5" (a
// rate), "3" (a raw count), "-" (not known yet).
std::string ShownValue(const Row& row);
// Local wall-clock time, "2024-06-11 12:00:01".
std::string WallClock();

}  // namespace tqbs::perf

#endif  // TQBS_PERF_VIEW_H
