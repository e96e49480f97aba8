#include "app/App.h"
#include "app/AppId.h"
#include "app/CommandLine.h"
#include "app/InstanceChannel.h"
#include "app/SingleInstance.h"
#include "playback/engine/EngineFactory.h"
#include "widgets/Fonts.h"

#include <QApplication>
#include <cstdio>

namespace {
constexpr int kHandOffPatienceMs = 10000; // a running program still starting up answers once its loop runs
} // namespace

int main(int argc, char *argv[])
{
    // A Wayland client cannot place its windows; the row of windows needs placing, so run on XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    // The command line and a second instance's hand-over run before anything touches the display, so
    // both work over ssh and in scripts.
    SingleInstance instance;
    QString opened;
    std::optional<FollowSource> follow;
    {
        QCoreApplication early(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("voicebox"));
        QCoreApplication::setApplicationVersion(QStringLiteral(VB_VERSION));
        const CommandLine line = parseCommandLine(QCoreApplication::arguments());
        if (line.exitNow) {
            std::fputs(qPrintable(line.out), stdout);
            std::fputs(qPrintable(line.error), stderr);
            return line.exitStatus;
        }
        if (!instance.acquire()) {
            // There is never a second program: the running one takes the file, or comes to the front.
            if (!handToRunningInstance(instance.socketPath(), line.path, kHandOffPatienceMs))
                std::fprintf(stderr, "voicebox: the running program did not answer%s\n",
                             line.path.isEmpty() ? ""
                                                 : qPrintable(QStringLiteral(", so it does not play ") + line.path));
            return 0;
        }
        opened = line.path;
        follow = line.follow;
    }

    // The windows repaint small areas many times a second. Through shared memory, Qt waits on a round trip
    // to the X server before it paints again over an area the server may still be reading; sent over the
    // socket, the few pixels of a lamp or a readout need no wait. The user's own choice stands.
    const bool sharedMemoryChosen = qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM");
    if (!sharedMemoryChosen)
        qputenv("QT_XCB_NO_MITSHM", "1");
    QApplication qapp(argc, argv);
    if (!sharedMemoryChosen)
        qunsetenv("QT_XCB_NO_MITSHM"); // read once, as the connection opened; not passed on
    QApplication::setApplicationName(QStringLiteral("VORT VOICE SYSTEM"));
    QGuiApplication::setDesktopFileName(appId());
    installFontSubstitutions();

    InstanceServer laterStarts;
    if (!instance.socketPath().isEmpty())
        laterStarts.listen(instance.socketPath());

    AppParts parts;
    parts.follow = follow;
    parts.engine = createAudioEngine();
    parts.dialogs = std::make_unique<QtDialogs>();
    parts.random = std::make_unique<ClockRandom>();
    parts.ownFolder = QCoreApplication::applicationDirPath();
    App app(std::move(parts));
    QObject::connect(&app, &App::quitRequested, &qapp, [](int status) { QCoreApplication::exit(status); });
    app.takeLaterStarts(laterStarts);
    app.publishOnDesktopBus();
    app.start();
    if (!opened.isEmpty())
        app.openAndPlay(opened);
    return QApplication::exec();
}
