#include "EngineFactory.h"

#include "Vbmp3Engine.h"

std::unique_ptr<AudioEngine> createAudioEngine()
{
    return createAudioEngine(outputKindFromEnvironment());
}

std::unique_ptr<AudioEngine> createAudioEngine(OutputKind output)
{
    return std::make_unique<Vbmp3Engine>(output);
}
