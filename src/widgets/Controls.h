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

// The text colour of a label, 0x00BBGGRR.
uint32_t labelTextColor(const QLabel *label);
