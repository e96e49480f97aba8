#include "app/App.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"
#include "playback/engine/EngineFactory.h"
#include "widgets/Fonts.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    // A Wayland client cannot place its windows; the row of windows needs placing, so run on XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    // A second instance ends at once and silently, before it touches the display.
    SingleInstance instance;
    if (!instance.acquire())
        return 0;

    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VORT VOICE SYSTEM"));
    installFontSubstitutions();

    QCommandLineParser commandLine;
    addFollowOption(commandLine);
    commandLine.process(qapp);
    std::optional<FollowSource> follow;
    QString error;
    if (!readFollowOption(commandLine, follow, error)) {
        std::fprintf(stderr, "voicebox: %s\n", qPrintable(error));
        return 2;
    }

    AppParts parts;
    parts.follow = follow;
    parts.engine = createAudioEngine();
    parts.dialogs = std::make_unique<QtDialogs>();
    parts.random = std::make_unique<ClockRandom>();
    parts.ownFolder = QCoreApplication::applicationDirPath();
    App app(std::move(parts));
    QObject::connect(&app, &App::quitRequested, &qapp, [](int status) { QCoreApplication::exit(status); });
    app.start();
    return QApplication::exec();
}
