#include "PlayList.h"

#include "FileNames.h"

#include <QFile>
#include <algorithm>
#include <filesystem>

QString titleOf(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString folderOf(const QString &path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

bool isMusicName(const QString &name)
{
    const QString tail = name.right(3).toUpper();
    return tail == u"MP3" || tail == u"WAV";
}

QStringList ordinaryFileNames(const QString &folder)
{
    namespace fs = std::filesystem;
    const QByteArray where = fileNameBytes(folder.isEmpty() ? QStringLiteral(".") : folder);
    QStringList names;
    std::error_code ec;
    // A folder that cannot be read (gone, no permission) simply lists nothing.
    for (fs::directory_iterator it(where.constData(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string raw = it->path().filename().string();
        if (raw.empty() || raw.front() == '.')
            continue;
        std::error_code statError;
        if (!fs::is_regular_file(it->status(statError)) || statError) // follows links; a broken one fails
            continue;
        names.append(fileNameFromBytes(QByteArray::fromStdString(raw)));
    }
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const int folded = QString::compare(a, b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : QString::compare(a, b, Qt::CaseSensitive) < 0;
    });
    return names;
}

QString recoverFileName(const QString &path)
{
    const QString name = titleOf(path);
    if (!name.contains(QChar::ReplacementCharacter))
        return path;
    const QString folder = folderOf(path);
    for (const QString &real : ordinaryFileNames(folder))
        if (QFile::decodeName(fileNameBytes(real)) == name)
            return folder + real;
    return path;
}

PlayListing BuildPlayList(const QString &currentFile)
{
    PlayListing listing;
    const QString folder = folderOf(currentFile);
    // The chosen file's own name, not the window title: the title shows a name that is not UTF-8
    // with replacement characters, which two different names may share.
    const QString title = titleOf(currentFile);
    for (const QString &name : ordinaryFileNames(folder)) {
        if (!isMusicName(name))
            continue;
        // The list grows past its 256 entries when a folder holds more.
        if (size_t(listing.count) >= listing.paths.size())
            listing.paths.resize(listing.paths.size() * 2);
        listing.paths[size_t(listing.count)] = folder + name;
        if (name == title)
            listing.chosen = listing.count;
        ++listing.count;
    }
    return listing;
}
