#include "playback/FileNames.h"
#include "playback/PlayList.h"
#include "support/AppRig.h"
#include "support/AudioFixtures.h"
#include "support/Wait.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace fixtures;
using namespace std::chrono_literals;

namespace {
QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

bool listed(AppState &s, const QString &path)
{
    for (int32_t i = 0; i < s.PlayCount; ++i)
        if (s.PlayList[size_t(i)] == path)
            return true;
    return false;
}
} // namespace

// What a folder can hold, listed and then chosen with "FILE" and played with "START": a name that is
// only odd lists and plays; what is not an ordinary file is left out of the list and, chosen anyway,
// refused at once with its number (a FIFO must not block the open).
TEST(Names, OddNamesPlayAndWhatIsNotAFileIsRefused)
{
    TempFolder folder;
    const std::string good = folder.file("good.wav");
    ASSERT_TRUE(writeWav(good, Wave{.seconds = 2}));
    auto copy = [&](const std::string &path) {
        std::filesystem::copy_file(good, path);
        return true;
    };
    const struct Case {
        std::string name;
        std::function<bool(const std::string &)> make;
        bool inList;
        int32_t error; // 0: plays
    } cases[] = {
        {"日本語の曲.wav", copy, true, 0},
        {"new\nline.wav", copy, true, 0},
        {" leading space.wav", copy, true, 0},
        {std::string(251, 'n') + ".wav", copy, true, 0}, // 255 bytes, the longest name
        {"trailing dot.wav.", copy, false, 0},           // not a music name, but plays when chosen
        {"folder.mp3", [](auto &p) { return ::mkdir(p.c_str(), 0700) == 0; }, false, ErrNotRegular},
        {"fifo.mp3", [](auto &p) { return ::mkfifo(p.c_str(), 0600) == 0; }, false, ErrNotRegular},
        {"zero.mp3", [](auto &p) { return ::symlink("/dev/zero", p.c_str()) == 0; }, false, ErrNotRegular},
        {"loop.mp3", [](auto &p) { return ::symlink(p.c_str(), p.c_str()) == 0; }, false, ErrNotFound},
        {"broken.mp3", [](auto &p) { return ::symlink("gone.mp3", p.c_str()) == 0; }, false, ErrNotFound},
    };
    int inList = 1; // good.wav
    for (const auto &c : cases) {
        ASSERT_TRUE(c.make(folder.file(c.name))) << c.name;
        inList += c.inList;
    }

    AppRig rig{{.engine = AppRig::Engine::Real}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = qs(folder.file(c.name));
        const qsizetype messagesBefore = rig.dialogs->messages.size();
        rig.choose(path);
        EXPECT_EQ(rig.w().windowTitle(), qs(c.name));
        EXPECT_EQ(rig.state().PlayCount, inList);
        EXPECT_EQ(listed(rig.state(), path), c.inList);
        EXPECT_EQ(rig.playState(), PlayStateStopped);
        rig.w().cmdStart->click();
        if (c.error == 0) {
            EXPECT_EQ(rig.dialogs->messages.size(), messagesBefore);
            EXPECT_EQ(rig.w().lblTotalTime->text(), QStringLiteral("00:02"));
            EXPECT_EQ(rig.playState(), PlayStatePlaying);
        } else {
            ASSERT_EQ(rig.dialogs->messages.size(), messagesBefore + 1);
            EXPECT_EQ(rig.dialogs->messages.back(), QStringLiteral("ErrNo : %1 Open Error").arg(c.error));
            EXPECT_EQ(rig.playState(), PlayStateStopped);
        }
        rig.w().cmdStop->click();
    }
}

// Every byte string comes back as itself; valid UTF-8 reads as usual; other bytes show as U+FFFD.
TEST(Names, FileNameBytesRoundTrip)
{
    const struct Case {
        QByteArray bytes;
        const char16_t *shown;
    } cases[] = {
        {"plain.wav", u"plain.wav"},
        {"\xe6\x97\xa5\xe6\x9c\xac.mp3", u"日本.mp3"},
        {"\xf0\x9f\x8e\xb5.wav", u"\U0001F3B5.wav"},       // four bytes
        {"caf\xe9.wav", u"caf\uFFFD.wav"},                 // Latin-1
        {"\x8b\xc8.mp3", u"\uFFFD\uFFFD.mp3"},             // Shift-JIS
        {"\xc0\xaf.wav", u"\uFFFD\uFFFD.wav"},             // overlong "/"
        {"\xed\xa0\x80.wav", u"\uFFFD\uFFFD\uFFFD.wav"},   // a UTF-16 surrogate in UTF-8
        {"\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // past U+10FFFF
        {"cut\xe6\x97", u"cut\uFFFD\uFFFD"},               // a sequence cut short at the end
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes.toHex().toStdString());
        const QString name = fileNameFromBytes(c.bytes);
        EXPECT_EQ(fileNameBytes(name), c.bytes);
        EXPECT_EQ(shownFileName(name), QString::fromUtf16(c.shown));
    }
}

// Names that are not UTF-8, common in folders unpacked from old archives, list, show with replacement
// characters, and play: reached with "SKIP NEXT" and chosen in the file dialog, which decodes them lossily.
TEST(Names, NamesThatAreNotUtf8Play)
{
    TempFolder folder;
    const std::string latin1 = "b\xe9.wav", shiftJis = "\x8b\xc8.wav";
    for (const std::string &name : {std::string("a.wav"), latin1, std::string("c.wav"), shiftJis})
        ASSERT_TRUE(writeWav(folder.file(name), Wave{.seconds = 2})) << name;
    AppRig rig{{.engine = AppRig::Engine::Real}};
    rig.choose(qs(folder.file("a.wav")));
    ASSERT_EQ(rig.state().PlayCount, 4);
    rig.w().cmdStart->click();
    ASSERT_EQ(rig.playState(), PlayStatePlaying);

    rig.w().cmdNext->click();
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("b\uFFFD.wav"));
    EXPECT_EQ(rig.playState(), PlayStatePlaying);
    rig.w().cmdPrev->click();
    rig.w().cmdPrev->click(); // wraps to the last
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("\uFFFD\uFFFD.wav"));
    EXPECT_EQ(rig.playState(), PlayStatePlaying);
    EXPECT_EQ(rig.w().lblMusicCnt->text(), QStringLiteral("4"));

    rig.choose(QFile::decodeName(QByteArray::fromStdString(folder.file(latin1))));
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("b\uFFFD.wav"));
    EXPECT_EQ(rig.w().lblMusicCnt->text(), QStringLiteral("2"));
    rig.w().cmdStart->click();
    EXPECT_EQ(rig.playState(), PlayStatePlaying);
    EXPECT_TRUE(rig.dialogs->messages.isEmpty()) << rig.dialogs->messages.join(u' ').toStdString();
    rig.w().cmdStop->click();
}

// A listed file that is deleted or cut before its turn: skipping to it gives its one message and
// plays nothing; one cut inside its audio plays what is left.
TEST(Names, FilesChangedBetweenListingAndPlaying)
{
    TempFolder folder;
    const Wave threeSeconds{.seconds = 3};
    for (const char *name : {"a.wav", "b.wav", "c.wav", "d.wav"})
        ASSERT_TRUE(writeWav(folder.file(name), threeSeconds));
    AppRig rig{{.engine = AppRig::Engine::Real}};
    rig.choose(qs(folder.file("a.wav")));
    ASSERT_EQ(rig.state().PlayCount, 4);

    const struct Case {
        const char *name;
        std::function<void(const std::string &)> change;
        int32_t error;
        const char *length; // shown when it plays
    } cases[] = {
        {"b.wav", [](auto &p) { std::filesystem::remove(p); }, ErrNotFound, nullptr},
        {"c.wav", [](auto &p) { std::filesystem::resize_file(p, 0); }, ErrEmpty, nullptr},
        {"d.wav", [](auto &p) { std::filesystem::resize_file(p, 44 + 44100 * 2 + 11); }, 0, "00:01"},
    };
    for (const auto &c : cases)
        c.change(folder.file(c.name));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const qsizetype messagesBefore = rig.dialogs->messages.size();
        rig.w().cmdNext->click();
        EXPECT_EQ(rig.w().windowTitle(), QString::fromUtf8(c.name));
        rig.w().cmdStart->click();
        if (c.error == 0) {
            EXPECT_EQ(rig.dialogs->messages.size(), messagesBefore);
            EXPECT_EQ(rig.w().lblTotalTime->text(), QString::fromUtf8(c.length));
            EXPECT_EQ(rig.playState(), PlayStatePlaying);
        } else {
            ASSERT_EQ(rig.dialogs->messages.size(), messagesBefore + 1);
            EXPECT_EQ(rig.dialogs->messages.back(), QStringLiteral("ErrNo : %1 Open Error").arg(c.error));
            EXPECT_EQ(rig.playState(), PlayStateStopped); // not the track before it either
        }
    }
}

// A file cut while it plays ends as a track end: the engine stops by itself, it does not hang
// waiting for bytes that will not come, and the next play starts cleanly.
TEST(Names, FileCutWhilePlayingEndsAsATrackEnd)
{
    TempFolder folder;
    const std::string wav = folder.file("long.wav");
    ASSERT_TRUE(writeWav(wav, Wave{.seconds = 8}));
    const std::string mp3 = folder.file("long.mp3");
    ASSERT_TRUE(makeMp3(wav, mp3, Mp3Kind::Cbr128));
    const struct Case {
        std::string path;
        uintmax_t keep; // bytes left: about half a second, cut inside a sample or a frame
    } cases[] = {{wav, 44 + 44100 / 2 * 2 + 1}, {mp3, 8000 + 7}};
    AppRig rig{{.engine = AppRig::Engine::Real}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        TrackInfo info{};
        ASSERT_TRUE(rig.app->engine().vbmp3_open(c.path, info));
        ASSERT_EQ(info.TotalSeconds, 8);
        rig.app->engine().vbmp3_play();
        ASSERT_EQ(rig.playState(), PlayStatePlaying);
        std::filesystem::resize_file(c.path, c.keep);
        // The limit only keeps a hang from holding the run up; the whole file would end in 8 s.
        EXPECT_TRUE(waitUntil([&] { return rig.playState() == PlayStateStopped; }, 30s));
        rig.app->engine().vbmp3_play(); // what is left plays again from the start and ends again
        EXPECT_TRUE(waitUntil([&] { return rig.playState() == PlayStateStopped; }, 30s));
    }
}

// Ten thousand matching files: every one listed, in name order, the chosen one found. The time the
// whole "FILE" takes (listing, sorting, opening one) is printed, not judged.
TEST(Names, TenThousandFilesAreAllListed)
{
    TempFolder folder;
    const std::string first = folder.file("track00000.wav");
    ASSERT_TRUE(writeWav(first, Wave{.seconds = 0.1}));
    char name[32];
    for (int i = 1; i < 10000; ++i) {
        std::snprintf(name, sizeof name, "track%05d.wav", i);
        ASSERT_EQ(::link(first.c_str(), folder.file(name).c_str()), 0) << name;
    }
    AppRig rig{{.engine = AppRig::Engine::Real}};
    QElapsedTimer timer;
    timer.start();
    rig.choose(qs(folder.file("track05000.wav")));
    const qint64 micros = timer.nsecsElapsed() / 1000;
    std::printf("FILE with a folder of 10000 matching files: %.1f ms\n", double(micros) / 1000.0);
    RecordProperty("file_button_10000_files_us", std::to_string(micros));
    EXPECT_EQ(rig.state().PlayCount, 10000);
    EXPECT_EQ(rig.w().lblTotal->text(), QStringLiteral("10000"));
    EXPECT_EQ(rig.w().lblMusicCnt->text(), QStringLiteral("5001"));
    EXPECT_EQ(rig.state().PlayList[9999], qs(folder.file("track09999.wav")));
    EXPECT_TRUE(rig.dialogs->messages.isEmpty());
}
