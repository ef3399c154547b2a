#pragma once

#include "platform/Prompter.h"

#include <QList>
#include <QQueue>
#include <QStringList>

// Answers dialogs from queues filled by the test and records every message shown.
// A question with no queued answer is answered No; a dialog with none is cancelled.
class ScriptedPrompter : public Prompter
{
public:
    struct Shown
    {
        QString text;
        Icon icon = Icon::None;
        QString title;
        bool isQuestion = false;
    };

    void message(const QString &text, Icon icon, const QString &title = {}) override;
    bool question(const QString &text, const QString &title = {}) override;
    int choose(const QString &text, const QStringList &buttons, const QString &title = {}) override;
    QString openFileName(const QString &title, const QString &filter, const QString &startDir = {}) override;
    QStringList openFileNames(const QString &title, const QString &filter, const QString &startDir = {}) override;
    QString folderName(const QString &prompt, const QString &startDir = {}) override;
    QString saveFileName(const QString &title, const QString &filter, const QString &startDir = {}) override;
    int pickItem(const QString &title, const QString &label, const QStringList &items, int current = 0) override;
    std::optional<unsigned> color(unsigned initialRgb) override;

    QQueue<bool> answers;
    QQueue<int> choices; // buttons chosen and items picked; none queued closes the box
    QQueue<QString> fileNames;
    QQueue<QStringList> fileLists;
    QQueue<QString> folderNames;
    QQueue<std::optional<unsigned>> colors;
    QList<Shown> shown;
    QStringList fileDialogs; // "title|filter" of each file dialog asked for
    QStringList startDirs;   // the folder each file dialog was to open in

    Shown last() const { return shown.isEmpty() ? Shown{} : shown.last(); }
    QString lastText() const { return last().text; }
    void clear() { shown.clear(); }
    // Nothing shown, nothing queued, no dialog asked for: as a new one.
    void reset() { *this = ScriptedPrompter(); }
};
