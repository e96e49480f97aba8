// The least a Qt Widgets program spends to keep the display's windows and clocks: four top-level windows of
// the given sizes, a plain background each, and the instruments' 70, 70 and 120 ms timers with slots that
// do nothing: what the program keeps running with nothing playing. "tick" adds the 5 ms precise timer
// of playing, its slot doing nothing; "lamps" makes that slot stand for the voice lamps: 60 small
// rectangles in the first window, painted by one widget, of which it changes and repaints as many, as
// often, as the program's lamps change while speech plays.
// Prints its own CPU (user + system, all threads) over the measured seconds, after 2 s of settling, and in
// "lamps" the time each 5 ms slot took.
// Usage: floor_timer <seconds> <W>x<H>,<W>x<H>,... idle | tick | lamps <share of ticks changing> <lamps a tick>
#include "BenchTools.h"

#include <QApplication>
#include <QColor>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <time.h>
#include <vector>

namespace {

double wallSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Three columns of twenty lamps, each 23 x 7 pixels, as the voice lamps are laid out; one widget paints
// the ones its update region touches.
class LampPanel : public QWidget {
public:
    static constexpr int kLamps = 60;

    explicit LampPanel(QWidget *parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        for (int i = 0; i < kLamps; ++i)
            rects_[size_t(i)] = QRect(10 + (i / 20) * 40, 8 + (i % 20) * 10, 23, 7);
        setGeometry(0, 0, 140, 215);
    }
    void toggle(int i)
    {
        lit_[size_t(i)] = !lit_[size_t(i)];
        update(rects_[size_t(i)]);
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QPainter p(this);
        p.fillRect(event->rect() & QRect(0, 0, width(), height()), Qt::black);
        for (int i = 0; i < kLamps; ++i)
            if (event->region().intersects(rects_[size_t(i)]))
                p.fillRect(rects_[size_t(i)], lit_[size_t(i)] ? QColor(255, 0, 0) : QColor(64, 0, 0));
    }

private:
    std::array<QRect, kLamps> rects_{};
    std::array<bool, kLamps> lit_{};
};
} // namespace

int main(int argc, char *argv[])
{
    const bool idle = argc == 4 && std::strcmp(argv[3], "idle") == 0;
    const bool tickOnly = argc == 4 && std::strcmp(argv[3], "tick") == 0;
    const bool lamps = argc == 6 && std::strcmp(argv[3], "lamps") == 0;
    if (!idle && !tickOnly && !lamps) {
        std::fprintf(stderr, "usage: floor_timer <seconds> <W>x<H>,... idle | tick | lamps <share of ticks changing> "
                             "<lamps a tick>\n");
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    std::vector<QSize> sizes;
    for (const char *p = argv[2]; *p;) {
        char *end = nullptr;
        const long w = std::strtol(p, &end, 10);
        const long h = (*end == 'x') ? std::strtol(end + 1, &end, 10) : 0;
        if (w <= 0 || h <= 0) {
            std::fprintf(stderr, "floor_timer: bad size list %s\n", argv[2]);
            return 2;
        }
        sizes.emplace_back(int(w), int(h));
        p = (*end == ',') ? end + 1 : end;
    }
    const double changingShare = lamps ? std::atof(argv[4]) : 0.0;
    const double lampsPerChange = lamps ? std::atof(argv[5]) : 0.0;

    QApplication app(argc, argv);
    std::vector<std::unique_ptr<QWidget>> windows;
    for (const QSize &size : sizes) {
        auto window = std::make_unique<QWidget>();
        window->setAutoFillBackground(true);
        window->setPalette(QPalette(Qt::black));
        window->resize(size);
        windows.push_back(std::move(window));
    }
    LampPanel *panel = lamps ? new LampPanel(windows.front().get()) : nullptr;
    for (auto &window : windows)
        window->show();

    // The ticks that change lamps, and how many each, come out evenly from two running sums; the lamps
    // changed go round all sixty.
    double changeDue = 0, lampsDue = 0;
    int nextLamp = 0;
    // The slot's own time, as bench_voice times the program's tick: the least a tick that repaints lamps
    // costs in Qt, the update requests alone.
    std::vector<double> slotUs;
    bool measuring = false;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (!panel)
            return;
        const double t0 = wallSeconds();
        changeDue += changingShare;
        if (changeDue >= 1.0) {
            changeDue -= 1.0;
            lampsDue += lampsPerChange;
            for (; lampsDue >= 1.0; lampsDue -= 1.0) {
                panel->toggle(nextLamp);
                nextLamp = (nextLamp + 7) % LampPanel::kLamps;
            }
        }
        if (measuring)
            slotUs.push_back((wallSeconds() - t0) * 1e6);
    });
    if (!idle)
        tick.start(5);
    std::array<QTimer, 3> instruments;
    const std::array<int, 3> intervals{70, 70, 120};
    for (size_t i = 0; i < instruments.size(); ++i) {
        instruments[i].setTimerType(Qt::PreciseTimer);
        QObject::connect(&instruments[i], &QTimer::timeout, [] {});
        instruments[i].start(intervals[i]);
    }

    double cpu0 = 0, wall0 = 0;
    QTimer::singleShot(2000, [&] {
        cpu0 = cpuSeconds();
        wall0 = wallSeconds();
        measuring = true;
    });
    QTimer::singleShot(2000 + int(seconds * 1000), [&] {
        const double wall = wallSeconds() - wall0;
        std::printf("cpu: %.2f%% of one core over %.1f s (%zu windows, %s)\n", (cpuSeconds() - cpu0) / wall * 100, wall,
                    windows.size(),
                    idle    ? "instrument timers"
                    : panel ? "5 ms timer changing lamps"
                            : "5 ms timer");
        if (!slotUs.empty())
            std::printf("tick: median %.1f us, 90th percentile %.1f us over %zu ticks\n", percentile(slotUs, 0.5),
                        percentile(slotUs, 0.9), slotUs.size());
        app.quit();
    });
    return app.exec();
}
