// The monitor's formats for files and pipes: lines of NAME=VALUE, a table
// with fixed-width columns as vmstat prints, CSV, and JSON lines.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "perf_json.h"
#include "perf_view.h"

namespace tqbs::perf {

namespace {

constexpr long kTableHeaderEvery = 20;  // lines between repeated table headers

std::string Clock(const char* format) {
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char text[48];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

// RFC 3339 local time with its offset: "2024-06-11T12:00:01+02:00".
std::string Timestamp() {
    std::string text = Clock("%Y-%m-%dT%H:%M:%S");
    const std::string zone = Clock("%z");  // "+0200"
    text.append(zone, 0, 3);
    text += ':';
    return text.append(zone, 3, std::string::npos);
}

// A value for CSV and JSON: rates with two decimals, raw counts whole.
std::string Number(const Row& row) {
    char text[48];
    std::snprintf(text, sizeof text, IsRate(row.info->type) ? "%.2f" : "%.0f", row.shown);
    return text;
}

void Emit(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// "2024-06-11 12:00:01  Commits/sec=12.0  Clients=4 ..."
class Lines : public View {
public:
    void Show(long, const Sample& sample, const std::vector<Row>& rows) override {
        std::string line = WallClock();
        if (sample.status != Status::kData) {
            line += "  ";
            line += Absence(sample);
        }
        for (const Row& row : rows) {
            line += "  ";
            line += row.info->name;
            line += '=';
            line += ShownValue(row);
        }
        Emit(line);
    }
};

class Table : public View {
public:
    explicit Table(const std::vector<const CounterInfo*>& columns) : columns_(columns) {}

    void Show(long, const Sample& sample, const std::vector<Row>& rows) override {
        if (lines_++ % kTableHeaderEvery == 0) {
            std::string header = "time    ";
            for (const CounterInfo* column : columns_)
                Append(&header, column->column, Width(*column));
            Emit(header);
        }
        std::string line = Clock("%H:%M:%S");
        if (sample.status != Status::kData) {
            line += "  ";
            line += Absence(sample);
        }
        for (const Row& row : rows)
            Append(&line, ShownValue(row), Width(*row.info));
        Emit(line);
    }

private:
    static int Width(const CounterInfo& column) {
        return std::max(static_cast<int>(column.column.size()), 7);
    }

    static void Append(std::string* line, const std::string& text, int width) {
        *line += ' ';
        if (static_cast<int>(text.size()) < width) line->append(width - text.size(), ' ');
        *line += text;
    }

    std::vector<const CounterInfo*> columns_;
    long lines_ = 0;
};

// time,state,transactions,commits_per_second,...; a sample without counters
// leaves their fields empty, a rate not known yet too.
class Csv : public View {
public:
    explicit Csv(const std::vector<const CounterInfo*>& columns) : columns_(columns) {}

    void Show(long, const Sample& sample, const std::vector<Row>& rows) override {
        if (!headed_) {
            std::string header = "time,state";
            for (const CounterInfo* column : columns_) {
                header += ',';
                header += column->field;
            }
            Emit(header);
            headed_ = true;
        }
        std::string line = Timestamp();
        line += ',';
        line += StatusWord(sample.status);
        for (size_t c = 0; c < columns_.size(); ++c) {
            line += ',';
            if (c < rows.size() && rows[c].known) line += Number(rows[c]);
        }
        Emit(line);
    }

private:
    std::vector<const CounterInfo*> columns_;
    bool headed_ = false;
};

// {"time":"...","state":"ok","provider_pid":123,"transactions":3,
//  "commits_per_second":12.25,...}; a rate not known yet is null.
class Json : public View {
public:
    void Show(long, const Sample& sample, const std::vector<Row>& rows) override {
        std::string line = "{\"time\":";
        line += JsonString(Timestamp());
        line += ",\"state\":";
        line += JsonString(StatusWord(sample.status));
        if (sample.status != Status::kData) {
            line += ",\"reason\":";
            line += JsonString(Absence(sample));
        } else if (sample.provider.pid > 0) {
            line += ",\"provider_pid\":";
            line += std::to_string(sample.provider.pid);
        }
        for (const Row& row : rows) {
            line += ',';
            line += JsonString(row.info->field);
            line += ':';
            line += row.known ? Number(row) : "null";
        }
        Emit(line += '}');
    }
};

}  // namespace

std::string ShownValue(const Row& row) {
    if (!row.known) return "-";
    char text[48];
    std::snprintf(text, sizeof text, IsRate(row.info->type) ? "%.1f" : "%.0f", row.shown);
    return text;
}

std::string WallClock() {
    return Clock("%Y-%m-%d %H:%M:%S");
}

std::unique_ptr<View> FormatView(Format format, const std::vector<const CounterInfo*>& columns) {
    switch (format) {
        case Format::kTable:
            return std::make_unique<Table>(columns);
        case Format::kCsv:
            return std::make_unique<Csv>(columns);
        case Format::kJson:
            return std::make_unique<Json>();
        case Format::kLines:
            break;
    }
    return std::make_unique<Lines>();
}

}  // namespace tqbs::perf
