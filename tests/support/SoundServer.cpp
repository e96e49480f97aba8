#include "SoundServer.h"

#include "AudioFixtures.h"
#include "Wait.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using fixtures::runQuietly;
using fixtures::shellQuote;

PrivateSoundServer::PrivateSoundServer(const std::string &sink) : sink_(sink)
{
    char pattern[] = "/tmp/vb-pulse-XXXXXX";
    if (!mkdtemp(pattern))
        return;
    folder_ = pattern;
    address_ = "unix:" + folder_ + "/pulse.sock";
    if (const char *old = std::getenv("PULSE_SERVER")) {
        hadServer_ = true;
        savedServer_ = old;
    }
    pid_ = fork();
    if (pid_ == 0) {
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
        setenv("HOME", folder_.c_str(), 1);
        unsetenv("PULSE_SERVER"); // a server already named there would make this one step aside
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        const std::string socket = "module-native-protocol-unix auth-anonymous=1 socket=" + folder_ + "/pulse.sock";
        const std::string nullSink = "module-null-sink rate=44100 norewinds=1 sink_name=" + sink_;
        execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false",
               "--disallow-exit", "--disable-shm=true", "-L", socket.c_str(), "-L", nullSink.c_str(),
               static_cast<char *>(nullptr));
        _exit(127);
    }
    setenv("PULSE_SERVER", address_.c_str(), 1);
    running_ = pid_ > 0 && waitUntil([this] {
                   int status = 0;
                   if (waitpid(pid_, &status, WNOHANG) == pid_) {
                       pid_ = -1;
                       return true; // it ended: nothing to wait for
                   }
                   return pactl("info");
               }) &&
               pid_ > 0;
    if (running_)
        running_ = pactl("set-default-sink " + sink_) && pactl("set-default-source " + sink_ + ".monitor");
}

PrivateSoundServer::~PrivateSoundServer()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (hadServer_)
        setenv("PULSE_SERVER", savedServer_.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool PrivateSoundServer::pactl(const std::string &arguments) const
{
    return runQuietly("PULSE_SERVER=" + shellQuote(address_) + " pactl " + arguments);
}

pid_t PrivateSoundServer::play(const std::string &path, const std::string &device) const
{
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("PULSE_SERVER", address_.c_str(), 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        const std::string target = "--device=" + device;
        execlp("paplay", "paplay", target.c_str(), "--latency-msec=10", path.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

bool PrivateSoundServer::finished(pid_t player)
{
    const pid_t reaped = waitpid(player, nullptr, WNOHANG);
    return player <= 0 || reaped == player || reaped < 0;
}

void PrivateSoundServer::end(pid_t player)
{
    if (player <= 0)
        return;
    kill(player, SIGTERM);
    waitpid(player, nullptr, 0);
}
