#pragma once

#include "playback/engine/AudioEngine.h"
#include "voice/VoiceAnimation.h"

#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <optional>

class FrmVoice;
class QAction;
class QMenu;

// "off", "desktop", "microphone": the names the command line and the settings use.
QString followSourceName(FollowSource source);
std::optional<FollowSource> followSourceFromName(const QString &name);

// The lamps following the desktop's sound or the microphone while no track plays: the choice, its menu,
// and a tick of its own. The tick runs as each fragment of sound arrives, while that sound is or has lately
// been audible, and on a slow timer while a source is chosen (for a source that stops sending, and to see
// the track's tick end). The track's tick keeps the lamps whenever it runs, and so does the start-up
// light show.
class VoiceFollow : public QObject {
    Q_OBJECT
public:
    using LevelCaption = ConsoleLevel::Caption;
    static constexpr int kLookMs = 100;

    VoiceFollow(AudioEngine &engine, FrmVoice &w, LevelCaption level);
    ~VoiceFollow() override;

    FollowSource source() const { return source_; }
    // Starts or stops capturing and the tick; the lamps go dark when the choice turns them off.
    void setSource(FollowSource source);
    // The three choices, built on first use; their availability is asked for each time it opens.
    QMenu &menu();
    QAction &action(FollowSource source);
    bool ticking() const { return timer_.isActive(); }
    void stop() { timer_.stop(); }

signals:
    // The user chose a source from the menu.
    void sourceChosen(FollowSource source);

public slots:
    // pos: where the right click was, in the main window.
    void frmVoice_ContextMenu(const QPoint &pos);
    void Follow_Timer();
    // Marks the choices that cannot capture now as disabled, with the reason as their tooltip.
    void refreshMenu();

private:
    bool lampsAreTheTracks() const;
    // On the engine's thread: one tick queued at a time.
    void soundArrived();

    AudioEngine &engine_;
    FrmVoice &w_;
    ConsoleLevel level_;
    FollowSource source_ = FollowSource::Off;
    QTimer timer_;
    QMenu *menu_ = nullptr;
    QAction *reason_ = nullptr;
    QAction *actions_[3] = {};
    std::atomic<bool> queued_{false};
    std::atomic<bool> yielded_{false}; // the track's tick had the lamps at the last look
};
