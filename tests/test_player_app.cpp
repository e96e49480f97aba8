#include "support/AppRig.h"
#include "support/Fixtures.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

QFileDialog *visibleFileDialog()
{
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *dialog = qobject_cast<QFileDialog *>(top); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

// Waits for the next file dialog, runs check on it, types text into its name field and presses Enter.
void answerFileDialog(const QString &typed, std::function<void(QFileDialog &)> check = {})
{
    auto *poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, typed, check] {
        QFileDialog *dialog = visibleFileDialog();
        if (!dialog)
            return;
        poll->stop();
        poll->deleteLater();
        if (check)
            check(*dialog);
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!edit) {
            dialog->reject();
            return;
        }
        edit->setFocus();
        // The whole text at once: typed key by key, the completer takes over the path part.
        edit->setText(typed);
        QTest::keyClick(edit, Qt::Key_Return);
        // A dialog that did not take the name must not hold the test up.
        QTimer::singleShot(10000, [] {
            if (QFileDialog *left = visibleFileDialog())
                left->reject();
        });
    });
    poll->start();
}

QStringList listedNames(QFileDialog &dialog)
{
    QStringList names;
    auto *view = dialog.findChild<QListView *>(QStringLiteral("listView"));
    if (!view || !view->model())
        return names;
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row)
        names.append(view->model()->index(row, 0, root).data().toString());
    names.sort(Qt::CaseInsensitive);
    return names;
}

// The program started on Qt's file dialog, the start-up voice (beside the program) silenced.
struct PlayerApp : AppRig {
    explicit PlayerApp(Engine engineKind, Dialogs dialogKind = Dialogs::QtFileDialog)
        : AppRig(
              {.engine = engineKind, .dialogs = dialogKind, .ownFolder = QStringLiteral(VB_BINARY_DIR), .start = true})
    {
        app->engine().vbmp3_stop();
    }
};

} // namespace

// The dialog shows one entry, finds music files in any letter case, and starts where the track is.
TEST(PlayerApp, FileDialogTakesATypedPath)
{
    QTemporaryDir dir;
    for (const char *name : {"a.MP3", "B.Wav", "c.txt"})
        ASSERT_TRUE(writeText(dir.filePath(QString::fromUtf8(name)), "x"));
    PlayerApp rig(AppRig::Engine::Fake);
    FakeEngine *engine = rig.engine;
    engine->setTrack("MPEG", "x", 2, 128, 44100, 185);

    answerFileDialog(dir.filePath(QStringLiteral("a.MP3")), [](QFileDialog &dialog) {
        auto *types = dialog.findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(types, nullptr);
        EXPECT_EQ(types->count(), 1);
        EXPECT_EQ(types->currentText(), QStringLiteral("Music File (*.mp3;*.wav)"));
        EXPECT_EQ(QDir(dialog.directory()).canonicalPath(), QDir(QDir::homePath()).canonicalPath());
        EXPECT_TRUE(dialog.isModal());
    });
    QTest::mouseClick(rig.w().cmdFile, Qt::LeftButton);
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("a.MP3"));
    EXPECT_EQ(rig.w().lblMusicCnt->text() + u'/' + rig.w().lblTotal->text(), QStringLiteral("1/2"));
    EXPECT_EQ(rig.w().lblTotalTime->text(), QStringLiteral("03:05"));

    QStringList shown;
    answerFileDialog(QStringLiteral("B.Wav"), [&](QFileDialog &dialog) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return listedNames(dialog).size() >= 2; }, 5000));
        shown = listedNames(dialog);
    });
    QTest::mouseClick(rig.w().cmdFile, Qt::LeftButton);
    EXPECT_EQ(shown, (QStringList{QStringLiteral("a.MP3"), QStringLiteral("B.Wav")}));
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("B.Wav"));
    EXPECT_EQ(rig.w().lblMusicCnt->text() + u'/' + rig.w().lblTotal->text(), QStringLiteral("2/2"));
    EXPECT_EQ(engine->state, PlayStateStopped);
    EXPECT_TRUE(rig.messages().isEmpty());
}

// The whole program on the real engine: open, play, pause, resume, stop.
TEST(PlayerApp, PlaysPausesResumesAndStops)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("tone.wav"));
    ASSERT_TRUE(makeToneWav(wav, 44100, 2, 6)) << "sox is needed for the fixtures";
    PlayerApp rig(AppRig::Engine::Real);
    AudioEngine &engine = rig.app->engine();
    int32_t elapsed = 0;

    answerFileDialog(wav);
    QTest::mouseClick(rig.w().cmdFile, Qt::LeftButton);
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("tone.wav"));
    EXPECT_EQ(rig.w().lblMusicCnt->text() + u'/' + rig.w().lblTotal->text(), QStringLiteral("1/1"));
    EXPECT_EQ(rig.w().lblTotalTime->text(), QStringLiteral("00:06"));
    EXPECT_EQ(rig.w().lblChannel->text(), QStringLiteral("STEREO"));
    EXPECT_EQ(rig.w().lblRate->text(), QStringLiteral("44.1"));
    EXPECT_EQ(rig.w().lblBitLbl->text(), QStringLiteral("bit/smp"));
    EXPECT_EQ(engine.vbmp3_getState(elapsed), PlayStateStopped);

    QTest::mouseClick(rig.w().cmdStart, Qt::LeftButton);
    EXPECT_EQ(engine.vbmp3_getState(elapsed), PlayStatePlaying);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.w().lblTime->text() == QStringLiteral("00:01"); }, 10000));
    EXPECT_EQ(rig.w().lblState->text(), QStringLiteral("再生中"));

    QTest::mouseClick(rig.w().cmdPause, Qt::LeftButton);
    EXPECT_EQ(engine.vbmp3_getState(elapsed), PlayStatePaused);
    EXPECT_EQ(rig.w().lblState->text(), QStringLiteral("一時停止"));
    const int32_t halted = elapsed;
    QTest::mouseClick(rig.w().cmdStart, Qt::LeftButton);
    EXPECT_EQ(engine.vbmp3_getState(elapsed), PlayStatePlaying);
    EXPECT_GE(elapsed, halted); // resumed, not started again
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.w().lblTime->text() == QStringLiteral("00:02"); }, 10000));

    QTest::mouseClick(rig.w().cmdStop, Qt::LeftButton);
    EXPECT_EQ(engine.vbmp3_getState(elapsed), PlayStateStopped);
    EXPECT_EQ(rig.w().lblTime->text(), QStringLiteral("00:00"));
    EXPECT_EQ(rig.w().lblState->text(), QStringLiteral("停止"));
    EXPECT_TRUE(rig.messages().isEmpty());
}

// Skipping onto a file the engine refuses while a track plays: exactly one box, nothing playing under
// it or after OK, and the title left on the refused file.
TEST(PlayerApp, SkipOntoARefusedTrackShowsOneBoxOverSilence)
{
    QTemporaryDir dir;
    for (const char *name : {"a.wav", "c.wav"})
        ASSERT_TRUE(makeToneWav(dir.filePath(QString::fromUtf8(name)), 44100, 2, 6)) << "sox is needed";
    ASSERT_TRUE(writeText(dir.filePath(QStringLiteral("b.mp3")), "not music at all"));
    PlayerApp rig(AppRig::Engine::Real, AppRig::Dialogs::QtFileDialogAndMessageBox);
    AudioEngine &engine = rig.app->engine();
    int32_t elapsed = 0;
    answerFileDialog(dir.filePath(QStringLiteral("a.wav")));
    QTest::mouseClick(rig.w().cmdFile, Qt::LeftButton);
    QTest::mouseClick(rig.w().cmdStart, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.w().lblState->text() == QStringLiteral("再生中"); }, 10000));

    // Watches the box from inside its event loop and answers it after a while.
    int mostBoxes = 0, pollsUnderBox = 0, playingUnderBox = 0;
    QStringList titlesUnderBox;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QList<QMessageBox *> boxes;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible())
                boxes.append(box);
        mostBoxes = std::max(mostBoxes, int(boxes.size()));
        if (boxes.isEmpty())
            return;
        ++pollsUnderBox;
        playingUnderBox += engine.vbmp3_getState(elapsed) != PlayStateStopped;
        if (!titlesUnderBox.contains(rig.w().windowTitle()))
            titlesUnderBox.append(rig.w().windowTitle());
        if (pollsUnderBox == 30)
            boxes.front()->button(QMessageBox::Ok)->click();
    });
    poll.start();
    QTest::mouseClick(rig.w().cmdNext, Qt::LeftButton); // returns once the box is answered

    EXPECT_EQ(rig.messages(), QStringList{QStringLiteral("ErrNo : 5 Open Error")});
    EXPECT_GE(pollsUnderBox, 30);
    EXPECT_EQ(mostBoxes, 1);
    EXPECT_EQ(playingUnderBox, 0);
    EXPECT_EQ(titlesUnderBox, QStringList{QStringLiteral("b.mp3")});
    // A while after OK: still one message, nothing playing, the title on the refused file.
    QTest::qWait(300);
    EXPECT_EQ(rig.messages().size(), 1);
    EXPECT_EQ(engine.vbmp3_getState(elapsed), PlayStateStopped);
    EXPECT_EQ(rig.w().windowTitle(), QStringLiteral("b.mp3"));
    EXPECT_EQ(rig.w().lblState->text(), QStringLiteral("停止"));
}
