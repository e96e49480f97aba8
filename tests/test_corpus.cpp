#include "playback/TrackOpening.h"
#include "playback/engine/EngineFactory.h"
#include "support/AppRig.h"
#include "support/Corpus.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
QString qs(const std::string &text)
{
    return QString::fromStdString(text);
}

// The corpus, made once for the whole run: sox and lame take a few seconds.
struct Corpus {
    QTemporaryDir dir;
    std::vector<CorpusFile> files;
    static Corpus &get()
    {
        static Corpus corpus;
        return corpus;
    }
    std::string path(const CorpusFile &file) const { return dir.path().toStdString() + "/" + file.name; }

private:
    Corpus() { files = makeCorpus(dir.path().toStdString()); }
};
} // namespace

// Every crafted file opens with exactly its properties or is refused with its documented number,
// and the engine stays usable for the next file whatever came before.
TEST(Corpus, EveryFileOpensWithItsPropertiesOrIsRefusedWithItsNumber)
{
    Corpus &corpus = Corpus::get();
    ASSERT_TRUE(corpus.dir.isValid());
    auto engine = createAudioEngine();
    engine->vbmp3_init();
    for (const auto &file : corpus.files) {
        SCOPED_TRACE(file.name);
        TrackInfo info{};
        const bool opened = engine->vbmp3_open(corpus.path(file), info);
        if (file.outcome == CorpusFile::Outcome::Plays) {
            EXPECT_TRUE(opened) << "error " << engine->vbmp3_getLastErrorNo();
            EXPECT_EQ(engine->vbmp3_getLastErrorNo(), ErrNone);
            EXPECT_EQ(info.Channels, file.channels);
            EXPECT_EQ(info.SamplingRate, file.rate);
            EXPECT_EQ(info.TotalSeconds, file.seconds);
            if (file.bitValue >= 0) {
                EXPECT_EQ(info.BitValue, file.bitValue);
            }
        } else {
            EXPECT_FALSE(opened);
            EXPECT_EQ(engine->vbmp3_getLastErrorNo(), file.error);
        }
    }
    engine->vbmp3_free();
}

// The same files through "FILE" on the program's windows: a file that plays shows its properties and
// waits for "START"; a refused one gives one message with its number, leaves the labels as they were,
// and "START" then plays nothing (not even the file shown before it).
TEST(Corpus, FileButtonShowsPropertiesOrOneOpenError)
{
    Corpus &corpus = Corpus::get();
    AppRig rig{{.engine = AppRig::Engine::Real}};
    FrmVoice &w = rig.w();
    // Every file of the corpus is a music name, so each choice lists them all.
    const QString total = QString::number(corpus.files.size());
    for (const auto &file : corpus.files) {
        SCOPED_TRACE(file.name);
        const QStringList labelsBefore = {w.lblTotalTime->text(), w.lblChannel->text(), w.lblRate->text(),
                                          w.lblBit->text(), w.lblBitLbl->text()};
        const qsizetype messagesBefore = rig.dialogs->messages.size();

        rig.choose(qs(corpus.path(file)));
        EXPECT_EQ(w.windowTitle(), qs(file.name));
        EXPECT_EQ(w.lblTotal->text(), total);
        EXPECT_EQ(rig.state().PlayList[size_t(rig.state().PlayPos)], qs(corpus.path(file)));
        EXPECT_EQ(rig.playState(), PlayStateStopped) << "FILE must not start playing";

        if (file.outcome == CorpusFile::Outcome::Plays) {
            EXPECT_EQ(rig.dialogs->messages.size(), messagesBefore);
            EXPECT_EQ(w.lblTotalTime->text(), FormatPlayTime(file.seconds));
            EXPECT_EQ(w.lblChannel->text(), file.channels == 2 ? QStringLiteral("STEREO") : QStringLiteral("MONO"));
            EXPECT_EQ(w.lblRate->text(), formatKiloHertz(file.rate));
            if (file.bitValue >= 0) {
                EXPECT_EQ(w.lblBit->text(), QString::number(file.bitValue));
            }
            if (file.seconds >= 1) { // a shorter one may already have ended
                w.cmdStart->click();
                EXPECT_EQ(rig.playState(), PlayStatePlaying);
            }
        } else {
            ASSERT_EQ(rig.dialogs->messages.size(), messagesBefore + 1);
            EXPECT_EQ(rig.dialogs->messages.back(), QStringLiteral("ErrNo : %1 Open Error").arg(file.error));
            const QStringList labelsAfter = {w.lblTotalTime->text(), w.lblChannel->text(), w.lblRate->text(),
                                             w.lblBit->text(), w.lblBitLbl->text()};
            EXPECT_EQ(labelsAfter, labelsBefore);
            w.cmdStart->click();
            EXPECT_EQ(rig.playState(), PlayStateStopped);
            EXPECT_EQ(rig.dialogs->messages.size(), messagesBefore + 1);
        }
        w.cmdStop->click();
    }
}
