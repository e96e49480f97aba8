#include "Fixtures.h"

#include <QFile>
#include <QProcess>

bool runTool(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForStarted() || !p.waitForFinished(120000))
        return false;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool makeToneWav(const QString &path, int rate, int channels, double seconds)
{
    return runTool(QStringLiteral("sox"),
                   {QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("-r"), QString::number(rate),
                    QStringLiteral("-c"), QString::number(channels), QStringLiteral("-b"), QStringLiteral("16"), path,
                    QStringLiteral("synth"), QString::number(seconds), QStringLiteral("sine"), QStringLiteral("440"),
                    QStringLiteral("vol"), QStringLiteral("0.3")});
}

bool makeCbrMp3(const QString &path, int rate, int kbps, double seconds)
{
    const QString wav = path + QStringLiteral(".source.wav");
    const bool ok = makeToneWav(wav, rate, 2, seconds) &&
                    runTool(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("--cbr"),
                                                     QStringLiteral("-b"), QString::number(kbps), wav, path});
    QFile::remove(wav);
    return ok;
}

bool writeText(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
