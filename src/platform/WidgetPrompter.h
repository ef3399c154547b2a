#pragma once

#include "platform/Prompter.h"

class QWidget;

// Real message boxes and dialogs, parented to the active window of the program.
class WidgetPrompter : public Prompter
{
public:
    void message(const QString &text, Icon icon, const QString &title = {}) override;
    bool question(const QString &text, const QString &title = {}) override;
    QString openFileName(const QString &title, const QString &filter, const QString &startDir = {}) override;
    QString folderName(const QString &prompt, const QString &startDir = {}) override;
    std::optional<unsigned> color(unsigned initialRgb) override;
};
