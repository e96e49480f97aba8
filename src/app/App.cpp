#include "App.h"

#include <QDir>
#include <QFileInfo>

App::App(AppParts parts)
    : engine_(std::move(parts.engine)), dialogs_(std::move(parts.dialogs)), random_(std::move(parts.random)),
      ownFolder_(std::move(parts.ownFolder)), frmVoice_(std::make_unique<FrmVoice>()),
      frmMetar_([] { return std::make_unique<FrmMetar>(); }), frmPower_([] { return std::make_unique<FrmPower>(); }),
      frmCtl_([] { return std::make_unique<FrmCtl>(); }, [this](FrmCtl &w) { connectConsoleWindow(w); })
{
    connectConsole(std::move(parts.screenWidth));
}

App::~App() = default;

// The console: cmdCtl on the main window, the level buttons and the display toggles.
void App::connectConsole(Arrangement::ScreenWidth screenWidth)
{
    console_ = std::make_unique<ConsoleController>(state_, *frmVoice_, frmCtl_);
    arrangement_ = std::make_unique<Arrangement>(state_, *frmVoice_, frmMetar_, frmPower_, frmCtl_, *console_,
                                                 std::move(screenWidth));
    connect(frmVoice_->cmdCtl, &QPushButton::clicked, console_.get(), &ConsoleController::cmdCtl_Click);
}

// Runs once: the console is loaded at start-up and never unloaded.
void App::connectConsoleWindow(FrmCtl &w)
{
    connect(w.cmdUP, &QPushButton::clicked, console_.get(), &ConsoleController::cmdUP_Click);
    connect(w.cmdDown, &QPushButton::clicked, console_.get(), &ConsoleController::cmdDown_Click);
    connect(w.cmdMetar, &QPushButton::clicked, arrangement_.get(), &Arrangement::cmdMetar_Click);
    connect(w.cmdPower, &QPushButton::clicked, arrangement_.get(), &Arrangement::cmdPower_Click);
}

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
