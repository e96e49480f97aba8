#pragma once

#include "widgets/Dialogs.h"

#include <QString>
#include <QStringList>
#include <deque>

// Answers the file dialog from a script and records every message box.
class FakeDialogs : public Dialogs {
public:
    std::deque<QString> fileAnswers; // one per file dialog; none left means the user cancels
    QStringList messages;
    int fileDialogs = 0;
    QString lastStartFolder, lastFilter;

    QString openFileName(QWidget *, const QString &startFolder, const QString &filter) override
    {
        ++fileDialogs;
        lastStartFolder = startFolder;
        lastFilter = filter;
        if (fileAnswers.empty())
            return QString();
        QString answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
    void message(QWidget *, const QString &text) override { messages.append(text); }
};
