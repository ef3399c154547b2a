#include "text/BookText.h"

#include <QStringDecoder>
#include <QtEndian>

#include <array>
#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr char16_t Replacement = 0xFFFD;

// GB18030 through lookup tables: ICU (behind QStringDecoder) is the reference, but it converts
// a large book several times slower than a table walk. The tables are filled once from ICU
// itself, so both give the same characters; the tests compare them byte pattern by byte pattern.
struct Gb18030Tables
{
    static constexpr int TrailCount = 0xFE - 0x40 + 1; // trail bytes 40..FE, 7F unused
    static constexpr int FourByteBmpCount = 39420;     // 81 30 81 30 .. 84 31 A4 39
    std::array<char16_t, 126 * TrailCount> twoByte{};
    std::array<char16_t, FourByteBmpCount> fourByteBmp{};

    Gb18030Tables()
    {
        twoByte.fill(Replacement);
        fourByteBmp.fill(Replacement);
        QStringDecoder icu("GB18030");
        if (!icu.isValid()) {
            qWarning("GB18030 is not available in this Qt build; such books will show replacement characters");
            return;
        }
        QByteArray pairs;
        pairs.reserve(126 * TrailCount * 2);
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (trail == 0x7F)
                    continue;
                pairs.append(char(lead));
                pairs.append(char(trail));
            }
        }
        const QString pairText = icu.decode(pairs);
        // Every two-byte code yields exactly one unit; anything else means an ICU we do not
        // know, and the slow per-code path keeps the tables right.
        const bool pairsAligned = pairText.size() == pairs.size() / 2;
        qsizetype k = 0;
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (trail == 0x7F)
                    continue;
                char16_t unit = Replacement;
                if (pairsAligned) {
                    unit = pairText.at(k).unicode();
                } else {
                    const char code[3] = {char(lead), char(trail), 'A'};
                    const QString one = QStringDecoder("GB18030").decode(QByteArrayView(code, 3));
                    if (one.size() == 2)
                        unit = one.at(0).unicode();
                }
                twoByte[(lead - 0x81) * TrailCount + (trail - 0x40)] = unit;
                ++k;
            }
        }

        QByteArray quads;
        quads.reserve(FourByteBmpCount * 4);
        for (int i = 0; i < FourByteBmpCount; ++i) {
            quads.append(char(0x81 + i / 12600));
            quads.append(char(0x30 + i / 1260 % 10));
            quads.append(char(0x81 + i / 10 % 126));
            quads.append(char(0x30 + i % 10));
        }
        const QString quadText = QStringDecoder("GB18030").decode(quads);
        if (quadText.size() == FourByteBmpCount) {
            for (int i = 0; i < FourByteBmpCount; ++i)
                fourByteBmp[i] = quadText.at(i).unicode();
        } else {
            for (int i = 0; i < FourByteBmpCount; ++i) {
                const QString one = QStringDecoder("GB18030").decode(quads.mid(i * 4, 4) + 'A');
                if (one.size() == 2)
                    fourByteBmp[i] = one.at(0).unicode();
            }
        }
    }
};

// Big5 the same way: two-byte codes only, lead 81..FE, trail 40..7E or A1..FE.
struct Big5Table
{
    static constexpr int TrailCount = 0xFE - 0x40 + 1;
    std::array<char16_t, 126 * TrailCount> twoByte{};

    Big5Table()
    {
        twoByte.fill(Replacement);
        if (!QStringDecoder("Big5").isValid()) {
            qWarning("Big5 is not available in this Qt build; such books will show replacement characters");
            return;
        }
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (trail > 0x7E && trail < 0xA1)
                    continue;
                const char code[3] = {char(lead), char(trail), 'A'};
                const QString one = QStringDecoder("Big5").decode(QByteArrayView(code, 3));
                if (one.size() == 2)
                    twoByte[(lead - 0x81) * TrailCount + (trail - 0x40)] = one.at(0).unicode();
            }
        }
    }
};

const Big5Table &big5Table()
{
    static const Big5Table table;
    return table;
}

const Gb18030Tables &gbTables()
{
    static const Gb18030Tables tables;
    return tables;
}

inline bool inRange(uchar b, uchar low, uchar high)
{
    return b >= low && b <= high;
}

// Malformed input follows ICU's GB18030 converter: a lead byte whose second byte cannot
// continue it becomes U+FFFD and the second byte is read again; a lead byte followed by FF
// becomes one U+FFFD for both; a well-formed four-byte code without a character is one U+FFFD.
qsizetype decodeGb18030(const uchar *s, qsizetype n, char16_t *d, qsizetype limit, qsizetype *consumed)
{
    const Gb18030Tables &t = gbTables();
    qsizetype i = 0;
    qsizetype o = 0;
    while (i < n && o < limit) {
        const uchar b = s[i];
        if (b < 0x80) {
            d[o++] = b;
            ++i;
            continue;
        }
        if (b != 0x80 && b != 0xFF && i + 1 < n) {
            const uchar b2 = s[i + 1];
            if (b2 >= 0x40 && b2 != 0x7F) {
                d[o++] = b2 == 0xFF ? Replacement : t.twoByte[(b - 0x81) * Gb18030Tables::TrailCount + (b2 - 0x40)];
                i += 2;
                continue;
            }
            if (inRange(b2, 0x30, 0x39) && i + 3 < n && inRange(s[i + 2], 0x81, 0xFE) &&
                inRange(s[i + 3], 0x30, 0x39)) {
                const int tail = (b2 - 0x30) * 1260 + (s[i + 2] - 0x81) * 10 + (s[i + 3] - 0x30);
                if (b <= 0x84) {
                    const int index = (b - 0x81) * 12600 + tail;
                    d[o++] = index < Gb18030Tables::FourByteBmpCount ? t.fourByteBmp[index] : Replacement;
                } else if (b >= 0x90) {
                    const char32_t cp = 0x10000 + char32_t(b - 0x90) * 12600 + char32_t(tail);
                    if (cp <= 0x10FFFF) {
                        d[o++] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
                        d[o++] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
                    } else {
                        d[o++] = Replacement;
                    }
                } else {
                    d[o++] = Replacement;
                }
                i += 4;
                continue;
            }
        }
        d[o++] = Replacement;
        ++i;
    }
    if (consumed)
        *consumed = i;
    return o;
}

// A lead byte whose second byte cannot continue it becomes U+FFFD and the second byte is read again.
qsizetype decodeBig5(const uchar *s, qsizetype n, char16_t *d, qsizetype limit, qsizetype *consumed)
{
    const Big5Table &t = big5Table();
    qsizetype i = 0;
    qsizetype o = 0;
    while (i < n && o < limit) {
        const uchar b = s[i];
        if (b < 0x80) {
            d[o++] = b;
            ++i;
            continue;
        }
        if (b != 0x80 && b != 0xFF && i + 1 < n && (inRange(s[i + 1], 0x40, 0x7E) || inRange(s[i + 1], 0xA1, 0xFE))) {
            d[o++] = t.twoByte[(b - 0x81) * Big5Table::TrailCount + (s[i + 1] - 0x40)];
            i += 2;
            continue;
        }
        d[o++] = Replacement;
        ++i;
    }
    if (consumed)
        *consumed = i;
    return o;
}

// UTF-8 with the replacement rule of the Encoding Standard: each maximal ill-formed prefix of
// a sequence is one U+FFFD, and the byte that broke it is read again.
template <bool Emit>
qsizetype walkUtf8(const uchar *s, qsizetype n, char16_t *d, qsizetype limit, qsizetype *consumed, bool *valid)
{
    qsizetype i = 0;
    qsizetype o = 0;
    bool ok = true;
    while (i < n && o < limit) {
        if constexpr (!Emit) {
            // Validation only: skip ASCII eight bytes at a time.
            while (i + 8 <= n) {
                quint64 word;
                std::memcpy(&word, s + i, 8);
                if (word & 0x8080808080808080ULL)
                    break;
                i += 8;
            }
            if (i >= n)
                break;
        }
        const uchar b = s[i];
        if (b < 0x80) {
            if constexpr (Emit)
                d[o++] = b;
            ++i;
            continue;
        }
        int needed;
        char32_t cp;
        uchar lower = 0x80;
        uchar upper = 0xBF;
        if (inRange(b, 0xC2, 0xDF)) {
            needed = 1;
            cp = b & 0x1F;
        } else if (inRange(b, 0xE0, 0xEF)) {
            needed = 2;
            cp = b & 0x0F;
            if (b == 0xE0)
                lower = 0xA0;
            else if (b == 0xED)
                upper = 0x9F;
        } else if (inRange(b, 0xF0, 0xF4)) {
            needed = 3;
            cp = b & 0x07;
            if (b == 0xF0)
                lower = 0x90;
            else if (b == 0xF4)
                upper = 0x8F;
        } else {
            ok = false;
            if constexpr (!Emit)
                break;
            d[o++] = Replacement;
            ++i;
            continue;
        }
        int seen = 0;
        while (seen < needed && i + 1 + seen < n && inRange(s[i + 1 + seen], lower, upper)) {
            cp = (cp << 6) | (s[i + 1 + seen] & 0x3F);
            lower = 0x80;
            upper = 0xBF;
            ++seen;
        }
        if (seen < needed) {
            ok = false;
            if constexpr (!Emit)
                break;
            d[o++] = Replacement;
            i += 1 + seen;
            continue;
        }
        i += 1 + needed;
        if constexpr (Emit) {
            if (cp >= 0x10000) {
                d[o++] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
                d[o++] = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                d[o++] = char16_t(cp);
            }
        }
    }
    if (consumed)
        *consumed = i;
    if (valid)
        *valid = ok;
    return o;
}

// UTF-16 as the Encoding Standard decodes it: unpaired surrogates and an odd final byte
// become U+FFFD.
qsizetype decodeUtf16(const uchar *s, qsizetype n, bool bigEndian, char16_t *d, qsizetype limit, qsizetype *consumed)
{
    auto unitAt = [&](qsizetype at) -> char16_t {
        return bigEndian ? qFromBigEndian<quint16>(s + at) : qFromLittleEndian<quint16>(s + at);
    };
    qsizetype i = 0;
    qsizetype o = 0;
    while (i < n && o < limit) {
        if (i + 1 >= n) {
            d[o++] = Replacement;
            ++i;
            break;
        }
        const char16_t u = unitAt(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 == n) {
            // A lead surrogate cut short by an odd final byte is a single error, as in the
            // Encoding Standard.
            d[o++] = Replacement;
            i = n;
            break;
        }
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
            const char16_t next = unitAt(i + 2);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                d[o++] = u;
                d[o++] = next;
                i += 4;
                continue;
            }
        }
        d[o++] = (u >= 0xD800 && u <= 0xDFFF) ? Replacement : u;
        i += 2;
    }
    if (consumed)
        *consumed = i;
    return o;
}

} // namespace

DetectedEncoding DetectByteOrderMark(QByteArrayView head)
{
    const auto *s = reinterpret_cast<const uchar *>(head.data());
    const qsizetype n = head.size();
    if (n >= 2 && s[0] == 0xFF && s[1] == 0xFE)
        return {TextEncoding::Utf16LE, 2};
    if (n >= 2 && s[0] == 0xFE && s[1] == 0xFF)
        return {TextEncoding::Utf16BE, 2};
    if (n >= 3 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF)
        return {TextEncoding::Utf8, 3};
    return {TextEncoding::Gb18030, 0};
}

DetectedEncoding DetectTextEncoding(QByteArrayView bytes)
{
    const DetectedEncoding byMark = DetectByteOrderMark(bytes);
    if (byMark.bomLength > 0)
        return byMark;
    if (IsValidUtf8(bytes))
        return {TextEncoding::Utf8, 0};
    return {TextEncoding::Gb18030, 0};
}

QString EncodingName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Gb18030:
        return QStringLiteral("GB18030");
    case TextEncoding::Utf8:
        return QStringLiteral("UTF-8");
    case TextEncoding::Utf16LE:
        return QStringLiteral("UTF-16LE");
    case TextEncoding::Utf16BE:
        return QStringLiteral("UTF-16BE");
    case TextEncoding::Big5:
        return QStringLiteral("Big5");
    }
    return {};
}

std::optional<TextEncoding> EncodingFromName(QStringView name)
{
    static const struct
    {
        QStringView name;
        TextEncoding encoding;
    } names[] = {{u"GB18030", TextEncoding::Gb18030}, {u"GBK", TextEncoding::Gb18030},
                 {u"UTF-8", TextEncoding::Utf8},      {u"UTF-16", TextEncoding::Utf16LE},
                 {u"UTF-16LE", TextEncoding::Utf16LE}, {u"UTF-16BE", TextEncoding::Utf16BE},
                 {u"Big5", TextEncoding::Big5}};
    for (const auto &n : names) {
        if (name.compare(n.name, Qt::CaseInsensitive) == 0)
            return n.encoding;
    }
    return std::nullopt;
}

bool IsValidUtf8(QByteArrayView bytes)
{
    bool valid = true;
    walkUtf8<false>(reinterpret_cast<const uchar *>(bytes.data()), bytes.size(), nullptr,
                    std::numeric_limits<qsizetype>::max(), nullptr, &valid);
    return valid;
}

qsizetype DecodeTextInto(TextEncoding encoding, QByteArrayView bytes, char16_t *dst, qsizetype maxUnits,
                         qsizetype *consumed)
{
    const auto *s = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    const qsizetype limit = maxUnits < 0 ? std::numeric_limits<qsizetype>::max() : maxUnits;
    switch (encoding) {
    case TextEncoding::Gb18030:
        return decodeGb18030(s, n, dst, limit, consumed);
    case TextEncoding::Utf8:
        return walkUtf8<true>(s, n, dst, limit, consumed, nullptr);
    case TextEncoding::Utf16LE:
        return decodeUtf16(s, n, false, dst, limit, consumed);
    case TextEncoding::Utf16BE:
        return decodeUtf16(s, n, true, dst, limit, consumed);
    case TextEncoding::Big5:
        return decodeBig5(s, n, dst, limit, consumed);
    }
    return 0;
}

QString DecodeText(TextEncoding encoding, QByteArrayView bytes)
{
    QString text(bytes.size() + 1, Qt::Uninitialized);
    const qsizetype units = DecodeTextInto(encoding, bytes, reinterpret_cast<char16_t *>(text.data()));
    text.truncate(units);
    return text;
}

QString DecodeBookText(QByteArrayView bytes)
{
    const DetectedEncoding detected = DetectTextEncoding(bytes);
    return DecodeText(detected.encoding, bytes.sliced(detected.bomLength));
}

QStringList SplitBookLines(QStringView text)
{
    QStringList lines;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype lf = text.indexOf(u'\n', from);
        const bool last = lf < 0;
        if (last)
            lf = text.size();
        qsizetype end = lf;
        if (!last && end > from && text.at(end - 1) == u'\r')
            --end;
        lines.append(text.sliced(from, end - from).toString());
        from = lf + 1;
    }
    return lines;
}
