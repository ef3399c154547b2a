#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// What the documents that list an EPUB's others are made of: the package document (metadata,
// manifest and spine), the navigation document and the EPUB 2 NCX for older readers.
struct EpubContents
{
    struct Document
    {
        QString id;
        QString href;
    };

    QString identifier;
    QString title;   // escaped already
    QString author;  // as given
    QString subject; // the category, as given
    QDateTime date;
    QString cover;   // the cover's file name beside the package document; empty: none
    QByteArray coverType;
    QList<Document> documents; // the chapter documents in reading order
    QStringList chapterTitles; // escaped already
    QStringList chapterHrefs;  // where each chapter starts
};

QByteArray EpubPackageDocument(const EpubContents &contents);
QByteArray EpubNavDocument(const EpubContents &contents);
QByteArray EpubNcxDocument(const EpubContents &contents);

// The file name the cover gets, by its media type; empty for a type readers need not show.
QString EpubCoverFile(const QByteArray &type);
