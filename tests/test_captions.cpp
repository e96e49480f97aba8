#include "meter/MeterController.h"
#include "playback/TrackOpening.h"
#include "support/Screenshots.h"
#include "widgets/TextFit.h"
#include "windows/FrmCtl.h"
#include "windows/FrmMetar.h"
#include "windows/FrmPower.h"
#include "windows/FrmVoice.h"

#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

constexpr int kRoom = 8; // logical pixels of room drawn around a label

// The label alone on white at the given scale, its text without its background, with room around it
// as drawUnclipped() leaves, so that both put each glyph at the same fraction of a device pixel.
QImage drawLabel(QLabel *label, qreal scale)
{
    QImage image((label->size() + QSize(2 * kRoom, 2 * kRoom)) * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    label->render(&image, QPoint(kRoom, kRoom), QRegion(), QWidget::RenderFlags());
    return image;
}

// How far the label moves its caption to keep a leaning glyph's ink inside.
QPointF shiftOf(const QLabel *label)
{
    const auto *fitted = dynamic_cast<const FittedLabel *>(label);
    return fitted ? fitted->fitted().shift : QPointF();
}

// The label's caption as a label draws it, in the label's face at pixelSize, but with room around the
// label and nothing clipped, so whatever its box would cut off shows in the room.
QImage drawUnclipped(const QLabel *label, int pixelSize, qreal scale)
{
    QImage image((label->size() + QSize(2 * kRoom, 2 * kRoom)) * scale, QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    painter.setPen(label->palette().color(label->foregroundRole()));
    painter.translate(kRoom, kRoom); // the label's own coordinates, which decide how glyphs are rounded
    painter.translate(shiftOf(label));
    painter.drawText(label->contentsRect(), int(label->alignment()) | Qt::TextDontClip, label->text());
    return image;
}

// The label's box within an image of drawUnclipped().
QRect boxIn(const QLabel *label, qreal scale)
{
    return QRect(QPoint(qRound(kRoom * scale), qRound(kRoom * scale)), label->size() * scale);
}

int inkOutside(const QImage &image, const QRect &box)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!box.contains(x, y) && image.pixel(x, y) != qRgb(255, 255, 255))
                ++n;
    return n;
}

// The pixel size, up to the label's own, that the label draws its caption at; 0 if it matches none.
int drawnPixelSize(QLabel *label, qreal scale)
{
    const QRect box = boxIn(label, scale);
    const QImage own = drawLabel(label, scale).copy(box);
    for (int px = label->font().pixelSize(); px >= 1; --px)
        if (drawUnclipped(label, px, scale).copy(box) == own)
            return px;
    return 0;
}

// The largest pixel size, up to the label's own, at which the caption loses no ink at 1x or 2x.
int largestWhole(const QLabel *label)
{
    int px = label->font().pixelSize();
    for (; px > 1; --px) {
        bool whole = true;
        for (qreal scale : {1.0, 2.0})
            whole = whole && inkOutside(drawUnclipped(label, px, scale), boxIn(label, scale)) == 0;
        if (whole)
            break;
    }
    return px;
}

// A caption per label, the longest each can be given, so that every text the player shows is among them.
struct Captions {
    const char *label;
    QStringList texts;
};

std::vector<Captions> frmVoiceCaptions()
{
    QStringList times, rates;
    // Up to a 4 GiB wave file of 8-bit mono at the lowest rate the engine accepts: 4294967 seconds.
    for (int seconds : {0, 59 * 60 + 59, 999 * 60 + 59, 9999 * 60 + 59, 4294967})
        times << FormatPlayTime(seconds);
    // From MPEG's 8 kHz to the 768 kHz the engine accepts, and the longest rate it can be given.
    for (int hertz : {8000, 11025, 22050, 44100, 352800, 768000, 767999})
        rates << formatKiloHertz(hertz);
    return {
        {"lblTime", times},
        {"lblTotalTime", times},
        // 64-bit float, 8 channels at 768 kHz is the widest bit rate a file can report.
        {"lblBit", {QStringLiteral("8"), QStringLiteral("320"), QStringLiteral("1411"), QStringLiteral("393216")}},
        {"lblRate", rates},
        {"lblBitLbl", {QStringLiteral("kbit/s"), QStringLiteral("bit/smp")}},
        {"lblState", {QStringLiteral("再生中"), QStringLiteral("停止"), QStringLiteral("一時停止")}},
        {"lblMode", {QStringLiteral("ALL PLAY"), QStringLiteral("SINGLE")}},
        {"lblChannel", {QStringLiteral("STEREO"), QStringLiteral("MONO")}},
        // The play list grows past its 256 entries; ten thousand files is what a folder is tested with.
        {"lblMusicCnt", {QStringLiteral("0"), QStringLiteral("99"), QStringLiteral("10000")}},
        {"lblTotal", {QStringLiteral("0"), QStringLiteral("99"), QStringLiteral("10000")}},
        {"lblRepeat", {QStringLiteral("REPEAT")}},
        {"Label3", {QStringLiteral("再生時間")}},
        {"Label2", {QStringLiteral("/")}},
        {"Label6", {QStringLiteral("/")}},
        {"Label5", {QStringLiteral("kHz")}},
    };
}

void keepWindowShots(QWidget &w, const QString &name)
{
    for (qreal scale : {1.0, 2.0}) {
        QImage shot(w.size() * scale, QImage::Format_RGB32);
        shot.setDevicePixelRatio(scale);
        w.render(&shot);
        keepScreenshot(shot, QStringLiteral("%1@%2x.png").arg(name).arg(scale));
    }
}

} // namespace

TEST(Captions, EveryMainWindowCaptionIsDrawnWholeAtOneAndTwoTimesScale)
{
    FrmVoice w;
    for (const Captions &row : frmVoiceCaptions()) {
        auto *label = w.findChild<QLabel *>(QString::fromUtf8(row.label));
        ASSERT_NE(label, nullptr) << row.label;
        for (const QString &text : row.texts) {
            label->setText(text);
            const std::string what = std::string(row.label) + " \"" + text.toStdString() + "\"";
            int sizes[2] = {};
            for (int i : {0, 1}) {
                const qreal scale = i + 1;
                sizes[i] = drawnPixelSize(label, scale);
                ASSERT_NE(sizes[i], 0) << what << " is drawn at no size of its face at " << scale << "x";
                const int outside = inkOutside(drawUnclipped(label, sizes[i], scale), boxIn(label, scale));
                EXPECT_EQ(outside, 0) << what << " loses ink at " << sizes[i] << " px at " << scale << "x";
            }
            EXPECT_EQ(sizes[0], sizes[1]) << what << " changes size with the scale";
            // As large as fits. The fit keeps the glyphs' outlines inside, not just their pixels, so it
            // may stay one size below a size whose overhang happens to round away.
            EXPECT_GE(sizes[0] + 1, largestWhole(label)) << what << " drawn at " << sizes[0] << " px";
        }
    }
    // For a person to look at: every label with its longest caption, then with everyday ones.
    keepWindowShots(w, QStringLiteral("frmVoice-longest-captions"));
    const std::pair<const char *, const char *> everyday[] = {
        {"lblTime", "00:00"},     {"lblTotalTime", "59:59"}, {"lblRate", "11.025"}, {"lblBit", "1411"},
        {"lblBitLbl", "bit/smp"}, {"lblMusicCnt", "99"},     {"lblTotal", "99"},    {"lblState", "再生中"},
    };
    for (const auto &[name, text] : everyday)
        w.findChild<QLabel *>(QString::fromUtf8(name))->setText(QString::fromUtf8(text));
    keepWindowShots(w, QStringLiteral("frmVoice-everyday-captions"));
}

// The fixed captions of every window, as designed: each is drawn whole, and no more than a pixel below
// its design size; a glyph that leans a sliver past its box must not shrink the caption to a speck.
TEST(Captions, EveryDesignedCaptionOfEveryWindowIsDrawnWholeNearItsOwnSize)
{
    FrmVoice voice;
    FrmMetar metar;
    FrmPower power;
    FrmCtl ctl;
    for (QWidget *w : {static_cast<QWidget *>(&voice), static_cast<QWidget *>(&metar), static_cast<QWidget *>(&power),
                       static_cast<QWidget *>(&ctl)}) {
        int checked = 0;
        for (QLabel *label : w->findChildren<QLabel *>()) {
            if (label->text().isEmpty() || !dynamic_cast<FittedLabel *>(label) ||
                label->textFormat() != Qt::PlainText || label->frameWidth() > 0)
                continue;
            const std::string what = w->objectName().toStdString() + "." + label->objectName().toStdString() + " \"" +
                                     label->text().toStdString() + "\"";
            const int own = label->font().pixelSize();
            for (qreal scale : {1.0, 2.0}) {
                const int size = drawnPixelSize(label, scale);
                ASSERT_NE(size, 0) << what << " is drawn at no size of its face at " << scale << "x";
                EXPECT_GE(size + 1, own) << what << " shrinks from " << own << " px at " << scale << "x";
                EXPECT_EQ(inkOutside(drawUnclipped(label, size, scale), boxIn(label, scale)), 0)
                    << what << " loses ink at " << size << " px at " << scale << "x";
            }
            ++checked;
        }
        EXPECT_GT(checked, 0) << w->objectName().toStdString();
    }
}

// The readout's glyphs are too large for Qt's glyph cache, so the label keeps pictures of its recent
// captions: every new text and colour must show, in the pixels the glyphs themselves would cover.
TEST(Captions, TheRpmReadoutShowsEachNewTextAndColourWhereItsGlyphsFall)
{
    FrmMetar metar;
    auto *readout = dynamic_cast<FittedLabel *>(metar.lblRPM);
    ASSERT_TRUE(readout);
    const int pixelSize = QFontInfo(readout->drawnFont()).pixelSize();
    ASSERT_GT(pixelSize, 64) << "no longer a readout in large glyphs";
    const auto largestDifference = [](const QImage &a, const QImage &b) {
        int most = 256;
        if (a.size() == b.size()) {
            most = 0;
            for (int y = 0; y < a.height(); ++y)
                for (int x = 0; x < a.width(); ++x)
                    for (int shift : {0, 8, 16})
                        most = std::max(
                            most, std::abs(int(a.pixel(x, y) >> shift & 0xff) - int(b.pixel(x, y) >> shift & 0xff)));
        }
        return most;
    };
    // More texts than pictures kept, then one long gone and one still kept; then a new colour.
    QStringList texts;
    for (int n = 0; n < 16; ++n)
        texts << rpmCaption(n);
    texts << rpmCaption(0) << rpmCaption(14) << rpmCaption(14);
    for (qreal scale : {1.0, 2.0}) {
        for (const QString &text : texts) {
            SCOPED_TRACE(text.toStdString() + " at " + std::to_string(scale));
            readout->setText(text);
            const QImage drawn = drawLabel(readout, scale);
            const QImage glyphs = drawUnclipped(readout, pixelSize, scale);
            EXPECT_LE(largestDifference(drawn, glyphs), 4);
        }
        QPalette green = readout->palette();
        green.setColor(QPalette::WindowText, Qt::green);
        readout->setPalette(green);
        EXPECT_LE(largestDifference(drawLabel(readout, scale), drawUnclipped(readout, pixelSize, scale)), 4);
        readout->setPalette(QPalette());
    }
}
