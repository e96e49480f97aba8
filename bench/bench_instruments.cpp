// The two instrument windows on their own, for work on what their animation costs with nothing playing.
//   frames <ticks>  steps both windows' timers by hand from a fixed seed, as their intervals interleave,
//                   and after each step prints a hash of what the X server shows of each window: two builds
//                   whose lists agree draw the same pixels. VB_FRAMES_DIR=<folder> also keeps every frame.
//   steps <ticks>   the same steps without looking at the screen, back to back: the CPU of one step's
//                   lamp changes and repaint, free of the event loop's waiting.
//   cpu <seconds>   runs the timers as the program does and prints the process's CPU over that time (all
//                   threads, from the kernel's nanosecond count) and the paint events of each widget.
//   floor <seconds> the same windows and timers, but the ticks change nothing: the cost of waking alone.
// Needs a display (Xvfb will do).
#include "meter/MeterController.h"
#include "power/PowerController.h"
#include "widgets/Fonts.h"
#include "windows/FrmMetar.h"
#include "windows/FrmPower.h"
#include "windows/FrmVoice.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QMap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {

// A repeatable source: the same ticks light the same lamps in every build.
class FixedRandom : public RandomSource {
public:
    double next() override
    {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return double(state_ >> 11) / double(1ULL << 53);
    }

private:
    uint64_t state_ = 12345;
};

struct PaintCounts : QObject {
    QMap<QString, int> byName;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++byName[o->parent() ? o->parent()->objectName() + QLatin1Char('.') + o->objectName() : o->objectName()];
        return false;
    }
};

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

QByteArray shownHash(QWidget &w, const QString &keep)
{
    const QImage image = w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    if (!keep.isEmpty())
        image.save(keep);
    return QCryptographicHash::hash(QByteArrayView(image.constBits(), image.sizeInBytes()), QCryptographicHash::Md5)
        .toHex()
        .left(12);
}

void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    installFontSubstitutions();
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    const int amount = args.value(2).toInt();
    const QStringList modes = {QStringLiteral("frames"), QStringLiteral("steps"), QStringLiteral("cpu"),
                               QStringLiteral("floor")};
    if (!modes.contains(mode) || amount <= 0) {
        std::fprintf(stderr, "usage: bench_instruments frames|steps <ticks> | cpu|floor <seconds>\n");
        return 2;
    }

    FixedRandom random;
    FrmVoice voice;
    FrmMetar metar;
    FrmPower power;
    metar.move(0, 0);
    power.move(metar.width() + 10, 0);
    auto *meterC = new MeterController(metar, random);
    auto *powerC = new PowerController(power, voice, random);
    metar.show();
    power.show();
    {
        QEventLoop exposing; // the windows mapped and painted once
        QTimer::singleShot(1000, &exposing, &QEventLoop::quit);
        exposing.exec();
    }

    if (mode == QLatin1String("frames") || mode == QLatin1String("steps")) {
        const bool look = mode == QLatin1String("frames");
        meterC->Form_Load();
        powerC->Form_Load();
        for (DesignTimer *t : {metar.Timer1, metar.Timer2, power.Timer1})
            t->setEnabled(false);
        settle();
        const QString dir = qEnvironmentVariable("VB_FRAMES_DIR");
        // Ticks in the order the intervals bring them: 70 ms for the gauges and the power bars, 120 ms for the arc.
        int at70 = 70, at120 = 120;
        const double cpu0 = processCpuSeconds();
        for (int step = 0; step < amount; ++step) {
            const int now = std::min(at70, at120);
            if (at70 == now) {
                meterC->Timer1_Timer();
                powerC->Timer1_Timer();
                at70 += 70;
            }
            if (at120 == now) {
                meterC->Timer2_Timer();
                at120 += 120;
            }
            settle();
            if (!look)
                continue;
            const auto keep = [&](const char *name) {
                return dir.isEmpty() ? QString()
                                     : QDir(dir).filePath(QStringLiteral("%1-%2.png")
                                                              .arg(QLatin1String(name))
                                                              .arg(step, 5, 10, QLatin1Char('0')));
            };
            std::printf("%d %s %s\n", now, shownHash(metar, keep("metar")).constData(),
                        shownHash(power, keep("power")).constData());
        }
        if (!look)
            std::printf("steps: %.1f us of CPU a step over %d steps\n", (processCpuSeconds() - cpu0) * 1e6 / amount,
                        amount);
        return 0;
    }

    PaintCounts counts;
    for (QWidget *w :
         metar.findChildren<QWidget *>() + power.findChildren<QWidget *>() + QList<QWidget *>{&metar, &power})
        w->installEventFilter(&counts);
    if (mode == QLatin1String("cpu")) {
        QObject::connect(metar.Timer1, &DesignTimer::Timer, meterC, &MeterController::Timer1_Timer);
        QObject::connect(metar.Timer2, &DesignTimer::Timer, meterC, &MeterController::Timer2_Timer);
        QObject::connect(power.Timer1, &DesignTimer::Timer, powerC, &PowerController::Timer1_Timer);
        meterC->Form_Load();
        powerC->Form_Load();
    } else {
        // The timers as the program sets them, each tick doing nothing.
        metar.Timer1->setSharedPhase(true);
        metar.Timer2->setSharedPhase(true);
        power.Timer1->setSharedPhase(true);
        metar.Timer1->setInterval(70);
        metar.Timer2->setInterval(120);
        power.Timer1->setInterval(70);
    }
    settle();
    counts.byName.clear();
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = processCpuSeconds();
    QTimer::singleShot(amount * 1000, &app, &QCoreApplication::quit);
    QApplication::exec();
    const double cpu = processCpuSeconds() - cpu0;
    const double seconds = double(wall.nsecsElapsed()) * 1e-9;
    std::printf("%s: %.3f%% of one core over %.1f s\n", qPrintable(mode), cpu / seconds * 100, seconds);
    int total = 0;
    for (auto it = counts.byName.cbegin(); it != counts.byName.cend(); ++it) {
        total += it.value();
        std::printf("  %6.1f/s %s\n", it.value() / seconds, qPrintable(it.key()));
    }
    std::printf("  %6.1f/s paint events in all\n", total / seconds);
    return 0;
}
