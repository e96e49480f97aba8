#include "Transport.h"

#include "FileNames.h"
#include "PlayList.h"
#include "playback/engine/AudioEngine.h"
#include "state/AppState.h"
#include "widgets/Dialogs.h"
#include "windows/FrmVoice.h"

#include <QDir>
#include <algorithm>

namespace {
const QString kStopped = QStringLiteral("停止");
const QString kPaused = QStringLiteral("一時停止");
constexpr int kTickMs = 5; // the playback tick that follows the engine and lights the bars
} // namespace

Transport::Transport(const PlayerContext &context) : p_(context) {}

QString Transport::musicFileFilter()
{
    return QStringLiteral("Music File (*.mp3;*.wav) (*.[mM][pP]3 *.[wW][aA][vV])");
}

void Transport::OpenCurrentTrack()
{
    trackOpen_ = ::OpenCurrentTrack(p_);
}

bool Transport::listEmpty() const
{
    return p_.state.PlayCount <= 0;
}

void Transport::showCurrentTrack()
{
    p_.w.setWindowTitle(shownFileName(titleOf(p_.state.CurrentFile)));
    p_.w.lblMusicCnt->setText(QString::number(p_.state.PlayPos + 1));
}

void Transport::cmdFile_Click()
{
    AppState &s = p_.state;
    p_.engine.vbmp3_stop();
    p_.w.lblTime->setText(QStringLiteral("00:00"));
    p_.w.lblState->setText(kStopped);
    p_.w.Timer1->setInterval(0);
    p_.w.Timer1->setEnabled(false);
    ClearVoiceBars(p_.w);

    const QString start = s.CurrentFile.isEmpty() ? QDir::homePath() : folderOf(s.CurrentFile);
    const QString chosen = p_.dialogs.openFileName(&p_.w, start, musicFileFilter());
    if (!chosen.isEmpty())
        s.CurrentFile = recoverFileName(chosen);
    if (s.CurrentFile.isEmpty())
        return;
    p_.w.setWindowTitle(shownFileName(titleOf(s.CurrentFile)));
    OpenCurrentTrack();
    PlayListing listing = BuildPlayList(s.CurrentFile);
    s.PlayList = std::move(listing.paths);
    s.PlayCount = listing.count;
    s.PlayPos = std::max(listing.chosen, 0);
    if (listing.chosen >= 0)
        p_.w.lblMusicCnt->setText(QString::number(s.PlayPos + 1));
    p_.w.lblTotal->setText(QString::number(s.PlayCount));
    s.ListLoaded = 1;
}

void Transport::cmdStart_Click()
{
    // A refused track leaves the earlier file open in the engine: playing it would be the wrong sound.
    if (p_.state.ListLoaded == 0 || !trackOpen_)
        return;
    int32_t elapsed = 0;
    const int32_t state = p_.engine.vbmp3_getState(elapsed);
    ClearVoiceBars(p_.w);
    if (state == PlayStatePaused)
        p_.engine.vbmp3_restart();
    else if (state == PlayStateStopped)
        p_.engine.vbmp3_play();
    p_.w.Timer1->setEnabled(true);
    p_.w.Timer1->setInterval(kTickMs);
}

void Transport::cmdStop_Click()
{
    p_.engine.vbmp3_stop();
    p_.w.lblState->setText(kStopped);
    p_.w.lblTime->setText(QStringLiteral("00:00"));
    p_.w.Timer1->setInterval(0);
    p_.w.Timer1->setEnabled(false);
    ClearVoiceBars(p_.w);
}

void Transport::cmdPause_Click()
{
    int32_t elapsed = 0;
    const int32_t state = p_.engine.vbmp3_getState(elapsed);
    p_.engine.vbmp3_pause();
    p_.w.Timer1->setInterval(0);
    p_.w.Timer1->setEnabled(false);
    if (state == PlayStatePlaying)
        p_.w.lblState->setText(kPaused);
    ClearVoiceBars(p_.w);
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
    p_.engine.vbmp3_stop();
    if (p_.state.ListLoaded == 0)
        return true;
    if (!listEmpty())
        return false;
    // Nothing to skip to: the tick must not take the stop for a track's end and repeat the track.
    p_.w.Timer1->setEnabled(false);
    p_.w.lblState->setText(kStopped);
    ClearVoiceBars(p_.w);
    return true;
}

void Transport::cmdRepeat_Click()
{
    AppState &s = p_.state;
    s.RepeatOn = s.RepeatOn != 0 ? 0 : 1;
    p_.w.lblRepeat->setVisible(s.RepeatOn != 0);
}

void Transport::cmdMode_Click()
{
    AppState &s = p_.state;
    if (s.SingleMode == 0) {
        s.SingleMode = 1;
        p_.w.lblMode->setText(QStringLiteral("SINGLE"));
    } else if (s.SingleMode == 1) {
        s.SingleMode = 0;
        p_.w.lblMode->setText(QStringLiteral("ALL PLAY"));
    }
}

void Transport::SelectNextTrack()
{
    AppState &s = p_.state;
    if (s.ListLoaded == 0 || listEmpty())
        return;
    if (s.PlayPos + 1 >= s.PlayCount || s.PlayPos < 0)
        s.PlayPos = -1;
    ++s.PlayPos;
    s.CurrentFile = s.PlayList[size_t(s.PlayPos)];
    showCurrentTrack();
    OpenCurrentTrack();
}

void Transport::SelectPreviousTrack()
{
    AppState &s = p_.state;
    if (s.ListLoaded == 0 || listEmpty())
        return;
    if (s.PlayPos <= 0 || s.PlayPos > s.PlayCount)
        s.PlayPos = s.PlayCount;
    --s.PlayPos;
    s.CurrentFile = s.PlayList[size_t(s.PlayPos)];
    showCurrentTrack();
    OpenCurrentTrack();
}

int16_t Transport::AdvanceAtTrackEnd()
{
    if (p_.state.SingleMode != 0 || listEmpty())
        return 1;
    return AdvanceInList() == -1 ? -1 : 0;
}

int16_t Transport::AdvanceInList()
{
    AppState &s = p_.state;
    if (s.PlayPos + 1 >= s.PlayCount || s.PlayPos < 0) {
        s.PlayPos = 0;
        s.CurrentFile = s.PlayList[0];
        showCurrentTrack();
        OpenCurrentTrack();
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
    p_.w.Timer1->setEnabled(false);
    const int16_t code = AdvanceAtTrackEnd();
    if (code == -1 || code == 1) {
        if (p_.state.RepeatOn == 1) {
            p_.w.Timer1->setEnabled(false);
            p_.engine.vbmp3_stop();
            cmdStart_Click();
        } else {
            stopAtTrackEnd();
            return false;
        }
    } else {
        p_.w.Timer1->setEnabled(false);
        OpenCurrentTrack();
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
    p_.w.lblState->setText(kStopped);
    p_.engine.vbmp3_stop();
    p_.w.Timer1->setEnabled(false);
    ClearVoiceBars(p_.w);
}
