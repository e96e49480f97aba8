#pragma once

class QWidget;

// A top-level window's Left, Top, Width and Height in twips, as the design reads and writes them.
// Left and Top are where the window is now; while it stays where it was last put they read back exactly
// as set (single precision, not rounded), and the window moves to the nearest pixel.
// Width and Height are the outer size: the frame the window system reports, or the design-time frame
// (45 twips left, right and bottom, 330 at the top) while it reports none for a framed window.
float windowLeft(const QWidget *w);
float windowTop(const QWidget *w);
void setWindowLeft(QWidget *w, float twips);
void setWindowTop(QWidget *w, float twips);
float windowWidth(const QWidget *w);
float windowHeight(const QWidget *w);

class QSizeF;
// The primary screen's size in twips; empty where there is no screen.
QSizeF primaryScreenTwips();
