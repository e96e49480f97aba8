#include "FrmCtl.h"

#include "widgets/Geometry.h"

FrmCtl::FrmCtl()
{
    setObjectName(QStringLiteral("frmCtl"));
    setWindowTitle(QStringLiteral("Form1"));
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
    setFixedSize(twipsToPixels(4230), twipsToPixels(2040));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
}
