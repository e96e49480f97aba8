#include "Dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

QString QtDialogs::openFileName(QWidget *parent, const QString &startFolder, const QString &filter)
{
    // Qt's own dialog everywhere, so a filter's patterns match alike on every desktop; the entry
    // shows only the text before the patterns.
    QFileDialog dialog(parent, QString(), startFolder, filter);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

void QtDialogs::message(QWidget *parent, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
    box.exec();
}
