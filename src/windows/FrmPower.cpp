#include "FrmPower.h"

#include "widgets/Colors.h"
#include "widgets/Controls.h"
#include "widgets/Fonts.h"
#include "widgets/TextFit.h"
#include "widgets/Twips.h"

namespace {

struct LampPlace {
    int left, top;
    uint32_t color;
};

LampPlace designLamp(int i)
{
    using namespace Colors;
    if (i <= 2)
        return {390, 750 + 720 * i, Yellow};
    if (i <= 17) {
        const int bar = (i - 3) / 5, k = (i - 3) % 5;
        return {390 + 480 * k, 1110 + 720 * bar, Grey};
    }
    if (i <= 25) {
        const int pair = (i - 18) / 2, lower = (i - 18) % 2;
        const bool redPair = pair % 2 == 1; // SUST and DEL: grey over red; ATTACK and DELAY: green over grey
        const uint32_t color = lower ? (redPair ? Red : Grey) : (redPair ? Grey : Green);
        return {3360 + 690 * pair, 2340 + 210 * lower, color};
    }
    const int lefts[] = {390, 2070, 3750, 5430};
    return {lefts[i - 26], 3120, i == 26 ? Yellow : Grey};
}

LabelStyle captionStyle()
{
    LabelStyle s;
    s.font = designFont(gothicFace(), 8.25, 700);
    s.textBgr = Colors::Grey;
    return s;
}

} // namespace

FrmPower::FrmPower()
{
    setUpWindow(this, QStringLiteral("frmPower"), QStringLiteral("ＰＯＷＥＲ　ＤＩＳＰＬＡＹ"),
                Qt::Tool | Qt::FramelessWindowHint, 6330, 5640);

    // The program number: the panel first, then the dim segments, the lit digits in front.
    LabelStyle panel;
    panel.opaque = true;
    panel.backBgr = Colors::DarkRed;
    panel.bordered = true;
    Label1 = makeLabel(this, QStringLiteral("Label1"), QString(), QRect(3960, 840, 1785, 615), panel);
    LabelStyle digits;
    digits.font = sevenSegmentFont(36, 500, QStringLiteral("8888"), twipsRect(0, 0, 1545, 555).size());
    digits.textBgr = Colors::DimRed;
    Label15 = makeLabel(this, QStringLiteral("Label15"), QStringLiteral("8888"), QRect(4080, 870, 1545, 555), digits);
    digits.textBgr = Colors::Red;
    Label14 = makeLabel(this, QStringLiteral("Label14"), QStringLiteral("3725"), QRect(4080, 870, 1575, 555), digits);

    for (int i = 0; i < kLamps; ++i) {
        const LampPlace place = designLamp(i);
        auto *lamp = new Lamp(this, QStringLiteral("lblLED_%1").arg(i), place.color);
        lamp->setGeometry(twipsRect(place.left, place.top, 465, 195));
        lblLED[size_t(i)] = lamp;
    }

    const LabelStyle text = captionStyle();
    Label2 = makeLabel(this, QStringLiteral("Label2"), QStringLiteral("VDC"), QRect(2400, 930, 345, 135), text);
    Label3 = makeLabel(this, QStringLiteral("Label3"), QStringLiteral("AMP"), QRect(2370, 1650, 375, 135), text);
    Label4 = makeLabel(this, QStringLiteral("Label4"), QStringLiteral("AUX POWER"), QRect(1710, 2370, 1035, 120), text);
    Label5 =
        makeLabel(this, QStringLiteral("Label5"), QStringLiteral("PROGRAM NO."), QRect(4320, 1740, 1245, 165), text);
    Label6 = makeLabel(this, QStringLiteral("Label6"), QStringLiteral("ATTACK"), QRect(3210, 2160, 675, 135), text);
    Label7 = makeLabel(this, QStringLiteral("Label7"), QStringLiteral("SUST"), QRect(4050, 2160, 495, 135), text);
    Label8 = makeLabel(this, QStringLiteral("Label8"), QStringLiteral("DELAY"), QRect(4710, 2160, 615, 135), text);
    Label9 = makeLabel(this, QStringLiteral("Label9"), QStringLiteral("DEL"), QRect(5520, 2160, 345, 135), text);
    Label10 = makeLabel(this, QStringLiteral("Label10"), QStringLiteral("POWER"), QRect(330, 3660, 615, 165), text);
    Label11 = makeLabel(this, QStringLiteral("Label11"), QStringLiteral("NORMAL"), QRect(1950, 3660, 705, 165), text);
    Label12 = makeLabel(this, QStringLiteral("Label12"), QStringLiteral("AUTO"), QRect(3750, 3630, 465, 135), text);
    Label13 = makeLabel(this, QStringLiteral("Label13"), QStringLiteral("PURSUIT"), QRect(5280, 3630, 795, 135), text);

    for (QLabel *caption :
         {Label2, Label3, Label4, Label5, Label6, Label7, Label8, Label9, Label10, Label11, Label12, Label13})
        growToFitText(caption);

    auto button = [this](const char *name, int left, uint32_t face, QLabel *caption) {
        auto *b = makeButton(this, QString::fromLatin1(name), QString(), QRect(left, 4050, 465, 1065), face);
        // The face carries no caption; a screen reader gets the name written above it.
        b->setAccessibleName(caption->text());
        return b;
    };
    cmdPursuit = button("cmdPursuit", 5430, Colors::Grey, Label13);
    cmdAuto = button("cmdAuto", 3750, Colors::Grey, Label12);
    cmdNormal = button("cmdNormal", 2070, Colors::Grey, Label11);
    cmdPower = button("cmdPower", 390, Colors::Red, Label10);
    setTabOrder(cmdPursuit, cmdAuto);
    setTabOrder(cmdAuto, cmdNormal);
    setTabOrder(cmdNormal, cmdPower);

    Timer1 = new DesignTimer(this, QStringLiteral("Timer1"), 0, true);
}
