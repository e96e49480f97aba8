#include "VoiceFollow.h"

#include "VoiceAnimation.h"
#include "widgets/ServerFill.h"
#include "windows/FrmVoice.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <array>

namespace {
constexpr std::array kSources = {FollowSource::Off, FollowSource::Desktop, FollowSource::Microphone};

int indexOf(FollowSource source)
{
    return int(source);
}
} // namespace

QString followSourceName(FollowSource source)
{
    switch (source) {
    case FollowSource::Desktop:
        return QStringLiteral("desktop");
    case FollowSource::Microphone:
        return QStringLiteral("microphone");
    case FollowSource::Off:
        break;
    }
    return QStringLiteral("off");
}

std::optional<FollowSource> followSourceFromName(const QString &name)
{
    for (FollowSource source : kSources)
        if (name.compare(followSourceName(source), Qt::CaseInsensitive) == 0)
            return source;
    return std::nullopt;
}

VoiceFollow::VoiceFollow(AudioEngine &engine, FrmVoice &w, LevelCaption level)
    : engine_(engine), w_(w), level_(std::move(level))
{
    timer_.setInterval(kLookMs);
    connect(&timer_, &QTimer::timeout, this, &VoiceFollow::Follow_Timer);
    engine_.setFollowListener([this] { soundArrived(); });
}

VoiceFollow::~VoiceFollow()
{
    engine_.setFollowListener({}); // no call is running or to come
    delete menu_;
}

void VoiceFollow::soundArrived()
{
    // While the track's tick has the lamps, the slow look sees it end; nothing is queued meanwhile.
    if (yielded_ || queued_.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            queued_ = false;
            if (source_ != FollowSource::Off)
                Follow_Timer();
        },
        Qt::QueuedConnection);
}

void VoiceFollow::setSource(FollowSource source)
{
    const bool wasOn = source_ != FollowSource::Off;
    source_ = source;
    engine_.setFollowSource(source);
    if (menu_)
        action(source).setChecked(true);
    if (source == FollowSource::Off) {
        timer_.stop();
        if (wasOn && !lampsAreTheTracks())
            ClearVoiceBars(w_);
    } else if (!timer_.isActive()) {
        timer_.start();
    }
}

bool VoiceFollow::lampsAreTheTracks() const
{
    return w_.Timer1->isTicking() || w_.Timer2->isTicking();
}

void VoiceFollow::Follow_Timer()
{
    yielded_ = lampsAreTheTracks();
    if (yielded_)
        return;
    std::array<int32_t, kSpectrumSize> first{}, second{};
    engine_.getFollowSpectrum(first.data(), second.data());
    const ServerFill::Batch batch; // the lamps this look changes reach the screen as it ends
    showVoiceSpectrum(w_, first.data(), second.data(), level_.read());
}

QMenu &VoiceFollow::menu()
{
    if (menu_)
        return *menu_;
    menu_ = new QMenu;
    menu_->setObjectName(QStringLiteral("mnuFollow"));
    menu_->setToolTipsVisible(true);
    QAction *title = menu_->addAction(QStringLiteral("Lamps follow, when no track plays:"));
    title->setEnabled(false);
    auto *group = new QActionGroup(menu_);
    group->setExclusive(true);
    const std::array<QString, 3> captions = {QStringLiteral("Nothing"), QStringLiteral("Desktop sound"),
                                             QStringLiteral("Microphone")};
    for (FollowSource source : kSources) {
        QAction *a = menu_->addAction(captions[size_t(indexOf(source))]);
        a->setObjectName(QStringLiteral("mnuFollow_") + followSourceName(source));
        a->setCheckable(true);
        a->setChecked(source == source_);
        group->addAction(a);
        actions_[indexOf(source)] = a;
        connect(a, &QAction::triggered, this, [this, source] {
            setSource(source);
            emit sourceChosen(source);
        });
    }
    menu_->addSeparator();
    reason_ = menu_->addAction(QString());
    reason_->setObjectName(QStringLiteral("mnuFollowReason"));
    reason_->setEnabled(false);
    reason_->setVisible(false);
    connect(menu_, &QMenu::aboutToShow, this, &VoiceFollow::refreshMenu);
    return *menu_;
}

QAction &VoiceFollow::action(FollowSource source)
{
    menu();
    return *actions_[indexOf(source)];
}

void VoiceFollow::refreshMenu()
{
    menu();
    QString chosenWhy;
    for (FollowSource source : {FollowSource::Desktop, FollowSource::Microphone}) {
        const FollowStatus status = engine_.followStatus(source);
        QAction &a = action(source);
        a.setEnabled(status.available);
        a.setToolTip(QString::fromStdString(status.why));
        if (source == source_ && !status.available)
            chosenWhy = QString::fromStdString(status.why);
    }
    action(source_).setChecked(true);
    reason_->setText(chosenWhy);
    reason_->setVisible(!chosenWhy.isEmpty());
}

void VoiceFollow::frmVoice_ContextMenu(const QPoint &pos)
{
    menu().popup(w_.mapToGlobal(pos));
}
