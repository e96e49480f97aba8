#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

class App;
class QAbstractButton;

// The program as a media player on the session bus (MPRIS 2), so media keys and the desktop's media
// controls drive it. Every method presses the main window's matching button, so the windows and the
// bus never disagree; what the bus reads is what the windows and the engine show.
class DesktopBus : public QObject {
    Q_OBJECT
public:
    static const QString kServiceName;
    static const QString kObjectPath;

    explicit DesktopBus(App &app, QObject *parent = nullptr);
    ~DesktopBus() override;

    // Registers on the session bus; false (and one line on standard error) without one.
    bool publish();

    // What the bus reads, from the windows and the engine.
    QString playbackStatus() const;
    QVariantMap metadata() const;
    qlonglong position() const; // microseconds
    QString loopStatus() const;
    void setLoopStatus(const QString &status);
    bool canGoNext() const;
    bool canPlay() const;

    // The methods: each presses a button of the main window, after the bus call has had its answer
    // (a refused file's message box must not hold the caller).
    void press(QAbstractButton *button);
    void playPause();
    void openUri(const QString &uri);
    void raise();
    void quit();
    App &app() { return app_; }

signals:
    void seeked(qlonglong position);

private:
    // Announces every property that changed since the last look, and a jump of the position.
    void refresh();
    QVariantMap playerProperties() const;

    App &app_;
    QTimer watch_;
    QVariantMap announced_;
    QString trackSeen_;
    qlonglong positionSeen_ = 0;
    QElapsedTimer sinceSeen_;
};

// org.mpris.MediaPlayer2
class MprisRoot : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool CanSetFullscreen READ no)
    Q_PROPERTY(bool Fullscreen READ no)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)
public:
    explicit MprisRoot(DesktopBus &bus);
    QString identity() const;
    QString desktopEntry() const;
    bool yes() const { return true; }
    bool no() const { return false; }
    QStringList uriSchemes() const;
    QStringList mimeTypes() const;

public slots:
    void Raise();
    void Quit();

private:
    DesktopBus &bus_;
};

// org.mpris.MediaPlayer2.Player
class MprisPlayer : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
    Q_PROPERTY(double Rate READ one WRITE ignoreDouble)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)
    Q_PROPERTY(double Volume READ one WRITE ignoreDouble)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoNext)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPlay)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)
public:
    explicit MprisPlayer(DesktopBus &bus);
    QString playbackStatus() const { return bus_.playbackStatus(); }
    QString loopStatus() const { return bus_.loopStatus(); }
    void setLoopStatus(const QString &status) { bus_.setLoopStatus(status); }
    double one() const { return 1.0; }
    void ignoreDouble(double) {} // the engine plays at one speed and one volume
    QVariantMap metadata() const { return bus_.metadata(); }
    qlonglong position() const { return bus_.position(); }
    bool canGoNext() const { return bus_.canGoNext(); }
    bool canPlay() const { return bus_.canPlay(); }
    bool yes() const { return true; }
    bool no() const { return false; }

public slots:
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    void OpenUri(const QString &uri);
    // The engine cannot seek (CanSeek is false): these change nothing.
    void Seek(qlonglong offset);
    void SetPosition(const QDBusObjectPath &trackId, qlonglong position);

signals:
    void Seeked(qlonglong Position);

private:
    DesktopBus &bus_;
};
