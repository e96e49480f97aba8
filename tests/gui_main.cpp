#include "widgets/Fonts.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
// A test that hangs is ended by the test runner without a word of where it stood. Shortly before that, this
// prints every thread's stack (with elfutils' eu-stack, where installed) and ends the test as failed.
void reportHangAfter(int seconds)
{
    // The test's own error output, kept aside: a test may have it captured when it hangs.
    const int out = dup(STDERR_FILENO);
    std::thread([seconds, out] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        dprintf(out, "test still running after %d s; the stack of every thread:\n", seconds);
        const std::string pid = std::to_string(getpid());
        prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY); // where only a parent may look into its children
        const pid_t child = fork();
        if (child == 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            execlp("eu-stack", "eu-stack", "-i", "-p", pid.c_str(), static_cast<char *>(nullptr));
            dprintf(out, "(eu-stack is not installed)\n");
            _exit(127);
        }
        if (child > 0)
            waitpid(child, nullptr, 0);
        _exit(124);
    }).detach();
}
} // namespace

// Every test binary gets a QApplication; without a display the windows render offscreen.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Test discovery runs outside the test script: give Qt a private runtime folder rather than a warning.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    // Settings the program saves go to a folder of this run, never the user's.
    QTemporaryDir config;
    if (config.isValid())
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
#ifdef VB_USES_SESSION_BUS
    // The test script hands its private session bus only to the tests that use it.
    if (!qEnvironmentVariableIsEmpty("VB_SESSION_BUS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", qgetenv("VB_SESSION_BUS"));
#endif
    if (const int seconds = qEnvironmentVariableIntValue("VB_TEST_HANG_SECONDS"); seconds > 0)
        reportHangAfter(seconds);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VORT VOICE SYSTEM"));
    installFontSubstitutions();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
