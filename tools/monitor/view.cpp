#include "tools/monitor/view.h"

#include <curses.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace lxd::monitor {
namespace {

constexpr int kStripCellWidth = 7;  // "pp rrr "
constexpr int kGridLabelWidth = 5;  // "511: "
constexpr short kActivePair = 1;
constexpr short kChangedPair = 2;
constexpr double kDrawRate = 30.0;

const char* FormatName(LevelFormat format) {
    switch (format) {
        case LevelFormat::kHex:
            return "hex";
        case LevelFormat::kPercent:
            return "percent";
        default:
            return "decimal";
    }
}

int CellWidth(LevelFormat format) {
    return format == LevelFormat::kHex ? 3 : 4;
}

void FormatLevel(char* out, std::size_t size, LevelFormat format, std::uint8_t level) {
    switch (format) {
        case LevelFormat::kHex:
            std::snprintf(out, size, "%02X", level);
            break;
        case LevelFormat::kPercent:
            std::snprintf(out, size, "%3d", (level * 100 + 127) / 255);
            break;
        default:
            std::snprintf(out, size, "%3u", level);
            break;
    }
}

// The screen state: what is selected, the layout for the current size, and a
// shadow of every grid and strip cell as last drawn, so that only cells whose
// text or look changed are written.
class LiveView {
  public:
    LiveView(DriverSession& session, const Options& options)
        : session_(session), port_(options.port), format_(options.format), rate_(options.rate) {}

    void Start() {
        initscr();
        cbreak();
        noecho();
        keypad(stdscr, TRUE);
        curs_set(0);
        if (has_colors()) {
            start_color();
            use_default_colors();
            init_pair(kActivePair, COLOR_GREEN, -1);
            init_pair(kChangedPair, COLOR_YELLOW, -1);
        }
        Relayout();
    }
    void Stop() { endwin(); }

    // Handles one key; false when the user asked to quit.
    bool HandleKey(int key, Clock::time_point now);
    void Draw(Clock::time_point now);

  private:
    void Relayout();
    void SelectPort(int port) {
        port_ = (port % kNumPorts + kNumPorts) % kNumPorts;
        Invalidate();
    }
    void Invalidate() {
        std::fill(std::begin(gridShadow_), std::end(gridShadow_), -1);
        std::fill(std::begin(stripShadow_), std::end(stripShadow_), -1);
        erase();
        staticDrawn_ = false;
    }
    void DrawStatic();
    void DrawStrip(Clock::time_point now);
    void DrawGrid();
    void DrawStatus();

    DriverSession& session_;
    int port_;
    LevelFormat format_;
    double rate_;
    int scroll_ = 0;  // first grid row shown

    // Layout for the current terminal size.
    int stripPerRow_ = 12;
    int stripRows_ = 3;
    int stripTop_ = 1;
    int statusRow_ = 4;
    int gridTop_ = 6;
    int gridColumns_ = 16;
    int gridRowsShown_ = 32;
    bool tooSmall_ = false;
    bool staticDrawn_ = false;

    // Last drawn look of each cell: (level << 8 | attribute class), -1 unknown.
    long gridShadow_[kChannelsPerPort];
    long stripShadow_[kNumPorts];
};

void LiveView::Relayout() {
    const int width = COLS;
    const int height = LINES;
    stripRows_ = std::max(1, (kNumPorts * kStripCellWidth + width - 3) / std::max(1, width - 2));
    stripPerRow_ = (kNumPorts + stripRows_ - 1) / stripRows_;
    stripTop_ = 2;
    statusRow_ = stripTop_ + stripRows_;
    gridTop_ = statusRow_ + 2;
    const int cell = CellWidth(format_);
    gridColumns_ = 8;
    for (const int columns : {32, 16}) {
        if (kGridLabelWidth + columns * cell <= width) {
            gridColumns_ = columns;
            break;
        }
    }
    const int gridRows = kChannelsPerPort / gridColumns_;
    gridRowsShown_ = std::min(gridRows, height - gridTop_ - 1);
    tooSmall_ = width < kGridLabelWidth + 8 * cell || gridRowsShown_ < 2;
    scroll_ = std::clamp(scroll_, 0, std::max(0, gridRows - gridRowsShown_));
    Invalidate();
}

bool LiveView::HandleKey(int key, Clock::time_point now) {
    const int gridRows = kChannelsPerPort / gridColumns_;
    const int maxScroll = std::max(0, gridRows - gridRowsShown_);
    switch (key) {
        case 'q':
        case 'Q':
        case 27:  // Esc
            return false;
        case KEY_RIGHT:
        case '.':
        case '>':
            SelectPort(port_ + 1);
            break;
        case KEY_LEFT:
        case ',':
        case '<':
            SelectPort(port_ - 1);
            break;
        case '\t':
            for (int step = 1; step <= kNumPorts; ++step) {
                const int candidate = (port_ + step) % kNumPorts;
                if (session_.Active(candidate, now)) {
                    SelectPort(candidate);
                    break;
                }
            }
            break;
        case 'f':
            format_ = format_ == LevelFormat::kDecimal ? LevelFormat::kHex
                      : format_ == LevelFormat::kHex   ? LevelFormat::kPercent
                                                       : LevelFormat::kDecimal;
            Relayout();
            break;
        case 'd':
            format_ = LevelFormat::kDecimal;
            Relayout();
            break;
        case 'x':
        case 'h':
            format_ = LevelFormat::kHex;
            Relayout();
            break;
        case '%':
        case 'p':
            format_ = LevelFormat::kPercent;
            Relayout();
            break;
        case KEY_DOWN:
        case 'j':
            scroll_ = std::min(scroll_ + 1, maxScroll);
            Invalidate();
            break;
        case KEY_UP:
        case 'k':
            scroll_ = std::max(scroll_ - 1, 0);
            Invalidate();
            break;
        case KEY_NPAGE:
            scroll_ = std::min(scroll_ + gridRowsShown_, maxScroll);
            Invalidate();
            break;
        case KEY_PPAGE:
            scroll_ = std::max(scroll_ - gridRowsShown_, 0);
            Invalidate();
            break;
        case KEY_RESIZE:
            Relayout();
            break;
        default:
            break;
    }
    return true;
}

void LiveView::DrawStatic() {
    if (tooSmall_) {
        mvaddstr(0, 0, "lxdravik-monitor: the terminal is too small (q quits)");
        staticDrawn_ = true;
        return;
    }
    char line[256];
    std::string file = session_.Path();
    const std::size_t slash = file.find_last_of('/');
    if (slash != std::string::npos) {
        file = file.substr(slash + 1);
    }
    std::snprintf(line, sizeof line, " lxdravik-monitor  %s %d.%d \"%s\"  %s  UDP %u  %.0f Hz",
                  file.c_str(), session_.VersionMajor(), session_.VersionMinor(),
                  session_.Branding().c_str(), session_.DeviceName().c_str(), unsigned{kIntakePort},
                  rate_);
    attron(A_BOLD);
    mvaddnstr(0, 0, line, COLS);
    attroff(A_BOLD);
    attron(A_DIM);
    mvaddnstr(1, 0, " port:updates/s   bright: levels moved in the last second", COLS);
    attroff(A_DIM);

    // Column header of the grid: channel offsets within a row.
    move(gridTop_ - 1, 0);
    clrtoeol();
    addstr(" ch");
    const int cell = CellWidth(format_);
    for (int column = 0; column < gridColumns_; ++column) {
        std::snprintf(line, sizeof line, format_ == LevelFormat::kHex ? "%2d" : "%3d", column);
        mvaddstr(gridTop_ - 1, kGridLabelWidth + column * cell, line);
    }
    const char* help =
        " q quit  Left/Right port  Tab next active  f format (d x p)  Up/Down/PgUp/PgDn scroll";
    attron(A_DIM);
    mvaddnstr(LINES - 1, 0, help, COLS);
    attroff(A_DIM);
    staticDrawn_ = true;
}

void LiveView::DrawStrip(Clock::time_point now) {
    for (int port = 0; port < kNumPorts; ++port) {
        const bool active = session_.Active(port, now);
        const bool selected = port == port_;
        const long rate = std::lround(std::min(session_.UpdatesPerSecond(port), 999.0));
        const int look = (selected ? 4 : 0) | (active ? 2 : 0) | (session_.Changes(port) ? 1 : 0);
        const long shadow = rate << 8 | look;
        if (stripShadow_[port] == shadow) {
            continue;
        }
        stripShadow_[port] = shadow;
        const int row = stripTop_ + port / stripPerRow_;
        const int column = 1 + (port % stripPerRow_) * kStripCellWidth;
        attr_t attributes = A_NORMAL;
        if (selected) {
            attributes |= A_REVERSE;
        }
        if (active) {
            attributes |= A_BOLD | (has_colors() ? COLOR_PAIR(kActivePair) : A_NORMAL);
        } else if (session_.Changes(port) == 0) {
            attributes |= A_DIM;
        }
        char cell[32];
        std::snprintf(cell, sizeof cell, "%2d:%-3ld", port, rate);
        attron(attributes);
        mvaddstr(row, column, cell);
        attroff(attributes);
    }
}

void LiveView::DrawStatus() {
    char line[256];
    std::snprintf(line, sizeof line,
                  " port %-2d  %-7s  %4.0f updates/s  %6u changes   %llu ServiceDevices calls",
                  port_, FormatName(format_), session_.UpdatesPerSecond(port_),
                  session_.Changes(port_),
                  static_cast<unsigned long long>(session_.ServiceCalls()));
    mvaddnstr(statusRow_, 0, line, COLS);
    clrtoeol();
}

void LiveView::DrawGrid() {
    const std::uint8_t* levels = session_.Levels(port_);
    const std::uint8_t* previous = session_.PreviousLevels(port_);
    const int cell = CellWidth(format_);
    char text[32];
    for (int row = 0; row < gridRowsShown_; ++row) {
        const int first = (scroll_ + row) * gridColumns_;
        const int y = gridTop_ + row;
        if (gridShadow_[first] == -1) {
            std::snprintf(text, sizeof text, "%3d:", first);
            attron(A_DIM);
            mvaddstr(y, 0, text);
            attroff(A_DIM);
        }
        for (int column = 0; column < gridColumns_; ++column) {
            const int channel = first + column;
            const bool moved = levels[channel] != previous[channel];
            const long shadow = long{levels[channel]} << 8 | (moved ? 1 : 0);
            if (gridShadow_[channel] == shadow) {
                continue;
            }
            gridShadow_[channel] = shadow;
            FormatLevel(text, sizeof text, format_, levels[channel]);
            const attr_t attributes =
                moved ? (A_BOLD | (has_colors() ? COLOR_PAIR(kChangedPair) : A_NORMAL))
                      : (levels[channel] == 0 ? A_DIM : A_NORMAL);
            attron(attributes);
            mvaddstr(y, kGridLabelWidth + column * cell, text);
            attroff(attributes);
        }
    }
}

void LiveView::Draw(Clock::time_point now) {
    if (!staticDrawn_) {
        DrawStatic();
    }
    if (!tooSmall_) {
        DrawStrip(now);
        DrawStatus();
        DrawGrid();
    }
    refresh();
}

}  // namespace

void RunLiveView(DriverSession& session, const Options& options, const std::atomic<bool>& stop) {
    LiveView view(session, options);
    view.Start();
    const Clock::duration period = host::Seconds(1.0 / options.rate);
    const Clock::duration drawPeriod = host::Seconds(1.0 / kDrawRate);
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = host::DeadlineAfter(start, options.duration);
    Clock::time_point nextTick = start;
    Clock::time_point nextDraw = start;
    bool dirty = true;
    while (!stop.load()) {
        Clock::time_point now = Clock::now();
        if (now >= end) {
            break;
        }
        if (now >= nextTick) {
            session.Tick(now);
            nextTick += period;
            if (nextTick < now) {
                nextTick = now + period;  // fell behind: do not try to catch up
            }
            dirty = true;
        }
        if (dirty && now >= nextDraw) {
            view.Draw(now);
            nextDraw = now + drawPeriod;
            dirty = false;
        }
        const Clock::time_point wake = std::min({nextTick, end, dirty ? nextDraw : nextTick});
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now());
        timeout(static_cast<int>(std::clamp<long long>(wait.count(), 0, 1000)));
        const int key = getch();
        if (key != ERR) {
            if (!view.HandleKey(key, Clock::now())) {
                break;
            }
            dirty = true;
            nextDraw = Clock::now();
        }
    }
    view.Stop();
}

}  // namespace lxd::monitor
