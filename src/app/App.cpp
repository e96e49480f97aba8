#include "App.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>

App::App(AppParts parts)
    : engine_(std::move(parts.engine)), dialogs_(std::move(parts.dialogs)), random_(std::move(parts.random)),
      ownFolder_(std::move(parts.ownFolder)), frmVoice_(std::make_unique<FrmVoice>()),
      frmMetar_([] { return std::make_unique<FrmMetar>(); }), frmPower_([] { return std::make_unique<FrmPower>(); }),
      frmCtl_([] { return std::make_unique<FrmCtl>(); })
{
    connectPlayer();
}

App::~App() = default;

QString App::startupVoicePath() const
{
    return ownFolder_ + QDir::separator() + QStringLiteral("voice_kidou.wav");
}

void App::start()
{
    engine_->vbmp3_init();
    TrackInfo scratch{};
    if (engine_->vbmp3_open(startupVoicePath().toStdString(), scratch)) {
        engine_->vbmp3_play();
    } else {
        dialogs_->message(frmVoice_.get(),
                          QStringLiteral("ErrNo : %1 Open Error").arg(engine_->vbmp3_getLastErrorNo()));
    }
    frmVoice_->show();
}

// The player: transport buttons, the file dialog and the playback tick.
void App::connectPlayer()
{
    const PlayerContext context{state_, *engine_, *dialogs_, *frmVoice_};
    transport_ = std::make_unique<Transport>(context);
    // The level lives only in the console's caption; the tick reads it there, loaded or not.
    auto levelCaption = [this, label = QPointer<QLabel>()]() mutable {
        if (!label) {
            FrmCtl *console = frmCtl_.ifLoaded();
            label = console ? console->findChild<QLabel *>(QStringLiteral("lblLebel")) : nullptr;
        }
        return label ? label->text() : QStringLiteral("  0");
    };
    voiceAnimation_ = std::make_unique<VoiceAnimation>(context, *transport_, levelCaption);

    FrmVoice &w = *frmVoice_;
    Transport *t = transport_.get();
    connect(w.cmdFile, &QPushButton::clicked, t, &Transport::cmdFile_Click);
    connect(w.cmdStart, &QPushButton::clicked, t, &Transport::cmdStart_Click);
    connect(w.cmdStop, &QPushButton::clicked, t, &Transport::cmdStop_Click);
    connect(w.cmdPause, &QPushButton::clicked, t, &Transport::cmdPause_Click);
    connect(w.cmdNext, &QPushButton::clicked, t, &Transport::cmdNext_Click);
    connect(w.cmdPrev, &QPushButton::clicked, t, &Transport::cmdPrev_Click);
    connect(w.cmdRepeat, &QPushButton::clicked, t, &Transport::cmdRepeat_Click);
    connect(w.cmdMode, &QPushButton::clicked, t, &Transport::cmdMode_Click);
    connect(w.Timer1, &DesignTimer::Timer, voiceAnimation_.get(), &VoiceAnimation::Timer1_Timer);
}
