#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// The indicator level lives only as the caption of lblLebel: "  0".."  9" and "-1".."-9".

// The caption ("  0", "-9") as a 16-bit decimal number, blanks around it allowed; nothing when it
// does not read as one.
std::optional<int16_t> readLevel(const QString &caption);
// The caption after "+" and after "-"; at +9 and -9 the caption stays as it is.
QString levelUp(const QString &caption);
QString levelDown(const QString &caption);
