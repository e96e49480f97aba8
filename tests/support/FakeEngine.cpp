#include "FakeEngine.h"

#include <algorithm>
#include <cstdio>

std::vector<std::string> FakeEngine::commands() const
{
    std::vector<std::string> out;
    for (const auto &c : calls)
        if (c != "getState" && c != "getSpectrum" && c != "getLastErrorNo")
            out.push_back(c);
    return out;
}

void FakeEngine::setTrack(const char *d1, const char *d2, int channels, int bitValue, int rate, int seconds)
{
    openInfo = TrackInfo{};
    std::snprintf(openInfo.Description1, sizeof openInfo.Description1, "%s", d1);
    std::snprintf(openInfo.Description2, sizeof openInfo.Description2, "%s", d2);
    openInfo.Channels = channels;
    openInfo.BitValue = bitValue;
    openInfo.SamplingRate = rate;
    openInfo.TotalSeconds = seconds;
}

bool FakeEngine::vbmp3_open(const std::string &path, TrackInfo &info)
{
    calls.push_back("open:" + path);
    bool ok = openResult;
    if (!openResults.empty()) {
        ok = openResults.front();
        openResults.pop_front();
    }
    if (!ok) {
        lastError = errorOnFailure;
        return false;
    }
    info = openInfo;
    if (trackState)
        state = PlayStateStopped;
    return true;
}

void FakeEngine::vbmp3_play()
{
    calls.push_back("play");
    if (trackState)
        state = PlayStatePlaying;
}

void FakeEngine::vbmp3_stop()
{
    calls.push_back("stop");
    if (trackState)
        state = PlayStateStopped;
}

void FakeEngine::vbmp3_pause()
{
    calls.push_back("pause");
    if (trackState && state == PlayStatePlaying)
        state = PlayStatePaused;
}

void FakeEngine::vbmp3_restart()
{
    calls.push_back("restart");
    if (trackState && state == PlayStatePaused)
        state = PlayStatePlaying;
}

int32_t FakeEngine::vbmp3_getState(int32_t &elapsedOut)
{
    calls.push_back("getState");
    elapsedOut = elapsed;
    return state;
}

void FakeEngine::vbmp3_getSpectrum(int32_t *f, int32_t *s)
{
    calls.push_back("getSpectrum");
    std::copy(first.begin(), first.end(), f);
    std::copy(second.begin(), second.end(), s);
}

void FakeEngine::getFollowSpectrum(int32_t *f, int32_t *s)
{
    ++followSpectrumCalls;
    const bool on = followSource != FollowSource::Off;
    for (int i = 0; i < kSpectrumSize; ++i) {
        f[i] = on ? followFirst[size_t(i)] : 0;
        s[i] = on ? followSecond[size_t(i)] : 0;
    }
}
