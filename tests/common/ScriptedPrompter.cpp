#include "ScriptedPrompter.h"

void ScriptedPrompter::message(const QString &text, Icon icon, const QString &title)
{
    shown.append({text, icon, title.isEmpty() ? defaultTitle() : title, false});
}

bool ScriptedPrompter::question(const QString &text, const QString &title)
{
    shown.append({text, Icon::None, title.isEmpty() ? defaultTitle() : title, true});
    return answers.isEmpty() ? false : answers.dequeue();
}

int ScriptedPrompter::choose(const QString &text, const QStringList &buttons, const QString &title)
{
    shown.append({text + u'|' + buttons.join(u'|'), Icon::None, title.isEmpty() ? defaultTitle() : title, true});
    return choices.isEmpty() ? -1 : choices.dequeue();
}

QString ScriptedPrompter::openFileName(const QString &title, const QString &filter, const QString &startDir)
{
    fileDialogs.append(title + u'|' + filter);
    startDirs.append(startDir);
    return fileNames.isEmpty() ? QString() : fileNames.dequeue();
}

QStringList ScriptedPrompter::openFileNames(const QString &title, const QString &filter, const QString &startDir)
{
    fileDialogs.append(title + u'|' + filter);
    startDirs.append(startDir);
    return fileLists.isEmpty() ? QStringList{} : fileLists.dequeue();
}

QString ScriptedPrompter::folderName(const QString &, const QString &)
{
    return folderNames.isEmpty() ? QString() : folderNames.dequeue();
}

std::optional<unsigned> ScriptedPrompter::color(unsigned)
{
    return colors.isEmpty() ? std::nullopt : colors.dequeue();
}

QString ScriptedPrompter::saveFileName(const QString &title, const QString &filter, const QString &startDir)
{
    return openFileName(title, filter, startDir);
}

int ScriptedPrompter::pickItem(const QString &title, const QString &label, const QStringList &, int)
{
    shown.append({label, Icon::None, title.isEmpty() ? defaultTitle() : title, true});
    return choices.isEmpty() ? -1 : choices.dequeue();
}
