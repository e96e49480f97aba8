#pragma once

// Small pieces the bench programs share.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

// The user and system CPU time this process has used, in seconds.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The value below which the share p (0 to 1) of the values lie; NAN for no values.
inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// Drops the page cache, so that the next open reads the disk; false where this process may not (not root).
inline bool dropPageCache()
{
    ::sync();
    std::ofstream control("/proc/sys/vm/drop_caches");
    control << "3\n";
    control.close();
    return bool(control);
}

// Starts parec recording the default sink's monitor as 44.1 kHz mono 16-bit samples in 2 ms fragments,
// real-time where allowed, so that a loaded machine does not date the sound late. The samples are read from
// the stream returned; pid is parec's (negative, and the stream null, when it could not start).
inline FILE *startMonitorRecorder(pid_t &pid)
{
    pid = -1;
    int fds[2];
    if (::pipe(fds) != 0)
        return nullptr;
    pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        ::execlp("chrt", "chrt", "-f", "10", "parec", "-d", "@DEFAULT_MONITOR@", "--raw", "--format=s16le",
                 "--rate=44100", "--channels=1", "--latency-msec=2", static_cast<char *>(nullptr));
        ::execlp("parec", "parec", "-d", "@DEFAULT_MONITOR@", "--raw", "--format=s16le", "--rate=44100", "--channels=1",
                 "--latency-msec=2", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return nullptr;
    }
    return ::fdopen(fds[0], "r");
}
