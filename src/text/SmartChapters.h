#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

// "智能分章": the reading mode for books the heading rule cannot cut up on its own. Long lines
// are split into paragraphs at sentence ends while the book is scanned (each paragraph becomes
// a line of its own, so ranges, display, search and positions work on them unchanged), chapter
// headings written inside such lines become lines of their own, and the headings found are
// sifted for a contents page and for prose that merely begins with "第".

// A line longer than this many bytes (some 2700 to 4000 Chinese characters, by encoding) is split.
constexpr qsizetype SmartLongLineBytes = 8 * 1024;

// Where a piece of a long line is cut: each cut starts a new line at that UTF-16 offset of the
// piece, never inside a surrogate pair.
struct LineSplit
{
    std::vector<qsizetype> cuts; // ascending, all > 0 and < the piece's length
    // Without `final`, where the unfinished last line of the piece starts (0 or the last cut):
    // the caller hands that part over again with what follows.
    qsizetype resume = 0;
};

// Splits `text`, a piece of one long line that starts `lineOffset` units into the line. Without
// `final` more of the line follows, so the last few units are left for the next piece.
// Paragraphs end at the first sentence end after SmartMinParagraph units, or are cut at
// SmartMaxParagraph units when there is none. A chapter heading inside the line ("第十二回…")
// becomes a line of its own when it stands at the line's start, within its first few characters,
// right after a sentence end, or anywhere when "话说" (or the like) follows its title; it runs to
// the first punctuation mark or "话说", at most 31 units. A title that runs on into a clause
// (its mark closes a clause or sentence) ends where the titles of this piece that "话说" closes
// usually end; without such titles the mark stays on the heading's line.
constexpr qsizetype SmartMinParagraph = 150;
constexpr qsizetype SmartMaxParagraph = 4096;
LineSplit SplitLongLine(QStringView text, qsizetype lineOffset, bool final);

// The headings smart mode keeps of those the heading rule found (line numbers ascending, texts
// raw): a run of at least five headings at most two lines apart whose chapters come again after
// it is a contents page and goes; so does a line that is a sentence rather than a title.
void DropFalseHeadings(std::vector<qint64> &lines, QStringList &texts);

// The chapter number of "第十二回…", "第012章…" or "第12节…", or -1.
int HeadingNumber(QStringView heading);
