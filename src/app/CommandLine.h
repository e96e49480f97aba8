#pragma once

#include "playback/engine/AudioEngine.h"

#include <QString>
#include <QStringList>
#include <optional>

// What the command line asks for: run (with a file or folder to open, or none), or print and end.
struct CommandLine {
    bool exitNow = false;               // --help, --version or a bad argument: print and end with exitStatus
    int exitStatus = 0;                 // 0 after --help and --version, 2 after a bad argument
    QString out;                        // for standard output
    QString error;                      // one line for standard error
    QString path;                       // the file or folder given, absolute; empty when none
    std::optional<FollowSource> follow; // --follow: what the lamps follow when no track plays, for this run
};

// Reads the arguments (the program's name first) without touching the display.
CommandLine parseCommandLine(const QStringList &arguments);
