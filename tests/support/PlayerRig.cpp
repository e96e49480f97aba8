#include "PlayerRig.h"

#include "playback/PlayList.h"
#include "playback/engine/EngineFactory.h"

namespace {
class FixedRandom : public RandomSource {
public:
    double next() override { return 0.5; }
};
} // namespace

PlayerRig::PlayerRig()
{
    AppParts parts;
    auto fakeEngine = std::make_unique<FakeEngine>();
    auto fakeDialogs = std::make_unique<FakeDialogs>();
    engine = fakeEngine.get();
    dialogs = fakeDialogs.get();
    parts.engine = std::move(fakeEngine);
    parts.dialogs = std::move(fakeDialogs);
    parts.random = std::make_unique<FixedRandom>();
    app = std::make_unique<App>(std::move(parts));
}

void PlayerRig::loadList(const QStringList &paths, int pos)
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

std::vector<uint32_t> PlayerRig::lampColors()
{
    std::vector<uint32_t> out;
    for (int a = 1; a <= 6; ++a)
        for (Lamp *lamp : w().voiceArray(a))
            out.push_back(lamp->color());
    return out;
}

void PlayerRig::lightAllLamps(uint32_t bgr)
{
    for (int a = 1; a <= 6; ++a)
        for (Lamp *lamp : w().voiceArray(a))
            lamp->setColor(bgr);
}

EngineAppRig::EngineAppRig()
{
    AppParts parts;
    auto fakeDialogs = std::make_unique<FakeDialogs>();
    dialogs = fakeDialogs.get();
    parts.engine = createAudioEngine();
    parts.dialogs = std::move(fakeDialogs);
    parts.random = std::make_unique<FixedRandom>();
    app = std::make_unique<App>(std::move(parts));
    app->engine().vbmp3_init();
}

EngineAppRig::~EngineAppRig()
{
    app->engine().vbmp3_free();
}

void EngineAppRig::choose(const QString &path)
{
    dialogs->fileAnswers.push_back(path);
    w().cmdFile->click();
}

int32_t EngineAppRig::playState()
{
    int32_t elapsed = 0;
    return engine().vbmp3_getState(elapsed);
}
