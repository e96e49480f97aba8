#pragma once

#include "TrackOpening.h"

#include <QObject>
#include <cstdint>

// The player's buttons, the list moves and what happens at a track's end.
class Transport : public QObject {
    Q_OBJECT
public:
    explicit Transport(const PlayerContext &context);

    // The filter the file dialog shows as "Music File (*.mp3;*.wav)"; the patterns behind it match
    // any letter case, since file names here are case-sensitive.
    static QString musicFileFilter();

    // OpenCurrentTrack, remembering whether the engine took the file.
    void openCurrentTrack();
    // Whether the current track is open in the engine; after a refusal START has nothing to play.
    bool trackOpen() const { return trackOpen_; }

    void SelectNextTrack();
    void SelectPreviousTrack();
    // 1: nothing moved (SINGLE, or an empty list); -1: wrapped to the first track, already opened;
    // 0: moved to the next track, not yet opened.
    int16_t AdvanceAtTrackEnd();
    int16_t AdvanceInList();

    // A track has ended (the tick saw the engine stop by itself): the play mode decides what plays
    // next. False where playback stops there.
    bool followTrackEnd();

public slots:
    // FILE with the choice made elsewhere (a drop, the command line): a file, or a folder's first track
    // in the list's order. A folder without tracks goes to the engine as it is, which refuses it with
    // FILE's message.
    void openPath(const QString &path);

    void cmdFile_Click();
    void cmdStart_Click();
    void cmdStop_Click();
    void cmdPause_Click();
    void cmdNext_Click();
    void cmdPrev_Click();
    void cmdRepeat_Click();
    void cmdMode_Click();

private:
    // FILE's stop, before the choice.
    void stopForFile();
    // FILE after the choice: CurrentFile opened, the list built from listedFrom's folder.
    void openChosen(const QString &listedFrom);
    bool listEmpty() const;
    // A skip's stop; true where the skip ends there (no list, or an empty one).
    bool skipOnlyStops();
    void showCurrentTrack();
    void stopAtTrackEnd();

    PlayerContext player_;
    bool trackOpen_ = true; // the start-up voice, or nothing; START needs a list before it plays anyway
};
