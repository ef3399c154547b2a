#pragma once

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <archive.h>
#include <archive_entry.h>

// The chapter titles of an EPUB's contents, read back with libarchive.
inline QStringList navTitles(const QString &epub)
{
    archive *a = archive_read_new();
    archive_read_support_format_zip(a);
    QByteArray nav;
    if (archive_read_open_filename(a, QFile::encodeName(epub).constData(), 65536) == ARCHIVE_OK) {
        archive_entry *entry = nullptr;
        while (nav.isEmpty() && archive_read_next_header(a, &entry) == ARCHIVE_OK) {
            if (qstrcmp(archive_entry_pathname(entry), "OEBPS/nav.xhtml") != 0)
                continue;
            char chunk[65536];
            for (la_ssize_t n; (n = archive_read_data(a, chunk, sizeof chunk)) > 0;)
                nav.append(chunk, qsizetype(n));
        }
    }
    archive_read_free(a);
    QStringList titles;
    static const QRegularExpression item(QStringLiteral("<li><a href=\"[^\"]+\">([^<]*)</a></li>"));
    for (const QRegularExpressionMatch &m : item.globalMatch(QString::fromUtf8(nav)))
        titles << m.captured(1);
    return titles;
}

