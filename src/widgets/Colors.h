#pragma once

#include <QColor>
#include <cstdint>

// Colours are stored as 0x00BBGGRR.
inline QColor bgrColor(uint32_t bgr)
{
    return QColor(int(bgr & 0xff), int((bgr >> 8) & 0xff), int((bgr >> 16) & 0xff));
}

inline uint32_t toBgr(const QColor &c)
{
    return uint32_t(c.red()) | (uint32_t(c.green()) << 8) | (uint32_t(c.blue()) << 16);
}

namespace Colors {
constexpr uint32_t Red = 255;
constexpr uint32_t Green = 65280;
constexpr uint32_t Yellow = 65535;
constexpr uint32_t Grey = 8421504;
constexpr uint32_t LightGrey = 12632256;
constexpr uint32_t DarkRed = 64;    // panels behind digits
constexpr uint32_t DimRed = 590175; // unlit digit segments
} // namespace Colors
