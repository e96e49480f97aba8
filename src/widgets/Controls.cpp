#include "Controls.h"

#include "Geometry.h"
#include "TextFit.h"

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

uint32_t labelTextColor(const QLabel *label)
{
    return toBgr(label->palette().color(QPalette::WindowText));
}
