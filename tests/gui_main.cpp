#include "widgets/Fonts.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VORT VOICE SYSTEM"));
    installFontSubstitutions();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
