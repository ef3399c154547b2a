#pragma once

#include "TestSupport.h"
#include "reader/ReaderPane.h"
#include "reader/ReadingView.h"

#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <memory>

namespace ReaderGui {

using namespace Qt::StringLiterals;

// Runs a script in the page's main world and waits for its value (invalid on timeout).
inline QVariant js(QWebEngineView *view, const QString &script, int timeoutMs = 10000)
{
    auto state = std::make_shared<std::pair<bool, QVariant>>();
    view->page()->runJavaScript(script, [state](const QVariant &v) { *state = {true, v}; });
    (void)QTest::qWaitFor([&] { return state->first; }, timeoutMs);
    return state->second;
}

inline QString pageHtml(ReaderPane *reader, const QString &id = u"TXT"_s)
{
    return js(reader->readingView()->webView(), u"document.getElementById('%1').innerHTML"_s.arg(id)).toString();
}

inline QWidget *pageInput(ReaderPane *reader)
{
    QWebEngineView *view = reader->readingView()->webView();
    return view->focusProxy() ? view->focusProxy() : view;
}

// A book as the user keeps it: GB18030, line feeds only.
inline bool writeBook(const QString &path, const QStringList &lines)
{
    return TestSupport::writeFile(path, TestSupport::gb18030(lines.join(u'\n')));
}

// The page text for lines first..last of a book: each line followed by "<br>".
inline QString linesHtml(const QStringList &lines, qsizetype first, qsizetype last)
{
    QString html;
    for (qsizetype i = first; i <= last && i < lines.size(); ++i)
        html += lines.at(i) + u"<br>"_s;
    return html;
}

// Waits until the chapter at `position` has been handed to the page and the page shows it.
inline bool waitShown(ReaderPane *reader, int position, const QString &expectedHtml, int timeoutMs = 15000)
{
    if (!QTest::qWaitFor([&] { return !reader->isOpening() && reader->shownChapter() == position; }, timeoutMs))
        return false;
    return QTest::qWaitFor([&] { return pageHtml(reader) == expectedHtml; }, timeoutMs);
}

// How far down the chapter the page is scrolled: 0 top, 1 end.
inline double scrolledFraction(ReaderPane *reader)
{
    return js(reader->readingView()->webView(),
              u"(function (b) { return b.scrollTop / Math.max(1, b.scrollHeight - b.clientHeight); })"
              u"(document.getElementById('Content_Txt'))"_s)
        .toDouble();
}

inline void scrollPageTo(ReaderPane *reader, double fraction)
{
    js(reader->readingView()->webView(),
       u"(function (b) { b.scrollTop = %1 * (b.scrollHeight - b.clientHeight); })"
       u"(document.getElementById('Content_Txt'))"_s.arg(fraction));
}

} // namespace ReaderGui
