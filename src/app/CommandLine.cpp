#include "CommandLine.h"

#include "voice/VoiceFollow.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace {
CommandLine badArgument(const QString &why)
{
    CommandLine c;
    c.exitNow = true;
    c.exitStatus = 2;
    QString reason = why;
    while (reason.endsWith(u'.'))
        reason.chop(1);
    c.error = QStringLiteral("voicebox: %1; voicebox --help lists what it takes\n").arg(reason);
    return c;
}
} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("main", "A car-dashboard voice box display with an MP3 and WAV player."));
    // Made by hand rather than by addHelpOption: that one also offers --help-all, which lists Qt's own
    // options, and those are not taken here.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QCoreApplication::translate("main", "Shows this help and ends."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QCoreApplication::translate("main", "Shows the version and ends."));
    const QCommandLineOption follow(
        QStringLiteral("follow"),
        QCoreApplication::translate("main", "What the lamps follow when no track plays: off, desktop or microphone."),
        QStringLiteral("source"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(follow);
    parser.addPositionalArgument(
        QStringLiteral("FILE|FOLDER"),
        QCoreApplication::translate("main", "An MP3 or WAV file, or a folder whose first track is taken, to open and "
                                            "play. A running program plays it."),
        QStringLiteral("[FILE|FOLDER]"));

    CommandLine c;
    if (!parser.parse(arguments))
        return badArgument(parser.errorText().trimmed());
    if (parser.isSet(help)) {
        c.exitNow = true;
        c.out = parser.helpText();
        return c;
    }
    if (parser.isSet(version)) {
        c.exitNow = true;
        c.out = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion() +
                QLatin1Char('\n');
        return c;
    }
    if (parser.isSet(follow)) {
        c.follow = followSourceFromName(parser.value(follow));
        if (!c.follow)
            return badArgument(
                QStringLiteral("--follow takes off, desktop or microphone, not \"%1\"").arg(parser.value(follow)));
    }
    const QStringList paths = parser.positionalArguments();
    if (paths.size() > 1)
        return badArgument(QStringLiteral("one file or folder at most, %1 given").arg(paths.size()));
    if (paths.size() == 1) {
        const QFileInfo given(paths.first());
        if (!given.exists())
            return badArgument(QStringLiteral("no such file or folder: %1").arg(paths.first()));
        c.path = given.absoluteFilePath();
    }
    return c;
}
