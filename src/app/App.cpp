#include "App.h"

#include <QDir>
#include <QFileInfo>

App::App(AppParts parts)
    : engine_(std::move(parts.engine)), dialogs_(std::move(parts.dialogs)), random_(std::move(parts.random)),
      ownFolder_(std::move(parts.ownFolder)), frmVoice_(std::make_unique<FrmVoice>()),
      frmMetar_([this] { return makeFrmMetar(); }, [this](FrmMetar &w) { loadFrmMetar(w); }),
      frmPower_([this] { return makeFrmPower(); }, [this](FrmPower &w) { loadFrmPower(w); }),
      frmCtl_([] { return std::make_unique<FrmCtl>(); })
{
    wireDriveModeLamps();
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
