#pragma once

#include <QString>
#include <QStringList>

// Runs a fixture maker (sox, lame) quietly; false when it is missing or fails.
bool runTool(const QString &program, const QStringList &arguments);
// A tone made with sox: rate in Hz, channels, 16-bit samples, the given seconds.
bool makeToneWav(const QString &path, int rate, int channels, double seconds);
// A constant bit-rate stereo MP3 made with lame from a sox tone.
bool makeCbrMp3(const QString &path, int rate, int kbps, double seconds);
bool writeText(const QString &path, const QByteArray &bytes);
