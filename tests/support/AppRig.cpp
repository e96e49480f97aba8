#include "AppRig.h"

#include "playback/PlayList.h"
#include "playback/engine/EngineFactory.h"

#include <QTest>
#include <gtest/gtest.h>

void RecordingQtDialogs::message(QWidget *parent, const QString &text)
{
    messages.append(text);
    if (realMessageBox)
        QtDialogs::message(parent, text);
    else
        runEventsAsAModalBoxWould();
}

AppRig::AppRig() : AppRig(Options{}) {}

AppRig::AppRig(Options options)
{
    AppParts parts;
    if (options.engine == Engine::Real) {
        parts.engine = createAudioEngine();
        parts.engine->vbmp3_init();
        freeOnDestruction_ = true;
    } else {
        auto fake = std::make_unique<FakeEngine>();
        engine = fake.get();
        parts.engine = std::move(fake);
    }
    if (options.dialogs == Dialogs::Fake) {
        auto fake = std::make_unique<FakeDialogs>();
        dialogs = fake.get();
        parts.dialogs = std::move(fake);
    } else {
        auto real = std::make_unique<RecordingQtDialogs>();
        real->realMessageBox = options.dialogs == Dialogs::QtFileDialogAndMessageBox;
        qtDialogs = real.get();
        parts.dialogs = std::move(real);
    }
    if (options.random == Random::Scripted) {
        auto scripted = std::make_unique<ScriptedRandom>();
        random = scripted.get();
        parts.random = std::move(scripted);
    } else {
        parts.random = std::make_unique<FixedRandom>();
    }
    parts.ownFolder = options.ownFolder;
    parts.screenWidth = std::move(options.screenWidth);
    parts.follow = options.follow;
    app = std::make_unique<App>(std::move(parts));
    if (options.start) {
        app->start();
        EXPECT_TRUE(QTest::qWaitFor([this] { return lightShowDone(); }, 20000)) << "the light show never ended";
    }
}

AppRig::~AppRig()
{
    if (freeOnDestruction_)
        app->engine().vbmp3_free();
}

QStringList &AppRig::messages()
{
    return dialogs ? dialogs->messages : qtDialogs->messages;
}

void AppRig::runLightShow()
{
    for (int tick = 0; tick < 10; ++tick)
        emit w().Timer2->Timer();
}

bool AppRig::lightShowDone()
{
    return !w().Timer2->isEnabled() && w().inputEnabled();
}

void AppRig::loadList(const QStringList &paths, int pos)
{
    AppState &s = state();
    s.PlayList.assign(256, QString());
    for (int i = 0; i < paths.size(); ++i)
        s.PlayList[size_t(i)] = paths[i];
    s.PlayCount = int32_t(paths.size());
    s.PlayPos = pos;
    s.ListLoaded = 1;
    s.CurrentFile = paths.isEmpty() ? QStringLiteral("/m/chosen.mp3") : paths[pos];
    w().setWindowTitle(titleOf(s.CurrentFile));
    w().lblMusicCnt->setText(QString::number(pos + 1));
    w().lblTotal->setText(QString::number(paths.size()));
}

std::vector<uint32_t> AppRig::lampColors()
{
    std::vector<uint32_t> out;
    for (int a = 1; a <= 6; ++a)
        for (Lamp *lamp : w().voiceArray(a))
            out.push_back(lamp->color());
    return out;
}

void AppRig::lightAllLamps(uint32_t bgr)
{
    for (int a = 1; a <= 6; ++a)
        for (Lamp *lamp : w().voiceArray(a))
            lamp->setColor(bgr);
}

void AppRig::choose(const QString &path)
{
    dialogs->fileAnswers.push_back(path);
    w().cmdFile->click();
}

int32_t AppRig::playState()
{
    int32_t elapsed = 0;
    return app->engine().vbmp3_getState(elapsed);
}

QString properties(FrmVoice &w)
{
    return QStringList{w.lblTotalTime->text(), w.lblChannel->text(), w.lblRate->text(), w.lblBit->text(),
                       w.lblBitLbl->text()}
        .join(u'|');
}
