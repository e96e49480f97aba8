#include "Level.h"

#include <algorithm>

int16_t levelFromCaption(const QString &caption)
{
    qsizetype start = 0;
    while (start < caption.size() && caption[start] == QLatin1Char(' '))
        ++start;
    bool ok = false;
    const qlonglong n = caption.mid(start).toLongLong(&ok);
    return ok ? int16_t(std::clamp<qlonglong>(n, INT16_MIN, INT16_MAX)) : 0;
}

namespace {
QString padded(int n)
{
    return QStringLiteral("  ") + QString::number(n);
}
} // namespace

QString levelUp(const QString &caption)
{
    const int n = levelFromCaption(caption);
    if (n == 9)
        return caption;
    if (n >= 0 && n < 9)
        return padded(n + 1);
    if (n < 0)
        return n + 1 == 0 ? padded(0) : QString::number(n + 1);
    return caption;
}

QString levelDown(const QString &caption)
{
    const int n = levelFromCaption(caption);
    if (n == -9)
        return caption;
    return n > 0 ? padded(n - 1) : QString::number(n - 1);
}
