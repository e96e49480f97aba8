#include "playback/PlayList.h"
#include "playback/TrackOpening.h"
#include "playback/engine/SpectrumAnalyzer.h"
#include "support/AppRig.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLocale>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;
const QString kStopped = QStringLiteral("停止");
const QString kPlaying = QStringLiteral("再生中");
const QString kPaused = QStringLiteral("一時停止");

void touch(const QString &path)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

QStringList listed(const AppState &s)
{
    QStringList out;
    for (int i = 0; i < s.PlayCount; ++i)
        out.append(titleOf(s.PlayList[size_t(i)]));
    return out;
}

} // namespace

TEST(TrackOpening, TextHelpers)
{
    const std::pair<int, const char *> times[] = {{0, "00:00"},    {75, "01:15"},    {185, "03:05"},
                                                  {3599, "59:59"}, {6000, "100:00"}, {60000, "1000:00"}};
    for (const auto &[seconds, text] : times)
        EXPECT_EQ(FormatPlayTime(seconds), QString::fromUtf8(text)) << seconds;

    EXPECT_EQ(CutAtNul(QStringLiteral("MPEG")), QStringLiteral("MPEG"));
    EXPECT_EQ(CutAtNul(QString::fromUtf16(u"WAVE\0junk", 9)), QStringLiteral("WAVE"));
    EXPECT_EQ(CutAtNul(QString(3, QChar(u'\0'))), QString());

    const std::pair<int, const char *> rates[] = {{44100, "44.1"},   {48000, "48"}, {22050, "22.05"},
                                                  {11025, "11.025"}, {8000, "8"},   {1000000, "1000"}};
    for (const auto &[hertz, text] : rates)
        EXPECT_EQ(formatKiloHertz(hertz), QString::fromUtf8(text)) << hertz;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(formatKiloHertz(44100), QStringLiteral("44,1"));
    QLocale::setDefault(QLocale::c());
}

TEST(TrackOpening, ShowsTheTrackProperties)
{
    struct Case {
        const char *d1, *d2;
        int channels, bitValue, rate, seconds;
        const char *shown;
    };
    const Case cases[] = {
        {"MPEG 1.0 layer 3", "Joint Stereo", 2, 128, 44100, 185, "03:05|STEREO|44.1|128|kbit/s"},
        {"WAVE_FORMAT_PCM", "WAVE_FORMAT_PCM", 1, 16, 48000, 7, "00:07|MONO|48|16|bit/smp"},
        {"WAVE_FORMAT_PCM", "PCM", 1, 16, 22050, 60, "01:00|MONO|22.05|16|kbit/s"},
        {"wave_format_pcm", "WAVE_FORMAT_PCM", 2, 8, 11025, 6000, "100:00|STEREO|11.025|8|kbit/s"},
        {"MPEG", "", 6, 320, 48000, 0, "00:00|MONO|48|320|kbit/s"},
    };
    for (const auto &c : cases) {
        AppRig rig;
        rig.state().CurrentFile = QStringLiteral("/m/t.mp3");
        rig.engine->setTrack(c.d1, c.d2, c.channels, c.bitValue, c.rate, c.seconds);
        rig.app->transport().openCurrentTrack();
        EXPECT_EQ(properties(rig.w()), QString::fromUtf8(c.shown));
        EXPECT_EQ(rig.engine->calls, Calls{"open:/m/t.mp3"});
        EXPECT_TRUE(rig.dialogs->messages.isEmpty());
    }
}

TEST(TrackOpening, RefusedFileGivesOneMessageAndKeepsTheLabels)
{
    AppRig rig;
    rig.engine->setTrack("MPEG", "x", 2, 128, 44100, 185);
    rig.state().CurrentFile = QStringLiteral("/m/good.mp3");
    rig.app->transport().openCurrentTrack();
    const QString before = properties(rig.w());

    rig.engine->openResult = false;
    rig.engine->errorOnFailure = ErrEmpty;
    rig.state().CurrentFile = QStringLiteral("/m/empty.mp3");
    rig.app->transport().openCurrentTrack();
    EXPECT_EQ(rig.dialogs->messages, QStringList{QStringLiteral("ErrNo : 3 Open Error")});
    EXPECT_EQ(properties(rig.w()), before);
    EXPECT_FALSE(rig.app->transport().trackOpen());
}

class PlayListFolder : public ::testing::Test {
protected:
    QTemporaryDir dir;
    AppRig rig;
    QString path(const QString &name) const { return dir.path() + u'/' + name; }
    void choose(const QString &name)
    {
        rig.dialogs->fileAnswers.push_back(name.isEmpty() ? QString() : path(name));
        rig.w().cmdFile->click();
    }
    // Drags a file's (or folder's) link over the main window and drops it, as a file manager does;
    // false where the window refused the drag.
    bool drop(const QString &where)
    {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(where)});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&rig.w(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&rig.w(), &dropped);
        return dropped.isAccepted();
    }
    // What FILE leaves behind, for comparing a drop with it.
    QString shown()
    {
        return rig.w().windowTitle() + u'|' + rig.w().lblMusicCnt->text() + u'/' + rig.w().lblTotal->text() + u'|' +
               rig.state().CurrentFile + u'|' + QString::number(rig.state().ListLoaded);
    }
};

// A dropped file opens exactly as FILE would (nothing plays); a folder opens its first track in the
// list's order, not the file system's.
TEST_F(PlayListFolder, DropOpensAsFileWould)
{
    for (const char *name : {"c.mp3", "B.wav", "notes.txt", "a.MP3"})
        touch(path(QString::fromUtf8(name)));
    rig.engine->state = PlayStatePlaying;
    choose(QStringLiteral("c.mp3"));
    const QString byFile = shown();
    const Calls fileCalls = rig.engine->commands();

    rig.engine->state = PlayStatePlaying;
    rig.engine->clearCalls();
    choose(QStringLiteral("a.MP3")); // somewhere else first, so the drop has something to change
    rig.engine->clearCalls();
    ASSERT_TRUE(drop(path(QStringLiteral("c.mp3"))));
    EXPECT_EQ(shown(), byFile);
    EXPECT_EQ(rig.engine->commands(), fileCalls);
    EXPECT_EQ(rig.w().lblState->text(), kStopped);

    rig.engine->clearCalls();
    ASSERT_TRUE(drop(dir.path()));
    EXPECT_EQ(rig.engine->commands(), (Calls{"stop", "open:" + path(QStringLiteral("a.MP3")).toStdString()}));
    EXPECT_EQ(rig.w().windowTitle() + u'|' + rig.w().lblMusicCnt->text() + u'/' + rig.w().lblTotal->text(),
              QStringLiteral("a.MP3|1/3"));
    EXPECT_TRUE(rig.dialogs->messages.isEmpty());
}

// What the engine refuses gets FILE's one message; a folder without tracks goes to the engine as it
// is, which refuses it; while the start-up show runs, the window takes no drop.
TEST_F(PlayListFolder, DropOfWhatCannotOpenGivesFilesMessage)
{
    touch(path(QStringLiteral("notes.txt")));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("empty")));
    rig.engine->openResult = false;
    rig.engine->errorOnFailure = ErrNotAudio;
    choose(QStringLiteral("notes.txt"));
    ASSERT_EQ(rig.dialogs->messages.size(), 1);
    ASSERT_TRUE(drop(path(QStringLiteral("notes.txt"))));
    ASSERT_EQ(rig.dialogs->messages.size(), 2);
    EXPECT_EQ(rig.dialogs->messages[1], rig.dialogs->messages[0]);

    rig.engine->clearCalls();
    rig.engine->errorOnFailure = ErrNotRegular;
    ASSERT_TRUE(drop(path(QStringLiteral("empty"))));
    EXPECT_EQ(rig.engine->commands(), (Calls{"stop", "open:" + path(QStringLiteral("empty")).toStdString()}));
    EXPECT_EQ(rig.dialogs->messages.last(), QStringLiteral("ErrNo : 2 Open Error"));
    EXPECT_EQ(rig.state().PlayCount, 0);
    rig.engine->clearCalls();
    rig.w().cmdStart->click();
    EXPECT_EQ(rig.engine->commands(), Calls{}); // nothing was opened, so nothing plays

    rig.w().setInputEnabled(false);
    rig.engine->clearCalls();
    EXPECT_FALSE(drop(path(QStringLiteral("notes.txt"))));
    EXPECT_EQ(rig.engine->calls, Calls{});
    rig.w().setInputEnabled(true);
}

// A file from outside (command line, a later start, the bus) opens and plays, but only once the
// start-up show has handed over the input: the start-up voice is not cut short by it.
TEST_F(PlayListFolder, FileFromOutsideWaitsForTheStartUpShowThenPlays)
{
    for (const char *name : {"b.wav", "a.wav"})
        touch(path(QString::fromUtf8(name)));
    // The start-up show under way, as the load leaves it (without the load, which would show windows
    // over those of tests running beside this one).
    rig.w().Timer2->setInterval(350);
    rig.w().Timer2->setEnabled(true);
    rig.app->openAndPlay(path(QStringLiteral("b.wav")));
    rig.app->openAndPlay(dir.path()); // the last one asked for wins
    EXPECT_EQ(rig.engine->commands(), Calls{});
    rig.runLightShow();
    ASSERT_TRUE(rig.lightShowDone());
    EXPECT_EQ(rig.engine->commands(), (Calls{"stop", "open:" + path(QStringLiteral("a.wav")).toStdString(), "play"}));
    EXPECT_EQ(rig.w().lblMusicCnt->text() + u'/' + rig.w().lblTotal->text(), QStringLiteral("1/2"));
    EXPECT_TRUE(rig.w().Timer1->isEnabled());

    rig.engine->clearCalls();
    rig.app->openAndPlay(path(QStringLiteral("b.wav"))); // once running, at once
    EXPECT_EQ(rig.engine->commands(), (Calls{"stop", "open:" + path(QStringLiteral("b.wav")).toStdString(), "play"}));
}

TEST_F(PlayListFolder, ListsOrdinaryMusicFilesInNameOrder)
{
    for (const char *name : {"d.ogg", "B.WAV", "c.mp3x", "z.mp3", "音声.mp3", "clipmp3", ".f.mp3", "a.Mp3", "Z.mp3"})
        touch(path(QString::fromUtf8(name)));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("e.mp3")));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("a.Mp3")), path(QStringLiteral("link.mp3"))));
    ASSERT_TRUE(QFile::link(path(QStringLiteral("gone.mp3")), path(QStringLiteral("broken.mp3"))));

    choose(QStringLiteral("B.WAV"));
    const QStringList expected = {QStringLiteral("a.Mp3"),    QStringLiteral("B.WAV"), QStringLiteral("clipmp3"),
                                  QStringLiteral("link.mp3"), QStringLiteral("Z.mp3"), QStringLiteral("z.mp3"),
                                  QStringLiteral("音声.mp3")};
    EXPECT_EQ(listed(rig.state()), expected);
    EXPECT_EQ(rig.state().PlayList[0], path(QStringLiteral("a.Mp3")));
    EXPECT_EQ(rig.state().PlayList[7], QString());
    EXPECT_EQ(rig.state().PlayPos, 1);
    EXPECT_EQ(rig.w().lblMusicCnt->text(), QStringLiteral("2"));
    EXPECT_EQ(rig.w().lblTotal->text(), QStringLiteral("7"));
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("B.WAV"));
}

TEST_F(PlayListFolder, ChoosingTheThirdOfFiveOpensItWithoutPlaying)
{
    for (const char *name : {"1.mp3", "2.mp3", "3.mp3", "4.wav", "5.mp3"})
        touch(path(QString::fromUtf8(name)));
    rig.engine->setTrack("MPEG", "x", 2, 128, 44100, 185);
    rig.engine->state = PlayStatePlaying;
    rig.w().lblTime->setText(QStringLiteral("01:02"));
    rig.w().lblState->setText(kPlaying);
    rig.w().Timer1->setInterval(5);
    rig.w().Timer1->setEnabled(true);
    rig.lightAllLamps(VoiceShade::Bright);

    choose(QStringLiteral("3.mp3"));
    EXPECT_EQ(rig.w().lblMusicCnt->text() + u'/' + rig.w().lblTotal->text(), QStringLiteral("3/5"));
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("3.mp3"));
    EXPECT_EQ(properties(rig.w()), QStringLiteral("03:05|STEREO|44.1|128|kbit/s"));
    EXPECT_EQ(rig.engine->commands(), (Calls{"stop", "open:" + path(QStringLiteral("3.mp3")).toStdString()}));
    EXPECT_EQ(rig.w().lblTime->text(), QStringLiteral("00:00"));
    EXPECT_EQ(rig.w().lblState->text(), kStopped);
    EXPECT_FALSE(rig.w().Timer1->isEnabled());
    EXPECT_EQ(rig.w().Timer1->interval(), 0);
    EXPECT_EQ(rig.lampColors(), std::vector<uint32_t>(60, VoiceShade::Unlit));
    EXPECT_EQ(rig.state().ListLoaded, 1);
    // The dialog starts at home the first time, then in the current track's folder.
    EXPECT_EQ(rig.dialogs->lastStartFolder, QDir::homePath());
    EXPECT_TRUE(rig.dialogs->lastFilter.startsWith(QStringLiteral("Music File (*.mp3;*.wav) (")));
    choose(QString());
    EXPECT_EQ(rig.dialogs->lastStartFolder, dir.path() + u'/');
}

TEST_F(PlayListFolder, NameDifferingInCaseMatchesNoEntry)
{
    for (const char *name : {"a.mp3", "Song.mp3"})
        touch(path(QString::fromUtf8(name)));
    rig.w().lblMusicCnt->setText(QStringLiteral("7"));
    choose(QStringLiteral("song.mp3"));
    EXPECT_EQ(rig.state().PlayPos, 0);
    EXPECT_EQ(rig.w().lblMusicCnt->text(), QStringLiteral("7"));
    EXPECT_EQ(rig.w().lblTotal->text(), QStringLiteral("2"));
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("song.mp3"));
    EXPECT_EQ(rig.engine->commands().back(), "open:" + path(QStringLiteral("song.mp3")).toStdString());
}

TEST_F(PlayListFolder, ThreeHundredFilesAreAllListed)
{
    for (int i = 0; i < 300; ++i)
        touch(path(QStringLiteral("t%1.mp3").arg(i, 3, 10, QChar(u'0'))));
    choose(QStringLiteral("t299.mp3"));
    EXPECT_EQ(rig.state().PlayCount, 300);
    EXPECT_EQ(rig.w().lblMusicCnt->text() + u'/' + rig.w().lblTotal->text(), QStringLiteral("300/300"));
    rig.w().cmdNext->click(); // wraps to the first
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("t000.mp3"));
    rig.w().cmdPrev->click();
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("t299.mp3"));
}

TEST_F(PlayListFolder, CancelStopsAndLaterRebuildsTheList)
{
    rig.w().cmdFile->click(); // nothing chosen ever
    EXPECT_EQ(rig.engine->commands(), Calls{"stop"});
    EXPECT_EQ(rig.state().ListLoaded, 0);
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("VORT VOICE SYSTEM    Ver2.3"));

    touch(path(QStringLiteral("a.mp3")));
    choose(QStringLiteral("a.mp3"));
    touch(path(QStringLiteral("b.mp3")));
    rig.engine->clearCalls();
    choose(QString()); // cancel after a choice: the same track reopened, the folder read afresh
    EXPECT_EQ(rig.engine->commands(), (Calls{"stop", "open:" + path(QStringLiteral("a.mp3")).toStdString()}));
    EXPECT_EQ(rig.w().lblTotal->text(), QStringLiteral("2"));
}

TEST_F(PlayListFolder, EmptyListOnlyStops)
{
    touch(path(QStringLiteral("voice.flac")));
    choose(QStringLiteral("voice.flac"));
    EXPECT_EQ(rig.state().PlayCount, 0);
    EXPECT_EQ(rig.w().lblTotal->text(), QStringLiteral("0"));
    EXPECT_EQ(rig.state().ListLoaded, 1);
    for (ColorButton *skip : {rig.w().cmdNext, rig.w().cmdPrev}) {
        rig.engine->state = PlayStatePlaying;
        rig.engine->clearCalls();
        skip->click();
        EXPECT_EQ(rig.engine->calls, Calls{"stop"});
        EXPECT_EQ(rig.state().PlayPos, 0);
    }
    EXPECT_EQ(rig.app->transport().AdvanceAtTrackEnd(), 1);
    EXPECT_EQ(rig.state().PlayPos, 0);
}

// Each row: the engine's state and a press, with the calls made and what the labels and timer show.
TEST(Transport, StateTable)
{
    struct Row {
        const char *name;
        int16_t listLoaded;
        int32_t engineState;
        ColorButton *FrmVoice::*button;
        Calls calls;
        QString lblState, lblTime;
        bool timerOn;
        bool barsCleared;
    };
    const QString was = QStringLiteral("was"), time = QStringLiteral("01:02"), zero = QStringLiteral("00:00");
    const Row rows[] = {
        {"start stopped", 1, PlayStateStopped, &FrmVoice::cmdStart, {"getState", "play"}, was, time, true, true},
        {"start paused", 1, PlayStatePaused, &FrmVoice::cmdStart, {"getState", "restart"}, was, time, true, true},
        {"start playing", 1, PlayStatePlaying, &FrmVoice::cmdStart, {"getState"}, was, time, true, true},
        {"start without list", 0, PlayStateStopped, &FrmVoice::cmdStart, {}, was, time, false, false},
        {"pause playing", 1, PlayStatePlaying, &FrmVoice::cmdPause, {"getState", "pause"}, kPaused, time, false, true},
        {"pause paused", 1, PlayStatePaused, &FrmVoice::cmdPause, {"getState", "pause"}, was, time, false, true},
        {"pause stopped", 1, PlayStateStopped, &FrmVoice::cmdPause, {"getState", "pause"}, was, time, false, true},
        {"stop playing", 1, PlayStatePlaying, &FrmVoice::cmdStop, {"stop"}, kStopped, zero, false, true},
        {"stop without list", 0, PlayStatePlaying, &FrmVoice::cmdStop, {"stop"}, kStopped, zero, false, true},
        {"next",
         1,
         PlayStatePlaying,
         &FrmVoice::cmdNext,
         {"stop", "open:/m/c.mp3", "getState", "play"},
         was,
         time,
         true,
         true},
        {"prev",
         1,
         PlayStatePaused,
         &FrmVoice::cmdPrev,
         {"stop", "open:/m/a.mp3", "getState", "play"},
         was,
         time,
         true,
         true},
        {"next without list", 0, PlayStatePlaying, &FrmVoice::cmdNext, {"stop"}, was, time, false, false},
        {"repeat", 1, PlayStatePlaying, &FrmVoice::cmdRepeat, {}, was, time, false, false},
        {"mode", 1, PlayStatePlaying, &FrmVoice::cmdMode, {}, was, time, false, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        AppRig rig;
        rig.loadList({QStringLiteral("/m/a.mp3"), QStringLiteral("/m/b.mp3"), QStringLiteral("/m/c.mp3")}, 1);
        rig.state().ListLoaded = row.listLoaded;
        rig.engine->state = row.engineState;
        rig.w().lblState->setText(was);
        rig.w().lblTime->setText(time);
        rig.lightAllLamps(VoiceShade::Bright);

        (rig.w().*row.button)->click();
        EXPECT_EQ(rig.engine->calls, row.calls);
        EXPECT_EQ(rig.w().lblState->text(), row.lblState);
        EXPECT_EQ(rig.w().lblTime->text(), row.lblTime);
        EXPECT_EQ(rig.w().Timer1->isTicking(), row.timerOn);
        if (row.timerOn) {
            EXPECT_EQ(rig.w().Timer1->interval(), 5);
        }
        EXPECT_EQ(rig.lampColors(),
                  std::vector<uint32_t>(60, row.barsCleared ? VoiceShade::Unlit : VoiceShade::Bright));
        rig.w().Timer1->setEnabled(false);
    }
}

TEST(Transport, RepeatAndModeOnlyFlipFlagsAndLabels)
{
    AppRig rig;
    rig.w().cmdRepeat->click();
    EXPECT_EQ(rig.state().RepeatOn, 1);
    EXPECT_FALSE(rig.w().lblRepeat->isHidden());
    rig.w().cmdRepeat->click();
    EXPECT_EQ(rig.state().RepeatOn, 0);
    EXPECT_TRUE(rig.w().lblRepeat->isHidden());

    rig.w().cmdMode->click();
    EXPECT_EQ(rig.state().SingleMode, 1);
    EXPECT_EQ(rig.w().lblMode->text(), QStringLiteral("SINGLE"));
    rig.w().cmdMode->click();
    EXPECT_EQ(rig.w().lblMode->text(), QStringLiteral("ALL PLAY"));
    rig.state().SingleMode = 5;
    rig.w().cmdMode->click();
    EXPECT_EQ(rig.state().SingleMode, 5);
    EXPECT_EQ(rig.w().lblMode->text(), QStringLiteral("ALL PLAY"));
    EXPECT_TRUE(rig.engine->calls.empty());
}

TEST(Transport, SkipsWrapAtBothEnds)
{
    struct Case {
        int from;
        ColorButton *FrmVoice::*button;
        int to;
    };
    const Case cases[] = {
        {2, &FrmVoice::cmdNext, 0}, {0, &FrmVoice::cmdNext, 1}, {0, &FrmVoice::cmdPrev, 2}, {2, &FrmVoice::cmdPrev, 1}};
    const QStringList paths = {QStringLiteral("/m/a.mp3"), QStringLiteral("/m/b.mp3"), QStringLiteral("/m/c.mp3")};
    for (const auto &c : cases) {
        AppRig rig;
        rig.loadList(paths, c.from);
        (rig.w().*c.button)->click();
        EXPECT_EQ(rig.state().PlayPos, c.to);
        EXPECT_EQ(rig.state().CurrentFile, paths[c.to]);
        EXPECT_EQ(rig.w().windowTitle(), titleOf(paths[c.to]));
        EXPECT_EQ(rig.w().lblMusicCnt->text(), QString::number(c.to + 1));
        EXPECT_EQ(rig.engine->state, PlayStatePlaying);
    }
}

TEST(Transport, VanishedTrackGivesTheMessageAndPlaysNothingStale)
{
    AppRig rig;
    rig.loadList({QStringLiteral("/m/a.mp3"), QStringLiteral("/m/gone.mp3"), QStringLiteral("/m/c.mp3")}, 0);
    rig.w().cmdStart->click();
    ASSERT_TRUE(rig.w().Timer1->isTicking());
    rig.engine->openResults = {false};
    rig.engine->errorOnFailure = ErrNotFound;
    rig.engine->clearCalls();
    rig.w().cmdNext->click();
    EXPECT_EQ(rig.dialogs->messages, QStringList{QStringLiteral("ErrNo : 1 Open Error")});
    EXPECT_EQ(rig.engine->commands(), (Calls{"stop", "open:/m/gone.mp3"}));
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("gone.mp3"));
    EXPECT_EQ(rig.engine->state, PlayStateStopped);
    EXPECT_FALSE(rig.w().Timer1->isTicking());

    rig.engine->clearCalls();
    rig.w().cmdStart->click(); // the engine still holds a.mp3: it must not play under gone.mp3's name
    EXPECT_TRUE(rig.engine->calls.empty());
    rig.w().cmdNext->click();
    EXPECT_EQ(rig.engine->commands(), (Calls{"stop", "open:/m/c.mp3", "play"}));
}

// Whatever refuses a track while a list plays, the tick is off, "停止" shows and the bars are dark
// before the one message opens, and nothing plays under it or after it.
TEST(Transport, RefusedTrackStopsEverythingBeforeItsOneMessage)
{
    enum class Act { Next, Prev, TrackEnd, File };
    struct Row {
        const char *name;
        int from;
        int16_t repeat;
        Act act;
        QString refused;
    };
    const Row rows[] = {
        {"skip next", 0, 0, Act::Next, QStringLiteral("b.mp3")},
        {"skip prev", 2, 0, Act::Prev, QStringLiteral("b.mp3")},
        {"track end", 0, 0, Act::TrackEnd, QStringLiteral("b.mp3")},
        {"track end, list wraps under repeat", 2, 1, Act::TrackEnd, QStringLiteral("a.mp3")},
        {"file", 0, 0, Act::File, QStringLiteral("b.mp3")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        AppRig rig;
        rig.loadList({QStringLiteral("/m/a.mp3"), QStringLiteral("/m/b.mp3"), QStringLiteral("/m/c.mp3")}, row.from);
        rig.state().RepeatOn = row.repeat;
        rig.engine->first[SpectrumAnalyzer::kVoiceBand] = rig.engine->second[SpectrumAnalyzer::kVoiceBand] =
            84; // every lamp lit
        rig.w().cmdStart->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return rig.w().lblState->text() == kPlaying; }, 5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return rig.w().lblVoice3[0]->color() == VoiceShade::Bright; }, 5000));

        bool stoppedFirst = false;
        rig.dialogs->onMessage = [&] {
            stoppedFirst = !rig.w().Timer1->isTicking() && rig.w().lblState->text() == kStopped &&
                           rig.lampColors() == std::vector<uint32_t>(60, VoiceShade::Unlit);
        };
        rig.engine->openResults = {false};
        rig.engine->clearCalls();
        switch (row.act) {
        case Act::Next:
            rig.w().cmdNext->click();
            break;
        case Act::Prev:
            rig.w().cmdPrev->click();
            break;
        case Act::TrackEnd:
            rig.engine->state = PlayStateStopped;
            ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.dialogs->messages.isEmpty(); }, 5000));
            break;
        case Act::File:
            rig.dialogs->fileAnswers.push_back(QStringLiteral("/m/b.mp3"));
            rig.w().cmdFile->click();
            break;
        }
        runEventsAsAModalBoxWould(); // a while after OK

        EXPECT_TRUE(stoppedFirst);
        EXPECT_EQ(rig.dialogs->messages.size(), 1);
        EXPECT_EQ(rig.engine->state, PlayStateStopped);
        for (const std::string &call : rig.engine->commands())
            EXPECT_TRUE(call == "stop" || call == "open:/m/" + row.refused.toStdString()) << call;
        EXPECT_EQ(rig.w().windowTitle(), row.refused);
        EXPECT_EQ(rig.w().lblState->text(), kStopped);
        EXPECT_FALSE(rig.w().Timer1->isTicking());
    }
}

// A skip with nothing in the list only stops: the tick must not take it for a track's end and repeat.
TEST(Transport, SkipInAnEmptyListStopsEvenUnderRepeat)
{
    for (ColorButton *FrmVoice::*skip : {&FrmVoice::cmdNext, &FrmVoice::cmdPrev}) {
        AppRig rig;
        rig.loadList({}, 0);
        rig.state().RepeatOn = 1;
        rig.w().cmdStart->click();
        ASSERT_EQ(rig.engine->state, PlayStatePlaying);
        (rig.w().*skip)->click();
        runEventsAsAModalBoxWould();
        EXPECT_EQ(rig.engine->state, PlayStateStopped);
        EXPECT_FALSE(rig.w().Timer1->isTicking());
        EXPECT_EQ(rig.w().lblState->text(), kStopped);
    }
}
