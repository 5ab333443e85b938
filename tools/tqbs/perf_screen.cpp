// The monitor's live screen: the title, the provider and one row per counter,
// fitted to the terminal's window and redrawn in place on the alternate
// screen, so that the scrollback keeps nothing of it; when it ends, the last
// screen is printed on the normal screen.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "perf_view.h"

namespace tqbs::perf {

namespace {

// Whether the terminal's character set is UTF-8, by the locale variables.
bool Utf8Locale() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return strcasestr(value, "UTF-8") != nullptr || strcasestr(value, "utf8") != nullptr;
    }
    return false;
}

// The first width columns of an ASCII line.
std::string Cut(const std::string& line, int width) {
    return static_cast<int>(line.size()) <= width ? line : line.substr(0, std::max(width, 0));
}

class Screen : public View {
public:
    Screen(double interval, long count)
        : interval_(interval), count_(count), ellipsis_(Utf8Locale() ? "\u2026" : "...") {
        std::fputs("\x1b[?1049h\x1b[?25l", stdout);  // the alternate screen, no cursor
        std::fflush(stdout);
    }

    ~Screen() override {
        std::string out = "\x1b[?25h\x1b[?1049l";
        if (drawn_) {
            for (const std::string& line : Frame(Width(), INT_MAX)) {
                out += line;
                out += '\n';
            }
        }
        std::fputs(out.c_str(), stdout);
        std::fflush(stdout);
    }

    void Show(long n, const Sample& sample, const std::vector<Row>& rows) override {
        char text[160];
        if (count_ > 0) {
            std::snprintf(text, sizeof text,
                          "Tessaloquin performance counters  sample %ld of %ld, every %g s", n,
                          count_, interval_);
        } else {
            std::snprintf(text, sizeof text,
                          "Tessaloquin performance counters  sample %ld, every %g s", n, interval_);
        }
        title_ = text;
        provider_ = "provider: ";
        provider_ += sample.status == Status::kNotInstalled || sample.status == Status::kDisabled
                         ? "-"
                         : Describe(sample.provider);
        provider_ += "    ";
        provider_ += WallClock();
        absence_ = Absence(sample);
        rows_.clear();
        if (sample.status == Status::kData) {
            for (const Row& row : rows)
                rows_.push_back({row.info->name, ShownValue(row), IsRate(row.info->type)});
        }
        drawn_ = true;
        Draw();
    }

    void Resize() override {
        if (drawn_) Draw();
    }

private:
    struct Line {
        std::string name;
        std::string value;
        bool rate;
    };

    static int Width() {
        winsize size{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
        return size.ws_col;
    }

    static int Height() {
        winsize size{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0) return 24;
        return size.ws_row;
    }

    // The body: one line per counter, or why there are none.
    std::vector<std::string> Body(int width) const {
        std::vector<std::string> body;
        if (rows_.empty()) {
            std::string line = "  ";
            body.push_back(Cut(line += absence_, width));
            return body;
        }
        // The name column gives way first on a narrow window.
        const int nameWidth = std::clamp(width - 20, 8, 28);
        char text[256];
        for (const Line& line : rows_) {
            std::snprintf(text, sizeof text, "  %-*.*s %14s%s", nameWidth, nameWidth,
                          line.name.c_str(), line.value.c_str(), line.rate ? " /s" : "");
            body.push_back(Cut(text, width));
        }
        return body;
    }

    // The title and the provider stay; the body fills what is left, a blank
    // line first when there is room for it, and the rows that do not fit are
    // counted on the last line.
    std::vector<std::string> Frame(int width, int height) const {
        std::vector<std::string> lines = {Cut(title_, width), Cut(provider_, width)};
        const std::vector<std::string> body = Body(width);
        const size_t room = height > 2 ? static_cast<size_t>(height - 2) : 0;
        if (room >= body.size() + 1) {
            lines.push_back("");
            lines.insert(lines.end(), body.begin(), body.end());
        } else if (room >= body.size()) {
            lines.insert(lines.end(), body.begin(), body.end());
        } else if (room > 0) {
            lines.insert(lines.end(), body.begin(), body.begin() + static_cast<long>(room - 1));
            std::string more = "  ";
            more += ellipsis_;
            more += ' ';
            more += std::to_string(body.size() - (room - 1));
            more += " more";
            lines.push_back(more);  // short enough for any window that shows a title
        }
        if (static_cast<int>(lines.size()) > height) lines.resize(std::max(height, 1));
        return lines;
    }

    void Draw() {
        const std::vector<std::string> lines = Frame(Width(), Height());
        std::string out = "\x1b[H";  // home; every line is cleared to its end
        for (size_t i = 0; i < lines.size(); ++i) {
            out += lines[i];
            out += "\x1b[K";
            if (i + 1 < lines.size()) out += "\r\n";  // no line feed after the last: no scrolling
        }
        out += "\x1b[J";  // whatever the last screen had below
        std::fputs(out.c_str(), stdout);
        std::fflush(stdout);
    }

    double interval_;
    long count_;
    const char* ellipsis_;
    bool drawn_ = false;
    std::string title_, provider_, absence_;
    std::vector<Line> rows_;
};

}  // namespace

std::unique_ptr<View> ScreenView(double interval, long count) {
    return std::make_unique<Screen>(interval, count);
}

}  // namespace tqbs::perf
