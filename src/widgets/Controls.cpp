#include "Controls.h"

#include "ColorButton.h"
#include "Colors.h"
#include "Fonts.h"
#include "TextFit.h"
#include "Twips.h"

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &caption, const QRect &twips,
                  const LabelStyle &style)
{
    auto *label = new FittedLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    label->setFont(style.font);
    label->setAlignment(style.alignment);
    label->setTextFormat(Qt::PlainText);
    QPalette pal = label->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::WindowText, bgrColor(style.textBgr));
        if (style.opaque)
            pal.setColor(group, QPalette::Window, bgrColor(style.backBgr));
    }
    label->setPalette(pal);
    label->setAutoFillBackground(style.opaque);
    if (style.bordered) {
        label->setFrameShape(QFrame::Box);
        label->setLineWidth(1);
    }
    return label;
}

ColorButton *makeButton(QWidget *parent, const QString &name, const QString &caption, const QRect &twips,
                        uint32_t faceBgr, double points)
{
    auto *b = new ColorButton(parent, name, caption, faceBgr);
    b->setGeometry(twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    if (points > 0)
        b->setFont(designFont(gothicFace(), points, 700));
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}

void setUpWindow(QWidget *w, const QString &name, const QString &title, Qt::WindowFlags flags, int widthTwips,
                 int heightTwips)
{
    w->setObjectName(name);
    w->setWindowTitle(title);
    w->setWindowFlags(flags);
    w->setFixedSize(twipsToPixels(widthTwips), twipsToPixels(heightTwips));
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, Qt::black);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

uint32_t labelTextColor(const QLabel *label)
{
    return toBgr(label->palette().color(QPalette::WindowText));
}
