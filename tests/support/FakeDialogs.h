#pragma once

#include "widgets/Dialogs.h"

#include <QStringList>

// Answers the program's dialogs at once and records what they showed.
class FakeDialogs : public Dialogs {
public:
    QStringList messages;
    QString fileToChoose; // empty: the file dialog is cancelled
    int fileDialogs = 0;

    QString openFileName(QWidget *, const QString &, const QString &) override
    {
        ++fileDialogs;
        return fileToChoose;
    }
    void message(QWidget *, const QString &text) override { messages << text; }
};
