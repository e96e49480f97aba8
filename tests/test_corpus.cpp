#include "playback/engine/EngineFactory.h"
#include "support/Corpus.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

// Every crafted file either opens with sane properties or is refused with its documented number,
// and the engine stays usable for the next file whatever came before.
TEST(Corpus, EveryFileOpensOrIsRefusedCleanly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto corpus = makeCorpus(dir.path().toStdString());
    auto engine = createAudioEngine();
    engine->vbmp3_init();
    for (const auto &file : corpus) {
        SCOPED_TRACE(file.name);
        TrackInfo info{};
        const bool opened = engine->vbmp3_open(dir.path().toStdString() + "/" + file.name, info);
        if (file.outcome == CorpusFile::Outcome::Plays) {
            EXPECT_TRUE(opened) << "error " << engine->vbmp3_getLastErrorNo();
            if (file.channels >= 0) {
                EXPECT_EQ(info.Channels, file.channels);
            }
            if (file.rate >= 0) {
                EXPECT_EQ(info.SamplingRate, file.rate);
            }
            if (file.seconds >= 0) {
                EXPECT_EQ(info.TotalSeconds, file.seconds);
            }
        } else if (file.outcome == CorpusFile::Outcome::Refused) {
            EXPECT_FALSE(opened);
            if (file.error != 0) {
                EXPECT_EQ(engine->vbmp3_getLastErrorNo(), file.error);
            } else {
                EXPECT_NE(engine->vbmp3_getLastErrorNo(), 0);
            }
        }
        if (opened) {
            EXPECT_GE(info.TotalSeconds, 0);
            EXPECT_LT(info.TotalSeconds, 24 * 3600);
            EXPECT_GE(info.SamplingRate, 1000);
            EXPECT_LE(info.SamplingRate, 768000);
        }
    }
    engine->vbmp3_free();
}
