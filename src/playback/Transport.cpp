#include "Transport.h"

#include "FileNames.h"
#include "PlayList.h"
#include "playback/engine/AudioEngine.h"
#include "state/AppState.h"
#include "widgets/Dialogs.h"
#include "windows/FrmVoice.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {
const QString kStopped = QStringLiteral("停止");
const QString kPaused = QStringLiteral("一時停止");
constexpr int kTickMs = 5; // the playback tick that follows the engine and lights the bars
} // namespace

Transport::Transport(const PlayerContext &context) : player_(context) {}

QString Transport::musicFileFilter()
{
    return QStringLiteral("Music File (*.mp3;*.wav) (*.[mM][pP]3 *.[wW][aA][vV])");
}

void Transport::openCurrentTrack()
{
    trackOpen_ = ::OpenCurrentTrack(player_);
}

bool Transport::listEmpty() const
{
    return player_.state.PlayCount <= 0;
}

void Transport::showCurrentTrack()
{
    player_.frmVoice.setWindowTitle(shownFileName(titleOf(player_.state.CurrentFile)));
    player_.frmVoice.lblMusicCnt->setText(QString::number(player_.state.PlayPos + 1));
}

void Transport::stopForFile()
{
    player_.engine.vbmp3_stop();
    player_.frmVoice.lblTime->setText(QStringLiteral("00:00"));
    player_.frmVoice.lblState->setText(kStopped);
    player_.frmVoice.Timer1->setInterval(0);
    player_.frmVoice.Timer1->setEnabled(false);
    ClearVoiceBars(player_.frmVoice);
}

void Transport::cmdFile_Click()
{
    AppState &s = player_.state;
    stopForFile();
    const QString start = s.CurrentFile.isEmpty() ? QDir::homePath() : folderOf(s.CurrentFile);
    const QString chosen = player_.dialogs.openFileName(&player_.frmVoice, start, musicFileFilter());
    if (!chosen.isEmpty())
        s.CurrentFile = recoverFileName(chosen);
    if (s.CurrentFile.isEmpty())
        return;
    openChosen(s.CurrentFile);
}

void Transport::openPath(const QString &path)
{
    AppState &s = player_.state;
    stopForFile();
    const QFileInfo given(path);
    if (!given.isDir()) {
        s.CurrentFile = recoverFileName(given.absoluteFilePath());
        openChosen(s.CurrentFile);
        return;
    }
    const QString folder = QDir::cleanPath(given.absoluteFilePath());
    const QString listedFrom = folder.endsWith(u'/') ? folder : folder + u'/';
    const PlayListing listing = BuildPlayList(listedFrom);
    s.CurrentFile = listing.count > 0 ? listing.paths[0] : folder;
    openChosen(listing.count > 0 ? s.CurrentFile : listedFrom);
}

void Transport::openChosen(const QString &listedFrom)
{
    AppState &s = player_.state;
    player_.frmVoice.setWindowTitle(shownFileName(titleOf(s.CurrentFile)));
    openCurrentTrack();
    PlayListing listing = BuildPlayList(listedFrom);
    s.PlayList = std::move(listing.paths);
    s.PlayCount = listing.count;
    s.PlayPos = std::max(listing.chosen, 0);
    if (listing.chosen >= 0)
        player_.frmVoice.lblMusicCnt->setText(QString::number(s.PlayPos + 1));
    player_.frmVoice.lblTotal->setText(QString::number(s.PlayCount));
    s.ListLoaded = 1;
}

void Transport::cmdStart_Click()
{
    // A refused track leaves the earlier file open in the engine: playing it would be the wrong sound.
    if (player_.state.ListLoaded == 0 || !trackOpen_)
        return;
    int32_t elapsed = 0;
    const int32_t state = player_.engine.vbmp3_getState(elapsed);
    ClearVoiceBars(player_.frmVoice);
    if (state == PlayStatePaused)
        player_.engine.vbmp3_restart();
    else if (state == PlayStateStopped)
        player_.engine.vbmp3_play();
    player_.frmVoice.Timer1->setEnabled(true);
    player_.frmVoice.Timer1->setInterval(kTickMs);
}

void Transport::cmdStop_Click()
{
    player_.engine.vbmp3_stop();
    player_.frmVoice.lblState->setText(kStopped);
    player_.frmVoice.lblTime->setText(QStringLiteral("00:00"));
    player_.frmVoice.Timer1->setInterval(0);
    player_.frmVoice.Timer1->setEnabled(false);
    ClearVoiceBars(player_.frmVoice);
}

void Transport::cmdPause_Click()
{
    int32_t elapsed = 0;
    const int32_t state = player_.engine.vbmp3_getState(elapsed);
    player_.engine.vbmp3_pause();
    player_.frmVoice.Timer1->setInterval(0);
    player_.frmVoice.Timer1->setEnabled(false);
    if (state == PlayStatePlaying)
        player_.frmVoice.lblState->setText(kPaused);
    ClearVoiceBars(player_.frmVoice);
}

void Transport::cmdNext_Click()
{
    if (skipOnlyStops())
        return;
    SelectNextTrack();
    cmdStart_Click();
}

void Transport::cmdPrev_Click()
{
    if (skipOnlyStops())
        return;
    SelectPreviousTrack();
    cmdStart_Click();
}

bool Transport::skipOnlyStops()
{
    player_.engine.vbmp3_stop();
    if (player_.state.ListLoaded == 0)
        return true;
    if (!listEmpty())
        return false;
    // Nothing to skip to: the tick must not take the stop for a track's end and repeat the track.
    player_.frmVoice.Timer1->setEnabled(false);
    player_.frmVoice.lblState->setText(kStopped);
    ClearVoiceBars(player_.frmVoice);
    return true;
}

void Transport::cmdRepeat_Click()
{
    AppState &s = player_.state;
    s.RepeatOn = s.RepeatOn != 0 ? 0 : 1;
    player_.frmVoice.lblRepeat->setVisible(s.RepeatOn != 0);
}

void Transport::cmdMode_Click()
{
    AppState &s = player_.state;
    if (s.SingleMode == 0) {
        s.SingleMode = 1;
        player_.frmVoice.lblMode->setText(QStringLiteral("SINGLE"));
    } else if (s.SingleMode == 1) {
        s.SingleMode = 0;
        player_.frmVoice.lblMode->setText(QStringLiteral("ALL PLAY"));
    }
}

void Transport::SelectNextTrack()
{
    AppState &s = player_.state;
    if (s.ListLoaded == 0 || listEmpty())
        return;
    if (s.PlayPos + 1 >= s.PlayCount || s.PlayPos < 0)
        s.PlayPos = -1;
    ++s.PlayPos;
    s.CurrentFile = s.PlayList[size_t(s.PlayPos)];
    showCurrentTrack();
    openCurrentTrack();
}

void Transport::SelectPreviousTrack()
{
    AppState &s = player_.state;
    if (s.ListLoaded == 0 || listEmpty())
        return;
    if (s.PlayPos <= 0 || s.PlayPos > s.PlayCount)
        s.PlayPos = s.PlayCount;
    --s.PlayPos;
    s.CurrentFile = s.PlayList[size_t(s.PlayPos)];
    showCurrentTrack();
    openCurrentTrack();
}

int16_t Transport::AdvanceAtTrackEnd()
{
    if (player_.state.SingleMode != 0 || listEmpty())
        return 1;
    return AdvanceInList() == -1 ? -1 : 0;
}

int16_t Transport::AdvanceInList()
{
    AppState &s = player_.state;
    if (s.PlayPos + 1 >= s.PlayCount || s.PlayPos < 0) {
        s.PlayPos = 0;
        s.CurrentFile = s.PlayList[0];
        showCurrentTrack();
        openCurrentTrack();
        return -1;
    }
    ++s.PlayPos;
    s.CurrentFile = s.PlayList[size_t(s.PlayPos)];
    showCurrentTrack();
    return 0;
}

bool Transport::followTrackEnd()
{
    // Off before anything that may show a message box, so no tick runs inside it.
    player_.frmVoice.Timer1->setEnabled(false);
    const int16_t code = AdvanceAtTrackEnd();
    if (code == -1 || code == 1) {
        if (player_.state.RepeatOn == 1) {
            player_.frmVoice.Timer1->setEnabled(false);
            player_.engine.vbmp3_stop();
            cmdStart_Click();
        } else {
            stopAtTrackEnd();
            return false;
        }
    } else {
        player_.frmVoice.Timer1->setEnabled(false);
        openCurrentTrack();
        cmdStart_Click();
    }
    // The next track was refused: stop rather than play the earlier file under its name.
    if (!trackOpen_) {
        stopAtTrackEnd();
        return false;
    }
    return true;
}

void Transport::stopAtTrackEnd()
{
    player_.frmVoice.lblState->setText(kStopped);
    player_.engine.vbmp3_stop();
    player_.frmVoice.Timer1->setEnabled(false);
    ClearVoiceBars(player_.frmVoice);
}
