#include "settings/BossKey.h"

const QStringList &BossKeyModifierNames()
{
    static const QStringList names{QStringLiteral("Alt"), QStringLiteral("Ctrl"), QStringLiteral("Shift")};
    return names;
}

QString FormatBossKey(const QString &modifier, const QString &key)
{
    return modifier + QLatin1Char('|') + key;
}

std::optional<BossKeyText> ParseBossKey(const QString &stored)
{
    const qsizetype bar = stored.indexOf(QLatin1Char('|'));
    if (bar < 0)
        return std::nullopt;
    BossKeyText parts{stored.left(bar), stored.mid(bar + 1).section(QLatin1Char('|'), 0, 0)};
    if (parts.modifier.isEmpty() || parts.key.isEmpty())
        return std::nullopt;
    return parts;
}

int BossKeyModifierIndex(const QString &modifier)
{
    const QString wanted = modifier.toLower();
    const QStringList &names = BossKeyModifierNames();
    for (int i = 0; i < names.size(); ++i) {
        if (names.at(i).toLower() == wanted)
            return i;
    }
    return -1;
}

BossKeyCombination MapBossKey(const QString &modifier, const QString &key, Qt::KeyboardModifiers previous)
{
    BossKeyCombination result;
    const QString word = modifier.toLower();
    if (word == QLatin1String("alt"))
        result.modifiers = Qt::AltModifier;
    else if (word == QLatin1String("ctrl"))
        result.modifiers = Qt::ControlModifier;
    else if (word == QLatin1String("shift"))
        result.modifiers = Qt::ShiftModifier;
    else
        result.modifiers = previous;

    const QString upper = key.toUpper();
    if (!upper.isEmpty()) {
        const char32_t code = upper.at(0).isHighSurrogate() && upper.size() > 1
                                  ? QChar::surrogateToUcs4(upper.at(0), upper.at(1))
                                  : char32_t(upper.at(0).unicode());
        // Qt's key codes for printable characters are their code points.
        if (code >= 0x20)
            result.key = Qt::Key(code);
    }
    return result;
}
