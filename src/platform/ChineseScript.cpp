#include "platform/ChineseScript.h"

#include <algorithm>

#ifdef FOLIOWAY_HAVE_OPENCC
#include <opencc/SimpleConverter.hpp>

#include <QFile>
#include <QtConcurrent/QtConcurrentMap>

#include <memory>
#include <numeric>
#include <string>
#endif

namespace {

#ifdef FOLIOWAY_HAVE_OPENCC
QString tablePath(const char *config)
{
    return QStringLiteral(FOLIOWAY_OPENCC_TABLES "/") + QLatin1String(config);
}

// The tables are loaded once, on first use (not when the program starts); a converter only reads
// them, so one instance serves every thread.
const opencc::SimpleConverter *converterFor(ScriptConversion conversion)
{
    static const auto load = [](const char *config) -> std::unique_ptr<opencc::SimpleConverter> {
        try {
            return std::make_unique<opencc::SimpleConverter>(tablePath(config).toStdString());
        } catch (...) {
            return nullptr;
        }
    };
    static const std::unique_ptr<opencc::SimpleConverter> toSimplified = load("t2s.json");
    static const std::unique_ptr<opencc::SimpleConverter> toTraditional = load("s2t.json");
    switch (conversion) {
    case ScriptConversion::ToSimplified:
        return toSimplified.get();
    case ScriptConversion::ToTraditional:
        return toTraditional.get();
    case ScriptConversion::None:
        break;
    }
    return nullptr;
}
#endif

} // namespace

QString ScriptConversionName(ScriptConversion conversion)
{
    switch (conversion) {
    case ScriptConversion::ToSimplified:
        return QStringLiteral("s");
    case ScriptConversion::ToTraditional:
        return QStringLiteral("t");
    case ScriptConversion::None:
        break;
    }
    return {};
}

ScriptConversion ScriptConversionFromName(const QString &name)
{
    if (name == u"s")
        return ScriptConversion::ToSimplified;
    if (name == u"t")
        return ScriptConversion::ToTraditional;
    return ScriptConversion::None;
}

bool ScriptConversionAvailable()
{
#ifdef FOLIOWAY_HAVE_OPENCC
    static const bool there = QFile::exists(tablePath("t2s.json")) && QFile::exists(tablePath("s2t.json"));
    return there;
#else
    return false;
#endif
}

namespace {

#ifdef FOLIOWAY_HAVE_OPENCC
QString convertPiece(const opencc::SimpleConverter &converter, QStringView text)
{
    const QByteArray utf8 = text.toUtf8();
    try {
        const std::string out = converter.Convert(utf8.constData(), size_t(utf8.size()));
        return QString::fromUtf8(out.data(), qsizetype(out.size()));
    } catch (...) {
        return text.toString();
    }
}

// A megabyte takes the tables a few hundred milliseconds of processor time, so a long text is
// cut where no table entry can run across (a line break, or else a full stop or comma) and its
// pieces are converted side by side.
constexpr qsizetype PieceChars = 64 * 1024;

QList<QStringView> piecesOf(QStringView text)
{
    QList<QStringView> pieces;
    while (text.size() > PieceChars) {
        qsizetype cut = text.lastIndexOf(u'\n', PieceChars);
        for (char16_t mark : {u'。', u'，'})
            if (cut < PieceChars / 2)
                cut = std::max(cut, text.lastIndexOf(mark, PieceChars));
        if (cut < PieceChars / 2)
            cut = PieceChars - (text.at(PieceChars - 1).isHighSurrogate() ? 2 : 1);
        pieces.append(text.first(cut + 1));
        text = text.sliced(cut + 1);
    }
    pieces.append(text);
    return pieces;
}
#endif

} // namespace

QString ConvertScript(const QString &text, ScriptConversion conversion)
{
#ifdef FOLIOWAY_HAVE_OPENCC
    if (conversion == ScriptConversion::None || text.isEmpty())
        return text;
    const opencc::SimpleConverter *converter = converterFor(conversion);
    if (!converter)
        return text;
    if (text.size() <= PieceChars)
        return convertPiece(*converter, text);
    const QList<QStringView> pieces = piecesOf(text);
    QList<QString> converted(pieces.size());
    // Indices rather than the pieces, so that each result lands in its place whatever thread ran it.
    QList<int> order(pieces.size());
    std::iota(order.begin(), order.end(), 0);
    QtConcurrent::blockingMap(order, [&](int i) { converted[i] = convertPiece(*converter, pieces.at(i)); });
    return converted.join(QString());
#else
    Q_UNUSED(conversion);
    return text;
#endif
}

QStringList ConvertScriptEach(const QStringList &items, ScriptConversion conversion)
{
    if (conversion == ScriptConversion::None || items.isEmpty())
        return items;
    // A line break is never part of a table entry, so the joined text splits back item by item;
    // an item holding one itself is converted alone.
    const bool oneByOne = std::any_of(items.cbegin(), items.cend(), [](const QString &i) { return i.contains(u'\n'); });
    QStringList converted;
    if (!oneByOne)
        converted = ConvertScript(items.join(u'\n'), conversion).split(u'\n');
    if (converted.size() != items.size()) {
        converted.clear();
        for (const QString &item : items)
            converted.append(ConvertScript(item, conversion));
    }
    return converted;
}

QStringList ScriptVariants(const QString &word)
{
    QStringList variants{word};
    for (ScriptConversion c : {ScriptConversion::ToSimplified, ScriptConversion::ToTraditional}) {
        const QString form = ConvertScript(word, c);
        if (!form.isEmpty() && !variants.contains(form))
            variants.append(form);
    }
    return variants;
}
