#include "playback/TrackOpening.h"
#include "playback/engine/EngineFactory.h"
#include "state/AppState.h"
#include "support/AppRig.h"
#include "support/Fixtures.h"
#include "windows/FrmVoice.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

// Generated files through the real engine, as the user sees them after "FILE".
TEST(PlayerEngine, TrackPropertiesOfGeneratedFiles)
{
    QTemporaryDir dir;
    const QString mono = dir.filePath(QStringLiteral("mono.wav"));
    ASSERT_TRUE(makeToneWav(mono, 48000, 1, 1)) << "sox is needed for the fixtures";
    auto engine = createAudioEngine();
    engine->vbmp3_init();

    const QString mp3 = dir.filePath(QStringLiteral("song.mp3"));
    const QString low = dir.filePath(QStringLiteral("low.wav"));
    const QString empty = dir.filePath(QStringLiteral("empty.mp3"));
    const QString text = dir.filePath(QStringLiteral("notes.mp3"));
    ASSERT_TRUE(makeCbrMp3(mp3, 44100, 128, 185)) << "lame is needed for the fixtures";
    ASSERT_TRUE(makeToneWav(low, 22050, 2, 1));
    ASSERT_TRUE(writeText(empty, {}));
    ASSERT_TRUE(writeText(text, "These are notes, not sound.\n"));

    AppState state;
    FakeDialogs dialogs;
    FrmVoice w;
    const PlayerContext p{state, *engine, dialogs, w};
    auto open = [&](const QString &path) {
        state.CurrentFile = path;
        return OpenCurrentTrack(p);
    };
    EXPECT_TRUE(open(mp3));
    EXPECT_EQ(properties(w), QStringLiteral("03:05|STEREO|44.1|128|kbit/s"));
    EXPECT_TRUE(open(mono));
    EXPECT_EQ(properties(w), QStringLiteral("00:01|MONO|48|16|bit/smp"));
    EXPECT_TRUE(open(low));
    EXPECT_EQ(w.lblRate->text(), QStringLiteral("22.05"));

    const QString before = properties(w);
    for (const QString &refused : {empty, text}) {
        dialogs.messages.clear();
        EXPECT_FALSE(open(refused));
        ASSERT_EQ(dialogs.messages.size(), 1) << refused.toStdString();
        EXPECT_TRUE(dialogs.messages[0].startsWith(QStringLiteral("ErrNo : ")));
        EXPECT_TRUE(dialogs.messages[0].endsWith(QStringLiteral(" Open Error")));
        bool numeric = false;
        dialogs.messages[0].mid(8).chopped(11).toInt(&numeric);
        EXPECT_TRUE(numeric) << dialogs.messages[0].toStdString();
        EXPECT_EQ(properties(w), before);
    }
    engine->vbmp3_free();
}
