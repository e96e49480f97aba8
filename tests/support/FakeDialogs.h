#pragma once

#include "widgets/Dialogs.h"

#include <QEventLoop>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>

// What a modal box does to the program while it is open: the event loop goes on inside it, so
// timers keep firing until the user answers. The user here answers after `ms`.
inline void runEventsAsAModalBoxWould(int ms = 60)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Answers the file dialog from a script and records every message box; a message box stays open
// for a while with the event loop running, as the real one does.
class FakeDialogs : public Dialogs {
public:
    std::deque<QString> fileAnswers; // one per file dialog; none left means the user cancels
    QStringList messages;
    int fileDialogs = 0;
    QString lastStartFolder, lastFilter;
    std::function<void()> onMessage; // runs as a message box opens, before its event loop

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
    void message(QWidget *, const QString &text) override
    {
        messages.append(text);
        if (onMessage)
            onMessage();
        runEventsAsAModalBoxWould();
    }
};
