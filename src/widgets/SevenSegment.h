#pragma once

#include <QFont>
#include <QSize>
#include <QString>

// The seven-segment face at the design's size, made smaller where its substitute's digits are too
// wide or too tall for the box they were drawn for, so no digit is cut off.
QFont sevenSegmentFont(double points, int weight, const QString &sample, QSize box);

class QLabel;

// Lets a transparent caption grow downwards to its font's line height, where the substitute face
// stands taller than the design's box, so the bottom of its letters is not cut off.
void growToFitText(QLabel *label);
