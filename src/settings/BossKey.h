#pragma once

#include <QKeyCombination>
#include <QString>
#include <QStringList>
#include <QtCore/qnamespace.h>

#include <optional>

// "Alt", "Ctrl", "Shift": the modifier list of the settings tab, in its order.
const QStringList &BossKeyModifierNames();

// The stored BossKey text: modifier word, "|", key text, both as typed.
QString FormatBossKey(const QString &modifier, const QString &key);

struct BossKeyText
{
    QString modifier;
    QString key;
};

// Nothing when the "|" or either part is missing: the hot key is then not registered
// until the settings are saved.
std::optional<BossKeyText> ParseBossKey(const QString &stored);

// Index into BossKeyModifierNames() of the first name equal to modifier ignoring case, or -1.
int BossKeyModifierIndex(const QString &modifier);

struct BossKeyCombination
{
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
    Qt::Key key = Qt::Key_unknown;

    bool isValid() const { return key != Qt::Key_unknown; }
    QKeyCombination combination() const { return QKeyCombination(modifiers, key); }
    bool operator==(const BossKeyCombination &) const = default;
};

// "alt", "ctrl" or "shift" (any case) chooses the one modifier; another word keeps `previous`,
// the modifier of the last registration. The key is the first character of the upper-cased
// key text, as the Qt key of that character (for letters and digits their ASCII code).
BossKeyCombination MapBossKey(const QString &modifier, const QString &key,
                              Qt::KeyboardModifiers previous = Qt::NoModifier);
