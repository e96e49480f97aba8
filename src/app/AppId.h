#pragma once

#include <QString>

// The program's reverse-DNS application id: the desktop entry's name, the bus's DesktopEntry.
inline QString appId()
{
    return QStringLiteral("io.github.vortvoice.VoiceBox");
}
