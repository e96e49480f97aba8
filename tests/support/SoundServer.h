#pragma once

#include <string>
#include <sys/types.h>

// A PulseAudio server of the test's own, on a socket in a fresh folder, with one null sink that is the
// default output (and its monitor the default input). While it lives, PULSE_SERVER names it, so the
// program under test, pactl and paplay all reach it and nothing else; the variable is put back after.
class PrivateSoundServer {
public:
    explicit PrivateSoundServer(const std::string &sink = "vbfollow");
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer &) = delete;
    PrivateSoundServer &operator=(const PrivateSoundServer &) = delete;

    // Whether it answers; a test skips when pulseaudio is not installed.
    bool running() const { return running_; }
    const std::string &address() const { return address_; }
    const std::string &sink() const { return sink_; }
    // pactl with these arguments against this server; true when it succeeded.
    bool pactl(const std::string &arguments) const;
    // Starts paplay of path into device; the returned process is waited for with finished().
    pid_t play(const std::string &path, const std::string &device) const;
    // Whether the process play() started has ended (reaped if so).
    static bool finished(pid_t player);
    static void end(pid_t player);

private:
    std::string folder_, address_, sink_, savedServer_;
    bool hadServer_ = false;
    pid_t pid_ = -1;
    bool running_ = false;
};
