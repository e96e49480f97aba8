#include "Dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

QString QtDialogs::openFileName(QWidget *parent, const QString &startFolder, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, QString(), startFolder, filter);
}

void QtDialogs::message(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
    box.exec();
}
