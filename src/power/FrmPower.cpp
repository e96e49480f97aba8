#include "FrmPower.h"

#include "widgets/Geometry.h"

FrmPower::FrmPower()
{
    setObjectName(QStringLiteral("frmPower"));
    setWindowTitle(QStringLiteral("ＰＯＷＥＲ　ＤＩＳＰＬＡＹ"));
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setFixedSize(twipsToPixels(6330), twipsToPixels(5640));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
}
