#include "FrmCtl.h"

#include "widgets/Colors.h"
#include "widgets/Controls.h"
#include "widgets/Fonts.h"
#include "widgets/TextFit.h"
#include "widgets/Twips.h"

#include <QPainter>

namespace {

// Seven-segment digits drawn so that a blank is half a digit wide: "  0" then lines up with the
// unlit "88" behind it, whatever width the installed face gives its blank.
class SegmentLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setFont(font());
        p.setPen(palette().color(QPalette::WindowText));
        const QFontMetricsF metrics(font());
        const qreal digit = metrics.horizontalAdvance(QLatin1Char('8'));
        qreal x = 0;
        for (const QChar c : text()) {
            if (c == QLatin1Char(' ')) {
                x += digit / 2;
                continue;
            }
            p.drawText(QPointF(x, metrics.ascent()), QString(c));
            x += metrics.horizontalAdvance(c);
        }
    }
};

// Sized so the unlit "88" fits its box, so the digits stand on their dark red panel instead of being cut off.
QFont segmentFont()
{
    return sevenSegmentFont(36, 500, QStringLiteral("88"), twipsRect(0, 0, 735, 555).size());
}

QLabel *segmentLabel(QWidget *parent, const QString &name, const QString &caption, const QRect &twips, uint32_t textBgr)
{
    auto *label = new SegmentLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    label->setFont(segmentFont());
    label->setTextFormat(Qt::PlainText);
    QPalette pal = label->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        pal.setColor(group, QPalette::WindowText, bgrColor(textBgr));
    label->setPalette(pal);
    return label;
}

} // namespace

FrmCtl::FrmCtl()
{
    setUpWindow(this, QStringLiteral("frmCtl"), QStringLiteral("Form1"), Qt::Tool | Qt::FramelessWindowHint, 4230,
                2040);

    // Created bottommost first: a later sibling stands in front.
    LabelStyle frame;
    frame.bordered = true;
    Label1 = makeLabel(this, QStringLiteral("Label1"), QString(), QRect(30, 0, 4185, 2025), frame);

    LabelStyle panel;
    panel.opaque = true;
    panel.backBgr = Colors::DarkRed;
    Label2 = makeLabel(this, QStringLiteral("Label2"), QString(), QRect(990, 390, 975, 645), panel);

    LabelStyle heading;
    heading.font = designFont(gothicFace(), 9.75, 700);
    heading.textBgr = Colors::Grey;
    Label3 = makeLabel(this, QStringLiteral("Label3"), QStringLiteral("インジゲータ調整　ＭＡＸ±９"),
                       QRect(870, 120, 2535, 225), heading);

    Label14 =
        segmentLabel(this, QStringLiteral("Label14"), QStringLiteral("88"), QRect(1110, 420, 735, 555), Colors::DimRed);
    lblLebel =
        segmentLabel(this, QStringLiteral("lblLebel"), QStringLiteral("  0"), QRect(1110, 420, 795, 555), Colors::Red);

    cmdUP =
        makeButton(this, QStringLiteral("cmdUP"), QStringLiteral("+"), QRect(1980, 390, 615, 675), Colors::Yellow, 36);
    cmdDown = makeButton(this, QStringLiteral("cmdDown"), QStringLiteral("-"), QRect(2610, 390, 615, 675),
                         Colors::Yellow, 36);
    cmdPower = makeButton(this, QStringLiteral("cmdPower"), QStringLiteral("POWER DISPLAY"),
                          QRect(2220, 1290, 1665, 555), Colors::Red, 9);
    cmdMetar = makeButton(this, QStringLiteral("cmdMetar"), QStringLiteral("RPM DISPLAY"), QRect(330, 1290, 1665, 555),
                          Colors::Red, 9);

    // Labels take no focus, so the design's tab order reduces to the four buttons.
    setTabOrder(cmdUP, cmdDown);
    setTabOrder(cmdDown, cmdPower);
    setTabOrder(cmdPower, cmdMetar);
}
