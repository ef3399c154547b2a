#include "routes/FormCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <vector>

namespace FormCodec {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Position in a GB18030 sequence after the bytes seen so far.
enum GbState : int
{
    Start,
    AfterLead,
    AfterLeadDigit,
    AfterThird,
    StateCount
};

// Next state, or -1 when the byte cannot follow.
int gbStep(int state, unsigned char b)
{
    switch (state) {
    case Start:
        if (b < 0x80)
            return Start;
        return (b >= 0x81 && b <= 0xFE) ? AfterLead : -1;
    case AfterLead:
        if (b >= 0x30 && b <= 0x39)
            return AfterLeadDigit;
        return ((b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE)) ? Start : -1;
    case AfterLeadDigit:
        return (b >= 0x81 && b <= 0xFE) ? AfterThird : -1;
    case AfterThird:
        return (b >= 0x30 && b <= 0x39) ? Start : -1;
    }
    return -1;
}

// One way to read the input at a position: the byte it yields and how many input
// characters it consumes.
struct Token
{
    unsigned char byte;
    int length;
};

// Readings at position i, preferred first. Empty when the input is malformed there.
int tokensAt(QByteArrayView raw, qsizetype i, Token out[2])
{
    const char c = raw[i];
    if (c == '+') {
        out[0] = {' ', 1};
        return 1;
    }
    if (c != '%') {
        out[0] = {static_cast<unsigned char>(c), 1};
        return 1;
    }
    const int h1 = i + 1 < raw.size() ? hexValue(raw[i + 1]) : -1;
    if (h1 < 0)
        return 0;
    const int h2 = i + 2 < raw.size() ? hexValue(raw[i + 2]) : -1;
    int n = 0;
    if (h2 >= 0)
        out[n++] = {static_cast<unsigned char>(h1 * 16 + h2), 3};
    out[n++] = {static_cast<unsigned char>(h1), 2};
    return n;
}

std::optional<QByteArray> gbBytes(QByteArrayView raw)
{
    const qsizetype n = raw.size();
    // reachable[i][s]: from input position i in GB state s the rest can be read to a
    // complete sequence. Filled from the end so the forward pass can choose greedily.
    std::vector<std::array<bool, StateCount>> reachable(n + 1);
    reachable[n] = {true, false, false, false};
    Token tokens[2];
    for (qsizetype i = n - 1; i >= 0; --i) {
        const int count = tokensAt(raw, i, tokens);
        for (int s = 0; s < StateCount; ++s) {
            bool ok = false;
            for (int t = 0; t < count && !ok; ++t) {
                const int next = gbStep(s, tokens[t].byte);
                ok = next >= 0 && reachable[i + tokens[t].length][next];
            }
            reachable[i][s] = ok;
        }
    }
    if (!reachable[0][Start])
        return std::nullopt;

    QByteArray bytes;
    bytes.reserve(n);
    int state = Start;
    for (qsizetype i = 0; i < n;) {
        const int count = tokensAt(raw, i, tokens);
        for (int t = 0; t < count; ++t) {
            const int next = gbStep(state, tokens[t].byte);
            if (next >= 0 && reachable[i + tokens[t].length][next]) {
                bytes.append(char(tokens[t].byte));
                i += tokens[t].length;
                state = next;
                break;
            }
        }
    }
    return bytes;
}

// Plain percent-decoding, two hex digits per escape.
std::optional<QByteArray> percentBytes(QByteArrayView raw, bool plusIsSpace)
{
    QByteArray out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '%') {
            if (i + 2 >= raw.size())
                return std::nullopt;
            const int h1 = hexValue(raw[i + 1]);
            const int h2 = hexValue(raw[i + 2]);
            if (h1 < 0 || h2 < 0)
                return std::nullopt;
            out.append(char(h1 * 16 + h2));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out.append(' ');
        } else {
            out.append(c);
        }
    }
    return out;
}

template <typename Decode> std::optional<Fields> splitPairs(QByteArrayView input, Decode decode)
{
    Fields fields;
    qsizetype start = 0;
    while (start <= input.size()) {
        qsizetype end = input.indexOf('&', start);
        if (end < 0)
            end = input.size();
        const QByteArrayView pair = input.sliced(start, end - start);
        if (!pair.isEmpty()) {
            const qsizetype eq = pair.indexOf('=');
            const auto key = decode(eq < 0 ? pair : pair.first(eq));
            const auto value = decode(eq < 0 ? QByteArrayView() : pair.sliced(eq + 1));
            if (!key || !value)
                return std::nullopt;
            fields.append({*key, *value});
        }
        start = end + 1;
    }
    return fields;
}

} // namespace

std::optional<QString> fromUtf8Strict(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

std::optional<QString> fromGb18030(QByteArrayView bytes)
{
    QStringDecoder decoder("GB18030", QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || !decoder.isValid())
        return std::nullopt;
    return text;
}

QByteArray toGb18030(const QString &text)
{
    QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

std::optional<QString> decodeQueryValue(QByteArrayView raw)
{
    const auto bytes = percentBytes(raw, false);
    if (!bytes)
        return std::nullopt;
    if (auto text = fromUtf8Strict(*bytes))
        return text;
    return fromGb18030(*bytes);
}

std::optional<Fields> parseQuery(QByteArrayView query)
{
    return splitPairs(query, decodeQueryValue);
}

std::optional<QString> decodeGbFormValue(QByteArrayView raw)
{
    if (const auto bytes = gbBytes(raw))
        return fromGb18030(*bytes);
    // Not GB18030 in any reading: perhaps raw UTF-8 text, which the client sends
    // unencoded for a few fixed values.
    const auto bytes = percentBytes(raw, true);
    if (!bytes)
        return std::nullopt;
    return fromUtf8Strict(*bytes);
}

std::optional<QString> decodeUtf8FormValue(QByteArrayView raw)
{
    const auto bytes = percentBytes(raw, true);
    if (!bytes)
        return std::nullopt;
    return fromUtf8Strict(*bytes);
}

std::optional<Fields> parseForm(QByteArrayView body, bool utf8)
{
    // A trailing line break from hand-written requests is no part of the last value.
    while (!body.isEmpty() && (body.back() == '\n' || body.back() == '\r'))
        body.chop(1);
    return utf8 ? splitPairs(body, decodeUtf8FormValue) : splitPairs(body, decodeGbFormValue);
}

QString value(const Fields &fields, QStringView key)
{
    for (const auto &f : fields) {
        if (f.first == key)
            return f.second;
    }
    return {};
}

bool has(const Fields &fields, QStringView key)
{
    for (const auto &f : fields) {
        if (f.first == key)
            return true;
    }
    return false;
}

QByteArray encodeGbFormValue(const QString &text)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char ch : toGb18030(text)) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
            out.append(ch);
            continue;
        }
        out.append('%');
        if (b >= 0x10)
            out.append(hex[b >> 4]);
        out.append(hex[b & 0xF]);
    }
    return out;
}

} // namespace FormCodec
