#pragma once

#include <QString>
#include <cstdint>

// The indicator level lives only as the caption of lblLebel: "  0".."  9" and "-1".."-9".

// The caption read as a decimal number, leading blanks allowed; anything else reads as 0.
int16_t levelFromCaption(const QString &caption);
// The caption after "+" and after "-"; at +9 and -9 the caption stays as it is.
QString levelUp(const QString &caption);
QString levelDown(const QString &caption);
