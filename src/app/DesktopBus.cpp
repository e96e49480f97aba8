#include "DesktopBus.h"

#include "App.h"
#include "AppId.h"
#include "playback/PlayList.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QPointer>
#include <QUrl>
#include <cstdio>

const QString DesktopBus::kServiceName = QStringLiteral("org.mpris.MediaPlayer2.voicebox");
const QString DesktopBus::kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");

namespace {
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
constexpr int kWatchMs = 200; // how soon a change the windows made by themselves (a track's end) is announced
constexpr qlonglong kMicro = 1000000;

// "mm:ss" as the length label shows it, back in seconds.
qlonglong secondsOf(const QString &playTime)
{
    const QStringList parts = playTime.split(u':');
    if (parts.size() != 2)
        return 0;
    return parts[0].toLongLong() * 60 + parts[1].toLongLong();
}

// The same properties with object paths as text, so that comparing them compares the values.
QVariantMap comparable(QVariantMap properties)
{
    QVariantMap metadata = properties.value(QStringLiteral("Metadata")).toMap();
    for (auto it = metadata.begin(); it != metadata.end(); ++it)
        if (it->canConvert<QDBusObjectPath>() && it->metaType() == QMetaType::fromType<QDBusObjectPath>())
            *it = it->value<QDBusObjectPath>().path();
    properties.insert(QStringLiteral("Metadata"), metadata);
    return properties;
}
} // namespace

DesktopBus::DesktopBus(App &app, QObject *parent) : QObject(parent), app_(app)
{
    watch_.setInterval(kWatchMs);
    connect(&watch_, &QTimer::timeout, this, &DesktopBus::refresh);
}

DesktopBus::~DesktopBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(kServiceName);
    bus.unregisterObject(kObjectPath);
}

bool DesktopBus::publish()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "voicebox: no session bus, so no media keys or desktop media controls\n");
        return false;
    }
    new MprisRoot(*this);
    auto *player = new MprisPlayer(*this);
    connect(this, &DesktopBus::seeked, player, &MprisPlayer::Seeked);
    if (!bus.registerObject(kObjectPath, this) || !bus.registerService(kServiceName)) {
        std::fprintf(stderr, "voicebox: the session bus refused %s: %s\n", qPrintable(kServiceName),
                     qPrintable(bus.lastError().message()));
        return false;
    }
    announced_ = comparable(playerProperties());
    watch_.start();
    return true;
}

QString DesktopBus::playbackStatus() const
{
    int32_t elapsed = 0;
    switch (app_.engine().vbmp3_getState(elapsed)) {
    case PlayStatePlaying:
        return QStringLiteral("Playing");
    case PlayStatePaused:
        return QStringLiteral("Paused");
    default:
        return QStringLiteral("Stopped");
    }
}

qlonglong DesktopBus::position() const
{
    int32_t elapsed = 0;
    app_.engine().vbmp3_getState(elapsed);
    return qlonglong(elapsed) * kMicro;
}

QVariantMap DesktopBus::metadata() const
{
    const AppState &s = app_.state();
    QVariantMap m;
    if (s.ListLoaded == 0 || s.CurrentFile.isEmpty()) {
        m.insert(QStringLiteral("mpris:trackid"),
                 QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"))));
        return m;
    }
    const QString track = QStringLiteral("/io/github/vortvoice/VoiceBox/track/%1").arg(s.PlayPos);
    m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(track)));
    m.insert(QStringLiteral("mpris:length"), secondsOf(app_.frmVoice().lblTotalTime->text()) * kMicro);
    m.insert(QStringLiteral("xesam:title"), app_.frmVoice().windowTitle());
    m.insert(QStringLiteral("xesam:url"), QString::fromLatin1(QUrl::fromLocalFile(s.CurrentFile).toEncoded()));
    return m;
}

QString DesktopBus::loopStatus() const
{
    const AppState &s = app_.state();
    if (s.RepeatOn == 0)
        return QStringLiteral("None");
    return s.SingleMode == 1 ? QStringLiteral("Track") : QStringLiteral("Playlist");
}

void DesktopBus::setLoopStatus(const QString &status)
{
    const bool known = status == u"None" || status == u"Track" || status == u"Playlist";
    if (!known || !app_.frmVoice().inputEnabled())
        return;
    const AppState &s = app_.state();
    FrmVoice &w = app_.frmVoice();
    if ((s.RepeatOn != 0) != (status != u"None"))
        w.cmdRepeat->click();
    if ((status == u"Track" && s.SingleMode == 0) || (status == u"Playlist" && s.SingleMode == 1))
        w.cmdMode->click();
    refresh();
}

bool DesktopBus::canGoNext() const
{
    const AppState &s = app_.state();
    return s.ListLoaded != 0 && s.PlayCount > 0;
}

bool DesktopBus::canPlay() const
{
    return app_.state().ListLoaded != 0 && app_.transport().trackOpen();
}

void DesktopBus::press(QAbstractButton *button)
{
    QPointer<QAbstractButton> pressed(button);
    QTimer::singleShot(0, this, [this, pressed] {
        // Input the window does not take now (the start-up show) is dropped, as a click would be.
        if (pressed && app_.frmVoice().inputEnabled())
            pressed->click();
        refresh();
    });
}

void DesktopBus::playPause()
{
    QTimer::singleShot(0, this, [this] {
        int32_t elapsed = 0;
        FrmVoice &w = app_.frmVoice();
        press(app_.engine().vbmp3_getState(elapsed) == PlayStatePlaying ? w.cmdPause : w.cmdStart);
    });
}

void DesktopBus::openUri(const QString &uri)
{
    const QUrl url(uri);
    if (!url.isLocalFile())
        return; // only file: is offered
    const QString path = url.toLocalFile();
    QTimer::singleShot(0, this, [this, path] {
        app_.openAndPlay(path);
        refresh();
    });
}

void DesktopBus::raise()
{
    app_.raiseWindows();
}

void DesktopBus::quit()
{
    press(app_.frmVoice().cmdClose);
}

QVariantMap DesktopBus::playerProperties() const
{
    return {
        {QStringLiteral("PlaybackStatus"), playbackStatus()},
        {QStringLiteral("LoopStatus"), loopStatus()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("CanGoNext"), canGoNext()},
        {QStringLiteral("CanGoPrevious"), canGoNext()},
        {QStringLiteral("CanPlay"), canPlay()},
        {QStringLiteral("CanPause"), canPlay()},
    };
}

void DesktopBus::refresh()
{
    const QVariantMap now = playerProperties();
    const QVariantMap seen = comparable(now);
    QVariantMap changed;
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        if (announced_.value(it.key()) != *it)
            changed.insert(it.key(), now.value(it.key()));
    announced_ = seen;
    if (!changed.isEmpty()) {
        QDBusMessage signal = QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("PropertiesChanged"));
        signal << kPlayerInterface << changed << QStringList();
        QDBusConnection::sessionBus().send(signal);
    }

    // A jump of the position within one track (a restart, a stop) is a seek to the bus.
    const AppState &s = app_.state();
    const QString track = s.CurrentFile + QLatin1Char('#') + QString::number(s.PlayPos);
    const qlonglong position = this->position();
    if (track == trackSeen_ && sinceSeen_.isValid()) {
        const qlonglong furthest = positionSeen_ + (sinceSeen_.elapsed() + 1500) * 1000;
        if (position < positionSeen_ || position > furthest)
            emit seeked(position);
    }
    trackSeen_ = track;
    positionSeen_ = position;
    sinceSeen_.restart();
}

MprisRoot::MprisRoot(DesktopBus &bus) : QDBusAbstractAdaptor(&bus), bus_(bus) {}

QString MprisRoot::identity() const
{
    return QStringLiteral("VORT VOICE SYSTEM");
}

QString MprisRoot::desktopEntry() const
{
    return appId();
}

QStringList MprisRoot::uriSchemes() const
{
    return {QStringLiteral("file")};
}

QStringList MprisRoot::mimeTypes() const
{
    return {QStringLiteral("audio/mpeg"), QStringLiteral("audio/x-wav"), QStringLiteral("audio/wav")};
}

void MprisRoot::Raise()
{
    bus_.raise();
}

void MprisRoot::Quit()
{
    bus_.quit();
}

MprisPlayer::MprisPlayer(DesktopBus &bus) : QDBusAbstractAdaptor(&bus), bus_(bus) {}

void MprisPlayer::Play()
{
    bus_.press(bus_.app().frmVoice().cmdStart);
}

void MprisPlayer::Pause()
{
    bus_.press(bus_.app().frmVoice().cmdPause);
}

void MprisPlayer::PlayPause()
{
    bus_.playPause();
}

void MprisPlayer::Stop()
{
    bus_.press(bus_.app().frmVoice().cmdStop);
}

void MprisPlayer::Next()
{
    bus_.press(bus_.app().frmVoice().cmdNext);
}

void MprisPlayer::Previous()
{
    bus_.press(bus_.app().frmVoice().cmdPrev);
}

void MprisPlayer::OpenUri(const QString &uri)
{
    bus_.openUri(uri);
}

void MprisPlayer::Seek(qlonglong) {}

void MprisPlayer::SetPosition(const QDBusObjectPath &, qlonglong) {}
