#pragma once

#include <QLabel>
#include <cstdint>

struct LabelStyle {
    QFont font;
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop;
    uint32_t textBgr = 0;
    bool opaque = false;    // otherwise the window behind shows through
    uint32_t backBgr = 0;   // used when opaque
    bool bordered = false;  // single black line
};

// A named label placed in twips, as every window lays its labels out; its caption is drawn whole
// (see FittedLabel).
QLabel *makeLabel(QWidget *parent, const QString &name, const QString &caption, const QRect &twips,
                  const LabelStyle &style);

class ColorButton;
// A push button with a coloured face placed in twips, taking the focus by tab and click; points 0
// keeps the window's font.
ColorButton *makeButton(QWidget *parent, const QString &name, const QString &caption, const QRect &twips,
                        uint32_t faceBgr, double points = 0);

// A top-level window's fixed design: its name, title and kind, a client area of the size given in
// twips, painted black.
void setUpWindow(QWidget *w, const QString &name, const QString &title, Qt::WindowFlags flags, int widthTwips,
                 int heightTwips);

// The text colour of a label, 0x00BBGGRR.
uint32_t labelTextColor(const QLabel *label);
