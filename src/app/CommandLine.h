#pragma once

#include "playback/engine/AudioEngine.h"

#include <QCommandLineParser>
#include <QString>
#include <optional>

// --follow off|desktop|microphone: what the lamps follow when no track plays, for this run.
void addFollowOption(QCommandLineParser &parser);
// The --follow value when one was given; false, with the message in error, when it names no source.
bool readFollowOption(const QCommandLineParser &parser, std::optional<FollowSource> &follow, QString &error);
