#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Every message box and common dialog of the program goes through this interface, so windows
// never open a modal loop of their own and tests can answer in their place.
class Prompter
{
public:
    enum class Icon { None, Critical, Exclamation, Information };

    virtual ~Prompter() = default;

    // A box with one OK button. An empty title shows the program's name.
    virtual void message(const QString &text, Icon icon, const QString &title = {}) = 0;
    // Yes/No without icon; true means Yes.
    virtual bool question(const QString &text, const QString &title = {}) = 0;
    // Empty text when the user cancels. The filter alternates captions and pattern lists, all
    // joined by "|", patterns by ";": "文本文件(*.txt)|*.txt".
    virtual QString openFileName(const QString &title, const QString &filter, const QString &startDir = {}) = 0;
    // Several files at once; empty when the user cancels.
    virtual QStringList openFileNames(const QString &title, const QString &filter, const QString &startDir = {})
    {
        const QString one = openFileName(title, filter, startDir);
        return one.isEmpty() ? QStringList{} : QStringList{one};
    }
    // A box with one button per caption, the first the default; the index of the button chosen,
    // -1 when the box is closed without one.
    virtual int choose(const QString &text, const QStringList &buttons, const QString &title = {})
    {
        return question(text, title) && !buttons.isEmpty() ? 0 : -1;
    }
    virtual QString folderName(const QString &prompt, const QString &startDir = {}) = 0;
    // A file to write, by title, filter (as openFileName's) and start folder; empty text when the
    // user cancels.
    virtual QString saveFileName(const QString &, const QString &, const QString & = {}) { return {}; }
    // The position of the item picked from `items` (title, label, items, the one picked first), or
    // -1 when the user cancels.
    virtual int pickItem(const QString &, const QString &, const QStringList &, int = 0) { return -1; }
    // Colours as 0xRRGGBB; nothing when the user cancels.
    virtual std::optional<unsigned> color(unsigned initialRgb) = 0;

    static QString defaultTitle() { return QStringLiteral("Folioway"); }
};
