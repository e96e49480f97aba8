#include "FrmVoice.h"

#include "widgets/Colors.h"
#include "widgets/Controls.h"
#include "widgets/Fonts.h"
#include "widgets/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

namespace {

struct ButtonSpec {
    ColorButton *FrmVoice::*member;
    const char *name;
    const char *caption;
    int left, top;
    uint32_t face;
    double points;
    const char *tooltip;
};

// In tab order.
const ButtonSpec kButtons[] = {
    {&FrmVoice::cmdStart, "cmdStart", "START", 150, 300, Colors::Yellow, 9, "再生"},
    {&FrmVoice::cmdFile, "cmdFile", "FILE", 3150, 300, Colors::Yellow, 9, "音声ﾌｧｲﾙｵｰﾌﾟﾝ"},
    {&FrmVoice::cmdPause, "cmdPause", "PAUSE", 150, 1350, Colors::Yellow, 9, "一時停止"},
    {&FrmVoice::cmdStop, "cmdStop", "STOP", 3150, 1350, Colors::Yellow, 9, "停止"},
    {&FrmVoice::cmdPrev, "cmdPrev", "SKIP PREV", 150, 2400, Colors::Red, 9, "前の曲"},
    {&FrmVoice::cmdNext, "cmdNext", "SKIP NEXT", 3150, 2400, Colors::Red, 9, "次の曲"},
    {&FrmVoice::cmdRepeat, "cmdRepeat", "REPEAT", 150, 3450, Colors::Red, 8.25, "リピート"},
    {&FrmVoice::cmdMode, "cmdMode", "MODE", 3150, 3450, Colors::Red, 9, "再生ﾓｰﾄﾞ"},
    {&FrmVoice::cmdCtl, "cmdCtl", "CTL ON", 150, 4500, Colors::Red, 9.75, "常に表示"},
    {&FrmVoice::cmdClose, "cmdClose", "CLOSE", 3150, 4500, Colors::Red, 9, "閉じる"},
};

// Label1 index to the button it frames.
const int kFrameButtonLeft[10] = {3150, 150, 150, 150, 3150, 3150, 150, 150, 3150, 3150};
const int kFrameButtonTop[10] = {300, 300, 1350, 2400, 1350, 2400, 3450, 4500, 3450, 4500};

// Design-time lamp colours, outer end (index 0) to the centre line (index 9): the voice shades, but for
// lamp 5 of lblVoice4, which was drawn a shade lighter.
constexpr uint32_t kVoice4LampFive = 852132;

uint32_t designVoiceColor(int array, int i)
{
    if (array == 3 || array == 4) {
        if (i <= 1)
            return VoiceShade::Unlit;
        if (i <= 3)
            return VoiceShade::Dim;
        if (i == 4)
            return VoiceShade::Mid;
        if (i == 5)
            return array == 3 ? VoiceShade::Mid : kVoice4LampFive;
        return VoiceShade::Bright;
    }
    if (i <= 3)
        return VoiceShade::Unlit;
    if (i <= 5)
        return VoiceShade::Dim;
    if (i <= 7)
        return VoiceShade::Mid;
    return VoiceShade::Bright;
}

} // namespace

FrmVoice::FrmVoice()
{
    setUpWindow(this, QStringLiteral("frmVoice"), QStringLiteral("VORT VOICE SYSTEM    Ver2.3"),
                Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint,
                4140, 5265);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
    setFont(designFont(gothicFace(), 9, 400));
    setAcceptDrops(true); // a file or folder dropped here opens as FILE would

    // Frames first, so that the buttons stand in front of them.
    for (int i = 0; i < 10; ++i) {
        LabelStyle frame;
        frame.bordered = true;
        Label1[size_t(i)] = makeLabel(this, QStringLiteral("Label1_%1").arg(i), QString(),
                                      QRect(kFrameButtonLeft[i] - 30, kFrameButtonTop[i] - 30, 885, 555), frame);
        // A sunken edge, as a bordered label draws it: a plain line in the text colour would vanish on black.
        Label1[size_t(i)]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        Label1[size_t(i)]->setProperty("index", i);
    }
    QWidget *previous = nullptr;
    for (const auto &spec : kButtons) {
        auto *b = makeButton(this, QString::fromUtf8(spec.name), QString::fromUtf8(spec.caption),
                             QRect(spec.left, spec.top, 825, 495), spec.face, spec.points);
        b->setToolTip(QString::fromUtf8(spec.tooltip));
        b->setAccessibleDescription(b->toolTip());
        this->*spec.member = b;
        if (previous)
            setTabOrder(previous, b);
        previous = b;
    }

    for (int a = 1; a <= 6; ++a) {
        const int left = a <= 2 ? 1260 : a <= 4 ? 1890 : 2520;
        const bool upper = a % 2 == 1;
        VoiceArray &arr = voiceArray(a);
        for (int i = 0; i < 10; ++i) {
            auto *lamp = new Lamp(this, QStringLiteral("lblVoice%1_%2").arg(a).arg(i), designVoiceColor(a, i));
            lamp->setGeometry(twipsRect(left, upper ? 120 + 150 * i : 2970 - 150 * i, 345, 105));
            arr[size_t(i)] = lamp;
        }
    }

    for (int i = 0; i < 3; ++i) {
        auto *side = new Lamp(this, QStringLiteral("lblSide_%1").arg(i), Colors::Grey);
        side->setGeometry(twipsRect(1170, 3150 + 660 * i, 285, 645));
        connect(side, &Lamp::clicked, this, [this, i] { emit lblSide_Click(i); });
        lblSide[size_t(i)] = side;
        auto *dsp = new Lamp(this, QStringLiteral("lblDsp_%1").arg(i), Colors::Grey);
        dsp->setGeometry(twipsRect(1710, 3150 + 660 * i, 1245, 645));
        lblDsp[size_t(i)] = dsp;
    }
    lblDsp[0]->setFont(designFont(gothicFace(), 11.25, 400));

    // Information labels stand in front of the panels.
    const QFont fallback = font();
    auto info = [this, &fallback](const char *name, const char *caption, int l, int t, int w, int h,
                                  Qt::Alignment align, double points) {
        LabelStyle style;
        style.font = points > 0 ? designFont(gothicFace(), points, 400) : fallback;
        style.alignment = align | Qt::AlignTop;
        style.textBgr = 0; // the system's button-text colour
        return makeLabel(this, QString::fromUtf8(name), QString::fromUtf8(caption), QRect(l, t, w, h), style);
    };
    const auto R = Qt::AlignRight, L = Qt::AlignLeft, C = Qt::AlignHCenter;
    lblMusicCnt = info("lblMusicCnt", "99", 1740, 3150, 255, 195, R, 9.75);
    Label6 = info("Label6", "/", 1980, 3180, 135, 165, L, 0);
    lblTotal = info("lblTotal", "99", 2100, 3150, 225, 195, L, 9.75);
    lblRepeat = info("lblRepeat", "REPEAT", 2340, 3180, 615, 165, C, 8.25);
    Label3 = info("Label3", "再生時間", 1740, 3390, 765, 195, L, 0);
    lblTime = info("lblTime", "00:00", 1770, 3570, 495, 195, C, 9.75);
    Label2 = info("Label2", "/", 2280, 3570, 135, 195, C, 9.75);
    lblTotalTime = info("lblTotalTime", "00:00", 2430, 3570, 495, 195, C, 9.75);
    lblMode = info("lblMode", "ALL PLAY", 1710, 3840, 1245, 195, C, 11.25);
    lblState = info("lblState", "停止", 1710, 4170, 1245, 285, C, 12);
    lblChannel = info("lblChannel", "STEREO", 1740, 4500, 765, 165, C, 0);
    lblRate = info("lblRate", "0", 1770, 4680, 495, 195, R, 0);
    Label5 = info("Label5", "kHz", 2340, 4680, 405, 195, L, 0);
    lblBit = info("lblBit", "0", 1770, 4890, 495, 195, R, 0);
    lblBitLbl = info("lblBitLbl", "kbit/s", 2310, 4890, 645, 195, L, 0);

    Timer1 = new DesignTimer(this, QStringLiteral("Timer1"), 60, false);
    Timer2 = new DesignTimer(this, QStringLiteral("Timer2"), 200, true);
}

VoiceArray &FrmVoice::voiceArray(int number)
{
    switch (number) {
    case 1:
        return lblVoice1;
    case 2:
        return lblVoice2;
    case 3:
        return lblVoice3;
    case 4:
        return lblVoice4;
    case 5:
        return lblVoice5;
    default:
        return lblVoice6;
    }
}

std::array<ColorButton *, 10> FrmVoice::buttons() const
{
    return {cmdStart, cmdFile, cmdPause, cmdStop, cmdPrev, cmdNext, cmdRepeat, cmdMode, cmdCtl, cmdClose};
}

void FrmVoice::setInputEnabled(bool on)
{
    if (on == inputEnabled_)
        return;
    inputEnabled_ = on;
    // Swallowing input at the application keeps every control's look, where disabling would grey it.
    if (on)
        qApp->removeEventFilter(this);
    else
        qApp->installEventFilter(this);
    emit inputEnabledChanged(on);
}

bool FrmVoice::eventFilter(QObject *watched, QEvent *event)
{
    if (inputEnabled_ || !watched->isWidgetType())
        return false;
    auto *w = static_cast<QWidget *>(watched);
    if (w->window() != this)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}

namespace {
// The first local file or folder a drag carries; empty when it carries none.
QString droppedPath(const QMimeData *data)
{
    if (!data || !data->hasUrls())
        return {};
    for (const QUrl &url : data->urls())
        if (url.isLocalFile())
            return url.toLocalFile();
    return {};
}
} // namespace

// A drop is input like a click: refused while the window takes none.
void FrmVoice::dragEnterEvent(QDragEnterEvent *event)
{
    if (inputEnabled_ && !droppedPath(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void FrmVoice::dropEvent(QDropEvent *event)
{
    const QString path = droppedPath(event->mimeData());
    if (!inputEnabled_ || path.isEmpty())
        return;
    event->acceptProposedAction();
    emit pathDropped(path);
}

void FrmVoice::closeEvent(QCloseEvent *event)
{
    emit Form_QueryUnload();
    event->accept();
}

void FrmVoice::keyPressEvent(QKeyEvent *event)
{
    // "START" is the default button: Enter clicks it unless another push button has the focus.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto *focused = qobject_cast<QPushButton *>(focusWidget());
        (focused && focused->isVisible() ? focused : cmdStart)->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ClearVoiceBars(FrmVoice &w)
{
    for (int i = 0; i < 10; ++i)
        for (int a = 1; a <= 6; ++a)
            w.voiceArray(a)[size_t(i)]->setColor(VoiceShade::Unlit);
}

void PrepareStartupPanel(FrmVoice &w)
{
    for (ColorButton *b : w.buttons())
        b->hide();
    for (size_t i = 0; i < 3; ++i) {
        w.lblSide[i]->setEnabled(false);
        w.lblDsp[i]->setColor(Colors::Grey);
    }
}
