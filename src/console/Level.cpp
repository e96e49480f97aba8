#include "Level.h"

std::optional<int16_t> readLevel(const QString &caption)
{
    bool ok = false;
    const short level = caption.trimmed().toShort(&ok);
    if (!ok)
        return std::nullopt;
    return int16_t(level);
}

namespace {
QString padded(int n)
{
    return QStringLiteral("  ") + QString::number(n);
}
} // namespace

QString levelUp(const QString &caption)
{
    const int n = readLevel(caption).value_or(0);
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
    const int n = readLevel(caption).value_or(0);
    if (n == -9)
        return caption;
    return n > 0 ? padded(n - 1) : QString::number(n - 1);
}
