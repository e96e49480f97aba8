// The command line, run as the real program without a display, and the request a later start sends.
#include "app/CommandLine.h"
#include "app/InstanceChannel.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/file.h>

namespace {

struct Outcome {
    int status = -1;
    QByteArray out, err;
};

// The program with no display at all: reaching the window system would end it with an error.
Outcome runWithoutDisplay(const QStringList &args, const QString &runtime)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VB_BINARY_DIR "/voicebox"), args);
    Outcome r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

// Every row runs while another instance holds the lock: the command line is read before the instance
// check, so help, version and refusals answer on their own and no hand-over is tried.
TEST(CommandLine, HelpVersionAndBadArgumentsWithoutADisplay)
{
    QTemporaryDir runtime, music;
    const QString a = music.filePath(QStringLiteral("a.wav")), b = music.filePath(QStringLiteral("b.wav"));
    for (const QString &f : {a, b}) {
        QFile file(f);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const int lock = ::open(QFile::encodeName(runtime.filePath(QStringLiteral("voicebox.lock"))).constData(),
                            O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);

    struct Row {
        QStringList args;
        int status;
        const char *outHas; // what standard output holds; nullptr: nothing
        const char *errHas; // what the one line on standard error holds; nullptr: nothing
    };
    const Row rows[] = {
        {{QStringLiteral("--help")}, 0, "[FILE|FOLDER]", nullptr},
        {{QStringLiteral("-h")}, 0, "--version", nullptr},
        {{QStringLiteral("--version")}, 0, "voicebox 2.3\n", nullptr},
        {{QStringLiteral("-v")}, 0, "voicebox 2.3\n", nullptr},
        {{QStringLiteral("--play-loud")}, 2, nullptr, "play-loud"},
        {{QStringLiteral("-q"), a}, 2, nullptr, "'q'"},
        {{a, b}, 2, nullptr, "one file or folder at most"},
        {{music.filePath(QStringLiteral("missing.mp3"))}, 2, nullptr, "missing.mp3"},
        {{QString()}, 2, nullptr, "no such file or folder"},
    };
    for (const Row &row : rows) {
        const std::string name = row.args.join(u' ').toStdString();
        const Outcome r = runWithoutDisplay(row.args, runtime.path());
        EXPECT_EQ(r.status, row.status) << name << ": " << r.err.toStdString();
        if (row.outHas)
            EXPECT_TRUE(r.out.contains(row.outHas)) << name << ": " << r.out.toStdString();
        else
            EXPECT_TRUE(r.out.isEmpty()) << name << ": " << r.out.toStdString();
        if (row.errHas) {
            EXPECT_TRUE(r.err.contains(row.errHas)) << name << ": " << r.err.toStdString();
            EXPECT_EQ(r.err.count('\n'), 1) << name << ": " << r.err.toStdString();
            EXPECT_TRUE(r.err.endsWith('\n')) << name;
        } else {
            EXPECT_TRUE(r.err.isEmpty()) << name << ": " << r.err.toStdString();
        }
    }
    ::close(lock);
}

// A relative path is handed on absolute, since the running program has another working folder.
TEST(CommandLine, GivenPathBecomesAbsolute)
{
    QTemporaryDir music;
    QFile file(music.filePath(QStringLiteral("a b.wav")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(music.path()));
    const CommandLine withFile = parseCommandLine({QStringLiteral("voicebox"), QStringLiteral("a b.wav")});
    const CommandLine withFolder = parseCommandLine({QStringLiteral("voicebox"), QStringLiteral(".")});
    const CommandLine none = parseCommandLine({QStringLiteral("voicebox")});
    QDir::setCurrent(before);
    EXPECT_FALSE(withFile.exitNow);
    EXPECT_EQ(withFile.path, QDir(music.path()).absoluteFilePath(QStringLiteral("a b.wav")));
    EXPECT_EQ(QDir::cleanPath(withFolder.path), QDir(music.path()).absolutePath());
    EXPECT_FALSE(none.exitNow);
    EXPECT_TRUE(none.path.isEmpty());
}

// Any name arrives whole: spaces, a newline, percent signs, Japanese.
TEST(LaterStart, RequestCarriesAnyNameWhole)
{
    for (const QString &path : {QStringLiteral("/m/a b.wav"), QStringLiteral("/m/line\nbreak.mp3"),
                                QStringLiteral("/m/100%25 %.mp3"), QStringLiteral("/音声/起動.wav")}) {
        const QByteArray request = instanceRequest(path);
        EXPECT_EQ(request.count('\n'), 1) << path.toStdString();
        QString back;
        EXPECT_TRUE(readInstanceRequest(request, back)) << path.toStdString();
        EXPECT_EQ(back, path);
    }
    QString back = QStringLiteral("x");
    EXPECT_TRUE(readInstanceRequest(instanceRequest(QString()), back));
    EXPECT_TRUE(back.isEmpty());
    for (const QByteArray &broken : {QByteArrayLiteral("open /a.wav"), QByteArrayLiteral("open \n"),
                                     QByteArrayLiteral("play /a.wav\n"), QByteArray()})
        EXPECT_FALSE(readInstanceRequest(broken, back)) << broken.toStdString();
}
