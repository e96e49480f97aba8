#pragma once

#include "widgets/ColorButton.h"
#include "widgets/DesignTimer.h"
#include "widgets/Lamp.h"

#include <QLabel>
#include <QWidget>
#include <array>

namespace VoiceShade {
constexpr uint32_t Unlit = 32;
constexpr uint32_t Dim = 131146;
constexpr uint32_t Mid = 786581;
constexpr uint32_t Bright = 255;
} // namespace VoiceShade

using VoiceArray = std::array<Lamp *, 10>;

// The main window: the player's buttons, the six voice bar arrays, the drive mode rows and the
// information labels. It is a view; the controllers give its controls their behaviour.
class FrmVoice : public QWidget {
    Q_OBJECT
public:
    FrmVoice();

    // Push buttons, in tab order.
    ColorButton *cmdStart, *cmdFile, *cmdPause, *cmdStop, *cmdPrev, *cmdNext, *cmdRepeat, *cmdMode, *cmdCtl, *cmdClose;
    std::array<QLabel *, 10> Label1{}; // frames around the buttons

    VoiceArray lblVoice1{}, lblVoice2{}, lblVoice3{}, lblVoice4{}, lblVoice5{}, lblVoice6{};
    // lblVoice1 to lblVoice6 by number 1..6.
    VoiceArray &voiceArray(int number);
    std::array<ColorButton *, 10> buttons() const;

    std::array<Lamp *, 3> lblSide{}; // drive mode lamps
    std::array<Lamp *, 3> lblDsp{};  // display panels

    QLabel *lblMusicCnt, *Label6, *lblTotal, *lblRepeat, *Label3, *lblTime, *Label2, *lblTotalTime, *lblMode, *lblState,
        *lblChannel, *lblRate, *Label5, *lblBit, *lblBitLbl;

    DesignTimer *Timer1, *Timer2;

    // Blocks mouse and keyboard input without changing the look (the window's Enabled property).
    void setInputEnabled(bool on);
    bool inputEnabled() const { return inputEnabled_; }

signals:
    void lblSide_Click(int index);
    void Form_QueryUnload();
    // A file or folder dropped on the window (the first local one of a drop).
    void pathDropped(const QString &path);
    void inputEnabledChanged(bool on);

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool inputEnabled_ = true;
};

// Turns all sixty voice lamps to the unlit shade.
void ClearVoiceBars(FrmVoice &w);
// The dark look the start-up light sequence begins from: buttons hidden, drive mode lamps disabled,
// panels grey. The voice lamps keep their colours.
void PrepareStartupPanel(FrmVoice &w);
