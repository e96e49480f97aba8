#include "FrmMetar.h"

#include "widgets/Colors.h"
#include "widgets/Controls.h"
#include "widgets/Fonts.h"
#include "widgets/TextFit.h"
#include "widgets/Twips.h"

#include <QApplication>

namespace {

struct Span {
    int top, height;
};

// Tops and heights of the arc lamps: up from the lower left to the crown, down to the right.
constexpr Span kArc[FrmMetar::kArcLamps] = {
    {2610, 285}, {2430, 405}, {2250, 405}, {2130, 375}, {2010, 345}, {1890, 375}, {1770, 375}, {1680, 315}, {1590, 315},
    {1500, 315}, {1440, 315}, {1380, 315}, {1320, 315}, {1260, 315}, {1230, 255}, {1170, 555}, {1140, 285}, {1110, 285},
    {1080, 285}, {1050, 285}, {1050, 285}, {1050, 285}, {1050, 285}, {1020, 315}, {1050, 285}, {1050, 285}, {1080, 285},
    {1110, 285}, {1140, 285}, {1200, 285}, {1260, 285}, {1290, 315}, {1380, 315}, {1440, 345}, {1560, 315},
};

struct GaugeLamp {
    int left, top;
    uint32_t color;
};

GaugeLamp designGaugeLamp(int i)
{
    if (i == 0)
        return {240, 1110, Colors::Yellow};
    if (i <= 6) {
        const int bar = i - 1;
        return {bar < 3 ? 330 : 4110, 3300 + 600 * (bar % 3), Colors::Yellow};
    }
    const int bar = (i - 7) / 7, k = (i - 7) % 7;
    return {(bar < 3 ? 330 : 4110) + 480 * k, 3600 + 600 * (bar % 3), Colors::Grey};
}

LabelStyle gothic(double points, uint32_t textBgr)
{
    LabelStyle s;
    s.font = designFont(gothicFace(), points, 700);
    s.textBgr = textBgr;
    return s;
}

} // namespace

QRect FrmMetar::arcLampTwips(int i)
{
    return QRect(270 + 210 * i, kArc[i].top, 195, kArc[i].height);
}

FrmMetar::FrmMetar()
{
    setUpWindow(this, QStringLiteral("frmMetar"), QStringLiteral("ＲＰＭ　ＤＩＳＰＬＡＹ"),
                Qt::Tool | Qt::FramelessWindowHint, 7860, 5640);

    // Built back to front: the arc lamps, the face over them, then everything else.
    for (int i = 0; i < kArcLamps; ++i) {
        auto *lamp = new Lamp(this, QStringLiteral("lblMetar_%1").arg(i), Colors::Grey);
        const QRect r = arcLampTwips(i);
        lamp->setGeometry(twipsRect(r.x(), r.y(), r.width(), r.height()));
        lblMetar[size_t(i)] = lamp;
    }
    Image1 = new GaugeFace(this);
    Image1->setGeometry(twipsRect(-960, 570, GaugeFace::kWidthTwips, GaugeFace::kHeightTwips));

    const uint32_t buttonText = toBgr(QApplication::palette().color(QPalette::ButtonText));
    const uint32_t buttonFace = toBgr(QApplication::palette().color(QPalette::Button));

    LabelStyle panel;
    panel.opaque = true;
    panel.backBgr = Colors::DarkRed;
    Label11 = makeLabel(this, QStringLiteral("Label11"), QString(), QRect(3480, 1740, 2775, 1245), panel);
    LabelStyle digits;
    digits.font = sevenSegmentFont(72, 500, QStringLiteral("888"), twipsRect(0, 0, 2415, 1155).size());
    digits.textBgr = Colors::DimRed;
    Label18 = makeLabel(this, QStringLiteral("Label18"), QStringLiteral("888"), QRect(3720, 1770, 2415, 1155), digits);
    digits.textBgr = Colors::Red;
    digits.alignment = Qt::AlignHCenter | Qt::AlignTop;
    lblRPM = makeLabel(this, QStringLiteral("lblRPM"), QStringLiteral("888"), QRect(3660, 1770, 2535, 1155), digits);

    panel.backBgr = Colors::Red;
    Label10 = makeLabel(this, QStringLiteral("Label10"), QString(), QRect(6270, 2550, 975, 435), panel);
    Label12 = makeLabel(this, QStringLiteral("Label12"), QStringLiteral("RPM"), QRect(6510, 2550, 495, 255),
                        gothic(11.25, buttonText));
    Label13 = makeLabel(this, QStringLiteral("Label13"), QStringLiteral("X100"), QRect(6510, 2760, 495, 165),
                        gothic(9.75, buttonText));

    const uint32_t light = Colors::LightGrey;
    Label14 =
        makeLabel(this, QStringLiteral("Label14"), QStringLiteral("0"), QRect(420, 2940, 105, 195), gothic(9, light));
    Label15 = makeLabel(this, QStringLiteral("Label15"), QStringLiteral("1000"), QRect(1650, 2070, 435, 165),
                        gothic(8.25, light));
    Label16 = makeLabel(this, QStringLiteral("Label16"), QStringLiteral("4000"), QRect(3150, 1500, 435, 165),
                        gothic(8.25, light));
    Label17 = makeLabel(this, QStringLiteral("Label17"), QStringLiteral("9000"), QRect(7230, 1860, 435, 165),
                        gothic(8.25, light));

    for (int i = 0; i < kGaugeLamps; ++i) {
        const GaugeLamp place = designGaugeLamp(i);
        auto *lamp = new Lamp(this, QStringLiteral("lblLED_%1").arg(i), place.color);
        lamp->setGeometry(twipsRect(place.left, place.top, 465, 195));
        lblLED[size_t(i)] = lamp;
    }

    const uint32_t grey = Colors::Grey;
    Label1 = makeLabel(this, QStringLiteral("Label1"), QStringLiteral("INLET   F"), QRect(2820, 3390, 825, 165),
                       gothic(8.25, grey));
    Label2 =
        makeLabel(this, QStringLiteral("Label2"), QStringLiteral("+"), QRect(3390, 3360, 105, 105), gothic(6.75, grey));
    Label3 = makeLabel(this, QStringLiteral("Label3"), QStringLiteral("EGT   F"), QRect(2970, 4020, 615, 135),
                       gothic(8.25, grey));
    Label4 =
        makeLabel(this, QStringLiteral("Label4"), QStringLiteral("+"), QRect(3360, 3990, 105, 105), gothic(6.75, grey));
    Label5 = makeLabel(this, QStringLiteral("Label5"), QStringLiteral("FUEL   GALS"), QRect(2490, 4620, 1095, 165),
                       gothic(8.25, grey));
    Label6 = makeLabel(this, QStringLiteral("Label6"), QStringLiteral("OIL   F"), QRect(6810, 3390, 675, 195),
                       gothic(8.25, grey));
    Label7 =
        makeLabel(this, QStringLiteral("Label7"), QStringLiteral("+"), QRect(7200, 3360, 105, 105), gothic(6.75, grey));
    Label8 = makeLabel(this, QStringLiteral("Label8"), QStringLiteral("OIL   PSI"), QRect(6630, 4020, 795, 195),
                       gothic(8.25, grey));
    Label9 = makeLabel(this, QStringLiteral("Label9"), QStringLiteral("FUEL  FLOW   GPH"), QRect(5850, 4620, 1605, 195),
                       gothic(8.25, grey));

    for (QLabel *caption :
         {Label1, Label2, Label3, Label4, Label5, Label6, Label7, Label8, Label9, Label14, Label15, Label16, Label17})
        growToFitText(caption);

    LabelStyle divider;
    divider.opaque = true;
    divider.backBgr = buttonFace;
    divider.bordered = true;
    Label19 = makeLabel(this, QStringLiteral("Label19"), QString(), QRect(7800, 0, 45, 5655), divider);

    Timer1 = new DesignTimer(this, QStringLiteral("Timer1"), 0, true);
    Timer2 = new DesignTimer(this, QStringLiteral("Timer2"), 0, true);
}
