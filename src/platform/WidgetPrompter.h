#pragma once

#include "platform/Prompter.h"

class QCoreApplication;
class QFileDialog;
class QWidget;

// Real message boxes and dialogs, parented to the active window of the program.
class WidgetPrompter : public Prompter
{
public:
    void message(const QString &text, Icon icon, const QString &title = {}) override;
    bool question(const QString &text, const QString &title = {}) override;
    int choose(const QString &text, const QStringList &buttons, const QString &title = {}) override;
    QString openFileName(const QString &title, const QString &filter, const QString &startDir = {}) override;
    QStringList openFileNames(const QString &title, const QString &filter, const QString &startDir = {}) override;
    QString folderName(const QString &prompt, const QString &startDir = {}) override;
    QString saveFileName(const QString &title, const QString &filter, const QString &startDir = {}) override;
    int pickItem(const QString &title, const QString &label, const QStringList &items, int current = 0) override;
    std::optional<unsigned> color(unsigned initialRgb) override;

    // The open-file dialog openFileName() shows, not yet shown: the filter in the program's
    // "caption|patterns|caption|patterns" form becomes Qt's name filters, each caption shown
    // as written.
    static QFileDialog *createOpenFileDialog(QWidget *parent, const QString &title, const QString &filter,
                                             const QString &startDir = {});
    // The folder picker folderName() shows, not yet shown.
    static QFileDialog *createFolderDialog(QWidget *parent, const QString &prompt, const QString &startDir = {});
};

// Qt's own dialogs, standard buttons, text-box menus and web-page menus speak Chinese whatever
// the system locale is. Loads the installed Qt catalogues for zh_CN into app; false when none
// could be loaded.
bool InstallChineseQtTranslations(QCoreApplication &app);
