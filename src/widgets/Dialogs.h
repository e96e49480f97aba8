#pragma once

#include <QString>

class QWidget;

// The modal dialogs the program shows. The program uses the real ones; tests answer them.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Returns the chosen file's full path, or an empty text when cancelled. A filter is one entry,
    // "Description (patterns)"; the entry shows the description only.
    virtual QString openFileName(QWidget *parent, const QString &startFolder, const QString &filter) = 0;
    // A message box with an OK button only, no icon, the application's name as its title.
    virtual void message(QWidget *parent, const QString &text) = 0;
};

class QtDialogs : public Dialogs {
public:
    QString openFileName(QWidget *parent, const QString &startFolder, const QString &filter) override;
    void message(QWidget *parent, const QString &text) override;
};
