#include "FrmMetar.h"

#include "widgets/Geometry.h"

FrmMetar::FrmMetar()
{
    setObjectName(QStringLiteral("frmMetar"));
    setWindowTitle(QStringLiteral("ＲＰＭ　ＤＩＳＰＬＡＹ"));
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setFixedSize(twipsToPixels(7860), twipsToPixels(5640));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
}
