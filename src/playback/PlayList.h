#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

// The text after the last "/" of a path: the file name the window title shows.
QString titleOf(const QString &path);
// The path up to and including its last "/".
QString folderOf(const QString &path);
// Whether a file name ends in MP3 or WAV in any letter case (a name shorter than three compared whole).
bool isMusicName(const QString &name);
// The ordinary files of a folder: regular files and links to them, not hidden, in name order
// without regard to letter case (ties by the exact name, so the order is stable).
QStringList ordinaryFileNames(const QString &folder);

// A path whose name Qt decoded with replacement characters (as its file dialog does for a name that is
// not UTF-8) turned back into the real file's name, where the folder holds one that decodes so.
QString recoverFileName(const QString &path);

// Every MP3 and WAV file of a chosen file's folder, in the folder's name order.
struct PlayListing {
    std::vector<QString> paths = std::vector<QString>(256); // at least 256 entries, empty past `count`
    int32_t count = 0;
    int32_t chosen = -1; // the chosen file's index; -1 when it is not in the list
};
PlayListing BuildPlayList(const QString &currentFile);
