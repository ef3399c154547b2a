#include "text/LineMarkup.h"

#include "text/EpubDocument.h"

#include <QChar>

#include <array>
#include <bitset>
#include <cstring>

namespace {

// A character's entry: the bytes AppendXmlUtf8() makes of it, first byte lowest, their count
// above them, and two flags. The tables are filled from AppendXmlUtf8() and DecodeTextInto()
// themselves, so the two paths cannot disagree on a character.
constexpr int CountShift = 40;
constexpr quint64 Blank = 1ull << 48; // white space, trimmed at both ends of a paragraph
constexpr quint64 Slow = 1ull << 63;  // left to the general path

// As ParagraphWriter trims.
bool isBlank(char16_t unit)
{
    return QChar(unit).isSpace() || unit == u'\u3000';
}

quint64 entryFor(char16_t unit)
{
    if (QChar::isSurrogate(unit)) // a four-byte code's half, or a character of its own: rare either way
        return Slow;
    QByteArray escaped;
    AppendXmlUtf8(escaped, QStringView(&unit, 1));
    quint64 entry = quint64(escaped.size()) << CountShift;
    for (qsizetype i = 0; i < escaped.size(); ++i)
        entry |= quint64(uchar(escaped.at(i))) << (8 * i);
    return isBlank(unit) ? entry | Blank : entry;
}

// Flags of a two-byte entry, in its top byte; its count is in bits 24-25.
constexpr quint32 GbBlank = 1u << 30;
constexpr quint32 GbSlow = 1u << 31;

struct Tables
{
    std::array<quint64, 128> ascii{};
    // Two-byte GB18030 codes by ((lead & 7F) << 8 | trail): lead 81..FE, trail 40..FE but 7F,
    // and a lead followed by FF (U+FFFD for both bytes); everything else is GbSlow.
    std::array<quint32, 128 * 256> gb{};
    std::bitset<0x10000> blank; // of the Basic Multilingual Plane, for UTF-8
    uint lastBlank = 0;         // past it (U+3000) the bits need no look

    Tables()
    {
        for (char16_t c = 0; c < 128; ++c)
            ascii[c] = entryFor(c);
        gb.fill(GbSlow);
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFF; ++trail) {
                const char code[2] = {char(lead), char(trail)};
                char16_t units[2] = {};
                qsizetype consumed = 0;
                if (trail == 0x7F ||
                    DecodeTextInto(TextEncoding::Gb18030, QByteArrayView(code, 2), units, 1, &consumed) != 1 ||
                    consumed != 2)
                    continue;
                const quint64 entry = entryFor(units[0]);
                if ((entry & Slow) || (entry >> CountShift & 0xFF) > 3)
                    continue;
                gb[size_t((lead & 0x7F) << 8 | trail)] =
                    quint32(entry & 0xFFFFFF) | quint32(entry >> CountShift & 3) << 24 | (entry & Blank ? GbBlank : 0);
            }
        }
        for (uint c = 0; c < 0x10000; ++c) {
            blank[c] = isBlank(char16_t(c));
            lastBlank = blank[c] ? c : lastBlank;
        }
    }
};

// Called for every line: inlined, it is a load and a branch once the tables are made.
[[gnu::always_inline]] inline const Tables &tables()
{
    static const Tables t;
    return t;
}

// Writes one character's entry at d (eight bytes of room), returns the end of its bytes.
inline uchar *put(uchar *d, quint64 entry)
{
    std::memcpy(d, &entry, 8);
    return d + (entry >> CountShift & 0xFF);
}

// The paragraph of a GB18030 line into d; null when the line is left to the general path.
// *units receives the UTF-16 units after the leading white space, *solid the end of the text
// up to its last character that is not white space.
uchar *gb18030(const uchar *s, qsizetype n, uchar *d, qsizetype *units, uchar **solid)
{
    const Tables &t = tables();
    qsizetype i = 0;
    // Leading white space: ASCII or two-byte (the ideographic space, A1 A1).
    while (i < n) {
        if (s[i] < 0x80 && (t.ascii[s[i]] & Blank))
            ++i;
        else if (s[i] >= 0x80 && i + 1 < n &&
                 (t.gb[size_t((s[i] & 0x7F) << 8 | s[i + 1])] & (GbSlow | GbBlank)) == GbBlank)
            i += 2;
        else
            break;
    }
    qsizetype count = 0;
    uchar *end = d;
    const auto ascii = [&](uchar b) {
        const quint64 entry = t.ascii[b];
        d = put(d, entry);
        end = entry & Blank ? end : d;
        ++i;
        ++count;
    };
    while (i + 1 < n) {
        // Two characters at a time while both are two-byte codes of three bytes, no white space.
        while (i + 3 < n && s[i] >= 0x80 && s[i + 2] >= 0x80) {
            const quint32 e1 = t.gb[size_t((s[i] & 0x7F) << 8 | s[i + 1])];
            const quint32 e2 = t.gb[size_t((s[i + 2] & 0x7F) << 8 | s[i + 3])];
            if (e1 >> 24 != 3 || e2 >> 24 != 3)
                break;
            std::memcpy(d, &e1, 4);
            std::memcpy(d + 3, &e2, 4);
            end = d += 6;
            i += 4;
            count += 2;
        }
        if (i + 1 >= n)
            break;
        const uchar b = s[i];
        if (b < 0x80) {
            ascii(b);
            continue;
        }
        const quint32 entry = t.gb[size_t((b & 0x7F) << 8 | s[i + 1])];
        if (entry >= GbBlank) { // rare: white space, or a four-byte or malformed code
            if (entry & GbSlow)
                return nullptr;
            std::memcpy(d, &entry, 4);
            d += entry >> 24 & 3;
        } else {
            std::memcpy(d, &entry, 4);
            end = d += entry >> 24;
        }
        i += 2;
        ++count;
    }
    if (i < n) { // the last byte alone
        if (s[i] >= 0x80)
            return nullptr;
        ascii(s[i]);
    }
    *units = count;
    *solid = end;
    return d;
}

// The same for a well-formed UTF-8 line; the bytes of a character are kept as they are unless
// escaping drops or replaces it. Kept out of line: inlined, GCC 12 spilled a byte of each
// character to the stack and read it back wider, a stall that tripled the time.
[[gnu::noinline]] uchar *utf8(const uchar *s, qsizetype n, uchar *d, qsizetype *units, uchar **solid)
{
    const Tables &t = tables();
    qsizetype count = 0;
    uchar *end = d;
    bool leading = true;
    for (qsizetype i = 0; i < n;) {
        const uchar b = s[i];
        if (b < 0x80) {
            const quint64 entry = t.ascii[b];
            ++i;
            if (leading && (entry & Blank))
                continue;
            leading = false;
            d = put(d, entry);
            end = entry & Blank ? end : d;
            ++count;
            continue;
        }
        if (b >= 0xE1 && b != 0xED && b <= 0xEF && i + 2 < n) { // the common case: Chinese, three bytes
            // Both continuation bytes in one load.
            quint16 pair;
            std::memcpy(&pair, s + i + 1, 2);
            const uint c1 = pair & 0xFFu;
            const uint c2 = pair >> 8;
            const uint cp = (b & 0x0Fu) << 12 | (c1 & 0x3Fu) << 6 | (c2 & 0x3Fu);
            if ((pair & 0xC0C0) == 0x8080 && cp < 0xFFFE && (cp > t.lastBlank || !t.blank[cp])) {
                std::memcpy(d, s + i, 3);
                end = d += 3;
                i += 3;
                ++count;
                leading = false;
                continue;
            }
        }
        int length;
        char32_t cp;
        if (b >= 0xC2 && b <= 0xDF && i + 1 < n && (s[i + 1] & 0xC0) == 0x80) {
            length = 2;
            cp = char32_t(b & 0x1F) << 6 | (s[i + 1] & 0x3F);
        } else if (b >= 0xE0 && b <= 0xEF && i + 2 < n && (s[i + 1] & 0xC0) == 0x80 && (s[i + 2] & 0xC0) == 0x80 &&
                   (b != 0xE0 || s[i + 1] >= 0xA0) && (b != 0xED || s[i + 1] <= 0x9F)) {
            length = 3;
            cp = char32_t(b & 0x0F) << 12 | char32_t(s[i + 1] & 0x3F) << 6 | (s[i + 2] & 0x3F);
        } else if (b >= 0xF0 && b <= 0xF4 && i + 3 < n && (s[i + 1] & 0xC0) == 0x80 && (s[i + 2] & 0xC0) == 0x80 &&
                   (s[i + 3] & 0xC0) == 0x80 && (b != 0xF0 || s[i + 1] >= 0x90) && (b != 0xF4 || s[i + 1] <= 0x8F)) {
            length = 4;
            cp = 0x10000;
        } else {
            return nullptr;
        }
        const bool blank = cp < 0x10000 && t.blank[cp];
        if (leading && blank) {
            i += length;
            continue;
        }
        leading = false;
        // C1 controls (U+0080..U+009F), U+FFFE and U+FFFF are dropped.
        if (length == 3 && cp < 0xFFFE) { // fixed sizes: copies the compiler writes out
            std::memcpy(d, s + i, 3);
            d += 3;
        } else if (length == 2 && cp >= 0xA0) {
            std::memcpy(d, s + i, 2);
            d += 2;
        } else if (length == 4) {
            std::memcpy(d, s + i, 4);
            d += 4;
        }
        end = blank ? end : d;
        i += length;
        count += length == 4 ? 2 : 1;
    }
    *units = count;
    *solid = end;
    return d;
}

} // namespace

qsizetype WriteLineMarkup(char *out, TextEncoding encoding, QByteArrayView line, qsizetype maxUnits)
{
    // No character taken here is more than three bytes a unit: a longer line has too many units.
    if ((encoding != TextEncoding::Gb18030 && encoding != TextEncoding::Utf8) || line.size() > 3 * maxUnits)
        return -1;
    auto *start = reinterpret_cast<uchar *>(out);
    std::memcpy(start, "<p>", 3);
    const auto *s = reinterpret_cast<const uchar *>(line.data());
    qsizetype units = 0;
    uchar *solid = nullptr;
    uchar *const text = start + 3;
    const uchar *end = encoding == TextEncoding::Gb18030 ? gb18030(s, line.size(), text, &units, &solid)
                                                         : utf8(s, line.size(), text, &units, &solid);
    if (!end || units > maxUnits)
        return -1;
    if (solid == text) // nothing but white space and dropped characters
        return 0;
    std::memcpy(solid, "</p>\n", 5);
    return solid + 5 - start;
}

bool AppendLineMarkup(QByteArray &out, TextEncoding encoding, QByteArrayView line, qsizetype maxUnits)
{
    const qsizetype had = out.size();
    out.resize(had + LineMarkupRoom(line.size()));
    const qsizetype written = WriteLineMarkup(out.data() + had, encoding, line, maxUnits);
    out.truncate(had + qMax<qsizetype>(written, 0));
    return written >= 0;
}
