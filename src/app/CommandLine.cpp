#include "CommandLine.h"

#include "voice/VoiceFollow.h"

namespace {
const QString kFollow = QStringLiteral("follow");
} // namespace

void addFollowOption(QCommandLineParser &parser)
{
    parser.addOption(QCommandLineOption(
        kFollow, QStringLiteral("What the lamps follow when no track plays: off, desktop or microphone."),
        QStringLiteral("source")));
}

bool readFollowOption(const QCommandLineParser &parser, std::optional<FollowSource> &follow, QString &error)
{
    follow.reset();
    if (!parser.isSet(kFollow))
        return true;
    const QString value = parser.value(kFollow);
    follow = followSourceFromName(value);
    if (!follow)
        error = QStringLiteral("--follow takes off, desktop or microphone, not \"%1\"").arg(value);
    return follow.has_value();
}
