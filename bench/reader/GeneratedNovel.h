#pragma once

// The 50 MB GB18030 novel the reader benchmarks share: about 4,000 chapters and 360,000 lines.

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <QStringEncoder>

namespace {

constexpr int Chapters = 4000;
constexpr int LinesPerChapter = 90;

QByteArray gb(const QString &text)
{
    static QStringEncoder encoder("GB18030");
    return encoder.encode(text);
}

QString chineseNumber(int n)
{
    static const QString digits = QStringLiteral("零一二三四五六七八九");
    QString out;
    if (n >= 1000)
        out += digits.at(n / 1000) + QStringLiteral("千");
    if (n >= 100)
        out += (n / 100 % 10 ? digits.at(n / 100 % 10) + QStringLiteral("百") : QStringLiteral("零"));
    if (n >= 10)
        out += (n / 10 % 10 ? digits.at(n / 10 % 10) + QStringLiteral("十") : QString());
    if (n % 10)
        out += digits.at(n % 10);
    return out;
}

// Random GB2312 level-one hanzi written straight as bytes, with the punctuation and
// indentation of a web novel; one heading per chapter, some short lines of dialogue.
QByteArray makeNovel()
{
    QRandomGenerator rng(20240607);
    QByteArray book;
    book.reserve(52 * 1024 * 1024);
    book += gb(QStringLiteral("《示例长篇》 作者：佚名\n"));
    const QByteArray indent = gb(QStringLiteral("　　"));
    const QByteArray comma = gb(QStringLiteral("，"));
    const QByteArray stop = gb(QStringLiteral("。"));
    for (int c = 1; c <= Chapters; ++c) {
        book += gb(QStringLiteral("第%1章 风起云涌之时").arg(chineseNumber(c))) + '\n';
        for (int l = 1; l < LinesPerChapter; ++l) {
            book += indent;
            const int length = (l % 7 == 0) ? 4 + int(rng.bounded(10)) : 32 + int(rng.bounded(97));
            for (int i = 0; i < length; ++i) {
                if (i > 0 && i % 13 == 0) {
                    book += comma;
                    continue;
                }
                book += char(0xB0 + rng.bounded(0xD7 - 0xB0));
                book += char(0xA1 + rng.bounded(0xFE - 0xA1));
            }
            book += stop;
            book += '\n';
        }
    }
    return book;
}

} // namespace
