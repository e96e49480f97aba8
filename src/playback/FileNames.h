#pragma once

#include <QByteArray>
#include <QString>

// File names are bytes; most are UTF-8, but names unpacked from old archives often hold Latin-1 or
// Shift-JIS bytes. A name is kept as text with each byte that is not part of valid UTF-8 stored as
// the lone surrogate U+DC80..U+DCFF, so every name converts back to exactly its own bytes.
QString fileNameFromBytes(const QByteArray &bytes);
QByteArray fileNameBytes(const QString &name);
// The name as a person sees it: each byte that is not UTF-8 shown as U+FFFD.
QString shownFileName(const QString &name);
