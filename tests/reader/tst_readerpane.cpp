#include "ReaderPaneFixture.h"
#include "account/AccountSync.h"
#include "account/AccountWindows.h"
#include "reader/NotTextBar.h"

// The reading pane driven through the main window that owns it, and whole journeys through the
// program: from the shelf to the last page, reading aloud, a bookmark across a restart, and the
// corpus. One web view start-up for the whole class.
class TestReaderPane : public ReaderPaneFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpLibraryAndWindow(); }
    void init() { m_prompter.reset(); }

    void bookMarkup_isInsertedButNeverRunsOrReachesTheBridge()
    {
        const QString path = m_dir.filePath(u"markup.txt"_s);
        const QStringList lines{u"书名"_s, u"<b id=\"bold\">粗体</b>"_s,
                                u"<img src=\"nothing.png\" onerror=\"document.title='ran'\">"_s};
        QVERIFY(writeBook(path, lines));
        QVERIFY(opens(path, m_ctx.serverInfo.reader_3 + linesHtml(lines, 1, 2) + m_ctx.serverInfo.reader_4));
        QWebEngineView *view = m_reader->readingView()->webView();
        QCOMPARE(js(view, u"document.querySelector('#TXT #bold').textContent"_s).toString(), u"粗体"_s);
        QTest::qWait(300);
        QVERIFY(js(view, u"document.title"_s).toString() != u"ran"_s);
        QCOMPARE(js(view, u"typeof qt"_s).toString(), u"undefined"_s);
    }

    // The settings row's defaults are handed over while the page is still loading; the style
    // frame takes effect at once, is kept in the library, and at its defaults leaves the page
    // exactly as it was; a style set survives a reload of the page.
    void pageStyle_reachesThePageAtOnceAndAfterAReload()
    {
        QCOMPARE(computedStyle(u"backgroundColor"_s), u"rgb(199, 237, 204)"_s);
        QCOMPARE(computedStyle(u"color"_s), u"rgb(0, 0, 0)"_s);
        QCOMPARE(computedStyle(u"fontSize"_s), u"14px"_s);
        openMain(3);
        QWebEngineView *view = m_reader->readingView()->webView();
        const auto page = [&](const QString &expression) { return js(view, expression).toString(); };
        const QString width = u"getComputedStyle(document.getElementById('Content')).maxWidth"_s;
        const QString height = u"String(document.getElementById('TXT').getBoundingClientRect().height)"_s;
        const QString plainWidth = page(width), plainHeight = page(height);

        ReadingLookFrame *frame = m_window->settings()->readingLookFrame();
        frame->keepIndentBox()->setChecked(true);
        frame->paragraphSpacingBox()->setValue(1.0);
        frame->pageWidthBox()->setValue(30);
        QTRY_COMPARE(page(width), u"420px"_s); // 30 characters of 14 px
        QCOMPARE(page(u"getComputedStyle(document.getElementById('TXT')).whiteSpace"_s), u"pre-wrap"_s);
        QVERIFY(page(height).toDouble() > plainHeight.toDouble());
        QCOMPARE(ReadingLook::fromText(m_db.option(LibraryDb::readingLookOption())).pageWidth, 30);

        frame->keepIndentBox()->setChecked(false);
        frame->paragraphSpacingBox()->setValue(0);
        frame->pageWidthBox()->setValue(46);
        QTRY_COMPARE(page(height), plainHeight);
        QCOMPARE(page(width), plainWidth);

        m_reader->setPageStyle({u"#102030"_s, u"#F0E0D0"_s, u"22px"_s});
        QTRY_COMPARE(computedStyle(u"backgroundColor"_s), u"rgb(16, 32, 48)"_s);
        QCOMPARE(computedStyle(u"color"_s), u"rgb(240, 224, 208)"_s);
        QCOMPARE(computedStyle(u"fontSize"_s), u"22px"_s);
        QSignalSpy ready(m_reader->readingView(), &ReadingView::pageReady);
        view->page()->triggerAction(QWebEnginePage::Reload);
        QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 1, 20000);
        QTRY_COMPARE(computedStyle(u"fontSize"_s), u"22px"_s);
        QTRY_COMPARE(pageHtml(m_reader), expected(m_book, 3));
        m_reader->setPageStyle({u"#C7EDCC"_s, u"#000000"_s, u"14px"_s});
    }

    // The reading highlight (the page's selection) is opaque and far from the page's colour on
    // every preset (sum of the channel differences).
    void readingHighlight_standsOutOnEveryPreset_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("back");
        for (const ReadingPreset &preset : ReadingPresets())
            QTest::newRow(qPrintable(preset.name)) << preset.txtColor << preset.backColor;
    }
    void readingHighlight_standsOutOnEveryPreset()
    {
        QFETCH(QString, text);
        QFETCH(QString, back);
        m_reader->setPageStyle(ReadingPageStyleFor(text, back, u"中号"_s));
        const QString distance = u"(function (p, s) { return s.length !== 3 ? -1 : Math.abs(p[0] - s[0]) +"
                                 " Math.abs(p[1] - s[1]) + Math.abs(p[2] - s[2]); })("
                                 "getComputedStyle(Content_Txt).backgroundColor.match(/\\d+/g),"
                                 " getComputedStyle(TXT, '::selection').backgroundColor.match(/\\d+/g))"_s;
        QTRY_VERIFY(js(m_reader->readingView()->webView(), distance).toInt() >= 200);
        m_reader->setPageStyle(ReadingPageStyleFor(u"000000"_s, u"C7EDCC"_s, u"中号"_s));
    }

    // Ctrl+wheel (whole notches, however the wheel delivers them) and the keys change the text
    // size of the reading style, kept in the library; Ctrl+0 goes back to the saved "文字大小".
    // The web view's own zoom never moves.
    void zoom_changesTheStylesTextSize_data()
    {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QList<int>>("wheel");
        QTest::addColumn<int>("px");
        QTest::newRow("Ctrl+wheel, two notches up") << QKeySequence() << QList<int>{120, 120} << 18;
        QTest::newRow("Ctrl+wheel, half notches down") << QKeySequence() << QList<int>{-60, -30, -30, -60} << 12;
        QTest::newRow("Ctrl++, Ctrl+=") << QKeySequence(Qt::CTRL | Qt::Key_Plus, Qt::CTRL | Qt::Key_Equal)
                                        << QList<int>{} << 18;
        QTest::newRow("Ctrl+-") << QKeySequence(Qt::CTRL | Qt::Key_Minus) << QList<int>{} << 12;
    }
    void zoom_changesTheStylesTextSize()
    {
        QFETCH(QKeySequence, keys);
        QFETCH(QList<int>, wheel);
        QFETCH(int, px);
        openMain(2);
        QWidget *input = pageInput(m_reader);
        QTest::keySequence(input, keys);
        for (int delta : wheel) {
            QWheelEvent event({10, 10}, input->mapToGlobal(QPointF(10, 10)), {}, {0, delta}, {}, Qt::ControlModifier,
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(input, &event);
        }
        QTRY_COMPARE(computedStyle(u"fontSize"_s), u"%1px"_s.arg(px));
        QCOMPARE(ReadingLook::fromText(m_db.option(LibraryDb::readingLookOption())).fontSize, px);
        QCOMPARE(m_reader->readingView()->webView()->zoomFactor(), 1.0);

        QTest::keyClick(input, Qt::Key_0, Qt::ControlModifier);
        QTRY_COMPARE(computedStyle(u"fontSize"_s), u"14px"_s);
        QCOMPARE(ReadingLook::fromText(m_db.option(LibraryDb::readingLookOption())).fontSize, 0);
    }

    void openFile_data()
    {
        QTest::addColumn<bool>("chosen");
        QTest::addColumn<bool>("onShelf");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("program"); // a program renamed ".txt": asked and read, with a bar above the page
        QTest::newRow("cancelled") << false << false << false << false;
        QTest::newRow("new book, No: read without a row") << true << false << false << false;
        QTest::newRow("new book, Yes: the editor adds it") << true << false << true << false;
        QTest::newRow("shelf book: lastread, no question") << true << true << false << false;
        QTest::newRow("a program") << true << false << true << true;
    }
    void openFile()
    {
        QFETCH(bool, chosen);
        QFETCH(bool, onShelf);
        QFETCH(bool, answer);
        QFETCH(bool, program);
        openMain(3);
        const Book book = makeBook(u"open-%1%2%3.txt"_s.arg(onShelf).arg(answer).arg(program),
                                   {u"第一章 开始"_s, u"第二章 结束"_s}, 2);
        if (program) {
            QVERIFY(TestSupport::writeFile(book.path, "\x7F" "ELF\x02\x01\x01\0\0"_ba));
            m_prompter.fileNames.enqueue(book.path);
            m_reader->toolAction(ReaderPane::OpenTool)->trigger();
            QCOMPARE(m_prompter.shown.size(), 1);
            QCOMPARE(m_prompter.last().title, u"添加电子书"_s);
            ResumeBar *bar = m_reader->notTextBar()->bar();
            QTRY_VERIFY(bar->isVisible());
            QVERIFY(bar->text().startsWith(u"这个文件看起来不是文本，而是一个程序"_s));
            QVERIFY(!bar->resumeButton()->isVisible());
            QCOMPARE(m_window->currentBookPath(), book.path);
            // The next book, a text, takes the bar away.
            QVERIFY(opens(m_book));
            QVERIFY(!bar->isVisible());
            return;
        }
        const QDateTime old = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6));
        const QDateTime now = QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9));
        m_db.setClock([old] { return old; });
        if (onShelf)
            QVERIFY(m_db.insertBook(u"其他分类"_s, u"书"_s, QString(), book.path) > 0);
        m_db.setClock([now] { return now; });
        if (chosen)
            m_prompter.fileNames.enqueue(book.path);
        m_prompter.answers.enqueue(answer);

        m_reader->toolAction(ReaderPane::OpenTool)->trigger();
        QCOMPARE(m_prompter.fileDialogs, QStringList{u"打开电子书-Folioway|文本文件(*.txt)|*.txt"_s});
        const bool asked = chosen && !onShelf;
        QCOMPARE(m_prompter.shown.size(), asked ? 1 : 0);
        if (asked) {
            QCOMPARE(m_prompter.last().title, u"添加电子书"_s);
            QCOMPARE(m_prompter.lastText(),
                     u"提示：\r\n\r\n"_s + book.path + u"\r\n\r\n还没有添加到书架，是否添加到你的书架？"_s);
        }
        QCOMPARE(m_window->currentBookPath(), chosen ? book.path : m_book.path);
        const bool editor = asked && answer;
        QCOMPARE(bool(m_window->bookEditor()), editor);
        if (editor) {
            QCOMPARE(m_window->bookEditor()->mode(), u"opennew"_s);
            QCOMPARE(m_window->bookEditor()->pathBox()->text(), book.path);
            QTest::mouseClick(m_window->bookEditor()->saveButton(), Qt::LeftButton);
        }
        if (chosen)
            QVERIFY(waitShown(m_reader, 1, expected(book, 1)));
        else
            QCOMPARE(pageHtml(m_reader), expected(m_book, 3));
        const std::optional<BookRecord> row = m_db.findByPath(book.path);
        QCOMPARE(row.has_value(), onShelf || editor);
        if (onShelf)
            QCOMPARE(row->lastread, now);
        m_db.setClock([] { return QDateTime::currentDateTime(); });
    }

    // Reading aloud with real synthesis played silently: with the reading paused on a word, the
    // page's selection is that word of the spoken text, with the book's markup, collapsed spaces
    // and the server's snippet in between. Button states are the controller's (tst_voicecontroller).
    void readAloud_highlightIsTheSpokenWord()
    {
        qputenv("FOLIOWAY_SILENT_AUDIO", "1");
        const std::unique_ptr<SpeechEngine> engine = SpeechEngine::create();
        if (engine->voices().isEmpty())
            QSKIP("no speech voices on this machine");
        m_reader->setSpeechEngine(engine.get());
        QTest::mouseClick(m_reader->toolButton(ReaderPane::VoicePanelTool), Qt::LeftButton);
        QWidget *panel = m_reader->voicePanel();
        QVERIFY(panel->isVisible());
        const QRect page(m_reader->readingView()->webView()->mapTo(m_window.get(), QPoint()),
                         m_reader->readingView()->webView()->size());
        QVERIFY(!QRect(panel->mapTo(m_window.get(), QPoint()), panel->size()).intersects(page));
        QList<QPair<int, int>> words; // (position, length) in the spoken text
        connect(engine.get(), &SpeechEngine::word, this, [&words](int, int at, int length) { words.append({at, length}); });
        QToolButton *read = m_reader->toolButton(ReaderPane::ReadAloudTool);

        const QString path = m_dir.filePath(u"poem.txt"_s);
        const QStringList lines{u"书名"_s, u"第一章 诗"_s, u"   白日<b>依山</b>尽，  黄河入海流。"_s,
                                u"<p>欲穷千里目，</p>更上一层楼。"_s, u"第二章 完"_s, u"好。"_s};
        QVERIFY(writeBook(path, lines));
        m_reader->readingView()->setSnippets({}, m_ctx.serverInfo.reader_3, {});
        m_window->openBook(path);
        QTRY_VERIFY_WITH_TIMEOUT(!m_reader->isOpening() && m_reader->shownChapter() == 1, 15000);
        m_reader->selectChapter(2);
        m_reader->ListView2_dblClick();
        QVERIFY(waitShown(m_reader, 2, m_ctx.serverInfo.reader_3 + linesHtml(lines, 1, 3)));
        QWebEngineView *view = m_reader->readingView()->webView();
        const QString pageText = js(view, u"document.getElementById('Content').innerText"_s).toString().remove(u'\r');
        QVERIFY2(pageText.startsWith(u"　　\n"_s), qPrintable(pageText)); // the indent, then the snippet
        const QString spoken = pageText.mid(VoiceController::LeadLength);
        const int fromAt = int(spoken.indexOf(u"千里"_s));
        QVERIFY(fromAt > 0);

        QTest::mouseClick(read, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!words.isEmpty() && words.last().first >= fromAt, 30000);
        QTest::mouseClick(read, Qt::LeftButton); // pause
        // The page shows the last word heard, once the page script has had its turn.
        const auto selectionIsLastWord = [&] {
            const auto [at, length] = words.last();
            return length > 0 && js(view, u"getSelection().toString()"_s).toString() == spoken.mid(at, length);
        };
        QTRY_VERIFY_WITH_TIMEOUT(selectionIsLastWord(), 10000);

        // The menu item has nothing to do with the reading.
        const QString paused = read->toolTip();
        m_reader->readingMenuItem(u"Menue_VoiceRead"_s)->trigger();
        QCOMPARE(read->toolTip(), paused);

        // Read to the end of the chapter, the reading goes on with the next one once ticked.
        m_reader->voicePanel()->findChild<QCheckBox *>(u"voiceReadOn"_s)->setChecked(true);
        QTest::mouseClick(read, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(m_reader->shownChapter() == 3 && read->toolTip() == u"暂停朗读"_s, 30000);
        QTest::mouseClick(m_reader->toolButton(ReaderPane::StopReadingTool), Qt::LeftButton);
        QTRY_VERIFY(!engine->isSpeaking());
        m_reader->readingView()->setSnippets(m_ctx.serverInfo.reader_2, m_ctx.serverInfo.reader_3,
                                             m_ctx.serverInfo.reader_4);
        m_reader->setSpeechEngine(nullptr);
    }

    // "从这里开始朗读" after a right-click reads from the selection, or else from the character
    // clicked (on its left half, so the caret goes before it).
    void readFromHere_data()
    {
        QTest::addColumn<bool>("selected");
        QTest::newRow("selected text") << true;
        QTest::newRow("clicked character") << false;
    }
    void readFromHere()
    {
        QFETCH(bool, selected);
        openMain(2);
        HeardEngine engine;
        m_reader->setSpeechEngine(&engine);
        m_reader->voicePanel()->findChild<QCheckBox *>(u"voiceReadOn"_s)->setChecked(false); // one chapter
        const QString line = m_book.lines.at(m_book.starts.at(1) + 5);
        const int at = int(line.indexOf(u"慢慢"_s));
        const QList<QVariant> box =
            js(m_reader->readingView()->webView(),
               u"(function (line, at, select) { var n, w = document.createTreeWalker(TXT, 4);"
               " while ((n = w.nextNode()) && n.data !== line) {}"
               " var r = document.createRange(); r.setStart(n, at); r.setEnd(n, at + 2);"
               " getSelection().removeAllRanges();"
               " if (select) getSelection().addRange(r); var b = r.getBoundingClientRect();"
               " return [b.left + b.width / 8, b.top + b.height / 2]; })('%1', %2, %3)"_s.arg(line)
                   .arg(at)
                   .arg(selected))
                .toList();
        QTest::mouseClick(pageInput(m_reader), Qt::RightButton, {}, QPoint(box.at(0).toInt(), box.at(1).toInt()));
        QTRY_VERIFY(m_reader->readingMenu()->isVisible());
        m_reader->readingMenuItem(u"Menue_ReadFromHere"_s)->trigger();
        m_reader->readingMenu()->hide();
        QTRY_COMPARE(engine.heard.size(), 1);
        QVERIFY2(engine.heard.last().startsWith(line.mid(at) + u'\n' + m_book.lines.at(m_book.starts.at(1) + 6)),
                 qPrintable(engine.heard.last().left(40)));
        m_reader->setSpeechEngine(nullptr);
    }

    void reopenSetting_opensTheLastBookWhereItWasLeft_data()
    {
        QTest::addColumn<bool>("on");
        QTest::newRow("off: the reader stays empty") << false;
        QTest::newRow("on: the last book at its place") << true;
    }
    void reopenSetting_opensTheLastBookWhereItWasLeft()
    {
        QFETCH(bool, on);
        const Book book = makeBook(u"reopen.txt"_s, headings(6), 120);
        ReadingPosition last = PositionInBook(book.path, ChaptersFromLines(book.lines), 6, 0.75, 0.8);
        last.saved = QDateTime::currentDateTime().addDays(1);
        QVERIFY(m_db.saveReadingPosition(last));
        SettingsPane *settings = m_window->settings();
        QVERIFY(!settings->reopenLastBookBox()->isChecked());
        settings->reopenLastBookBox()->setChecked(on); // kept at once, without "保存设置"

        startWindow();
        QCOMPARE(m_window->settings()->reopenLastBookBox()->isChecked(), on);
        QCOMPARE(m_window->currentTab(), on ? 2 : 1); // no click on "阅读窗口" needed
        m_window->SelectToolBar(2);
        if (on) {
            QVERIFY(waitShown(m_reader, 6, expected(book, 6)));
            QTRY_VERIFY(qAbs(scrolledFraction(m_reader) - 0.75) < 0.01);
            QVERIFY(m_reader->resumeBar()->isHidden());
        } else {
            QTest::qWait(200);
            QCOMPARE(m_window->currentBookPath(), QString());
        }
        m_window->settings()->reopenLastBookBox()->setChecked(false);
    }

    // A later place from another computer is offered when the book opens, not gone to; the
    // button goes there.
    void placeFromAnotherComputer_isOfferedByTheResumeBar()
    {
        const Book book = makeBook(u"elsewhere.txt"_s, headings(6), 20);
        LibrarySync &sync = m_db.sync();
        QVERIFY(sync.enable() && sync.storeFingerprints(RefreshFingerprints({FingerprintEntry{book.path, -1, -1, {}}})));
        const QList<ChapterEntry> chapters = ChaptersFromLines(book.lines);
        ReadingPosition there = PositionInBook(book.path, chapters, 5, 0.5, 0.5);
        QVERIFY(sync.apply({SyncItem{u"position"_s, sync.fingerprintOf(book.path), QDateTime::currentMSecsSinceEpoch(),
                                     false, LibrarySync::positionPayload(there), 0, {}}}));
        QVERIFY(opens(book));
        QTRY_VERIFY(m_reader->resumeBar()->isVisible());
        QCOMPARE(m_reader->resumeBar()->text(),
                 u"在另一台电脑上读到：%1（%2%）"_s.arg(chapters.at(4).title).arg(there.progressPercent()));
        QTest::mouseClick(m_reader->resumeBar()->resumeButton(), Qt::LeftButton);
        QVERIFY(waitShown(m_reader, 5, expected(book, 5)));

        // A later place arriving by a sync round while the book is read is offered the same way.
        there = PositionInBook(book.path, chapters, 6, 0.5, 0.5);
        QVERIFY(sync.apply({SyncItem{u"position"_s, sync.fingerprintOf(book.path),
                                     QDateTime::currentMSecsSinceEpoch() + 60000, false,
                                     LibrarySync::positionPayload(there), 0, {}}}));
        SyncEngine *engine = m_window->accounts()->sync()->engine();
        Q_EMIT engine->libraryChanged();
        QVERIFY(m_reader->resumeBar()->text().contains(chapters.at(5).title));
        QVERIFY(m_reader->resumeBar()->isVisible() && m_reader->shownChapter() == 5);
        // Closed, it stays closed through the next round that changes something else.
        m_reader->resumeBar()->hide();
        Q_EMIT engine->libraryChanged();
        QVERIFY(m_reader->resumeBar()->isHidden());

        // A place read in the phone's browser names the device it was read on.
        there = PositionInBook(book.path, chapters, 3, 0.5, 0.5);
        QString fromPhone = LibrarySync::positionPayload(there);
        fromPhone.insert(fromPhone.size() - 1, u",\"device\":\"手机浏览器\""_s);
        QVERIFY(sync.apply({SyncItem{u"position"_s, sync.fingerprintOf(book.path),
                                     QDateTime::currentMSecsSinceEpoch() + 120000, false, fromPhone, 0, {}}}));
        Q_EMIT engine->libraryChanged();
        QCOMPARE(m_reader->resumeBar()->text(), u"在另一台设备上读到：%1（%2%），来自手机浏览器"_s
                                                     .arg(chapters.at(2).title)
                                                     .arg(there.progressPercent()));
        m_reader->resumeBar()->hide();

        // A later place of this computer's own is offered with the same figure: the book's share.
        const Book other = makeBook(u"elsewhere-2.txt"_s, headings(2), 5);
        QVERIFY(opens(other));
        ReadingPosition here = PositionInBook(book.path, chapters, 4, 0.25, 0.25);
        here.saved = QDateTime::currentDateTime().addDays(1);
        QVERIFY(m_db.saveReadingPosition(here));
        m_window->openBook(book.path);
        QTRY_VERIFY(m_reader->resumeBar()->isVisible());
        QCOMPARE(m_reader->resumeBar()->text(),
                 u"上次读到：%1（%2%）"_s.arg(chapters.at(3).title).arg(here.progressPercent()));
        QVERIFY(here.progressPercent() != 25);
    }

    // Ctrl+F finds in the chapter with the view's own search; switched to the whole book, the
    // list is filled (which matches there are is tst_booksearch's) and a click leads to the
    // chapter with that very match selected.
    void search_inTheChapterThenTheWholeBook()
    {
        openMain(2);
        ReadingView *view = m_reader->readingView();
        BookSearchPanel *search = m_reader->bookSearch();
        QTest::keyClick(pageInput(m_reader), Qt::Key_F, Qt::ControlModifier);
        QTRY_VERIFY(view->findBarVisible());
        view->findBox()->insert(u"慢慢走着"_s); // as typed: keyClicks cannot type Chinese
        QTRY_COMPARE(view->findStatus()->text(), u"第 1/40 处"_s);
        QTest::keyClick(view->findBox(), Qt::Key_Return);
        QTRY_COMPARE(view->findStatus()->text(), u"第 2/40 处"_s);
        QTest::mouseClick(search->wholeBookSwitch(), Qt::LeftButton);
        QVERIFY(search->isVisible());
        QTRY_COMPARE(search->countLabel()->text(), u"全书共找到 320 处“慢慢走着”"_s);
        QCOMPARE(search->model()->rowCount(), 320);
        // End reaches the last match at once; only the rows shown were read for their words.
        search->results()->setFocus();
        QTest::keyClick(search->results(), Qt::Key_End);
        QCOMPARE(search->results()->currentIndex().row(), 319);
        QVERIFY2(search->model()->describedRows() < 40, qPrintable(QString::number(search->model()->describedRows())));

        // Entry 7 (the first has no match), its third line; the find bar counts from that match.
        const QModelIndex item = search->model()->index(5 * 40 + 2, 0);
        QCOMPARE(item.data().toString(), m_book.lines.at(m_book.starts.at(6)));
        search->results()->scrollTo(item);
        QTest::mouseClick(search->results()->viewport(), Qt::LeftButton, {},
                          search->results()->visualRect(item).center());
        QVERIFY(waitShown(m_reader, 7, expected(m_book, 7)));
        QWebEngineView *web = view->webView();
        QTRY_COMPARE(js(web, u"getSelection().toString()"_s).toString(), u"慢慢走着"_s);
        QCOMPARE(js(web, u"getSelection().anchorNode.data"_s).toString(), m_book.lines.at(m_book.starts.at(6) + 3));
        QTRY_COMPARE(view->findStatus()->text(), u"第 3/40 处"_s);
        QTest::keyClick(view->findBox(), Qt::Key_Escape);
        QVERIFY(!search->wholeBookSwitch()->isChecked());
        QVERIFY(!view->findBarVisible());
        view->findBox()->clear();
    }

    // The page scrolls itself inside a chapter; at its ends the keys go on across chapters, and
    // the arrows go on from anywhere (Right with the selection: singleClickSelectsOnly) until the
    // first or the last chapter, where only they say so. A key that does nothing is followed by
    // an arrow, whose chapter shows that the page's keys before it have been handled.
    void pageKeys_goOnAcrossChapterEnds_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<double>("from");
        QTest::addColumn<int>("position");
        QTest::addColumn<double>("to");
        QTest::addColumn<QString>("message");
        QTest::newRow("PageDown at the end: next chapter, its top")
            << 3 << QKeySequence(Qt::Key_PageDown) << 1.0 << 4 << 0.0 << QString();
        QTest::newRow("PageUp at the top: previous chapter, its end")
            << 3 << QKeySequence(Qt::Key_PageUp) << 0.0 << 2 << 1.0 << QString();
        QTest::newRow("Left from the top") << 3 << QKeySequence(Qt::Key_Left) << 0.0 << 2 << 0.0 << QString();
        QTest::newRow("PageDown at the end of the last does nothing")
            << 9 << QKeySequence(Qt::Key_PageDown, Qt::Key_Left) << 1.0 << 8 << 0.0 << QString();
        QTest::newRow("Left in the first")
            << 1 << QKeySequence(Qt::Key_Left) << 0.0 << 1 << 0.0 << u"当前是第一章，前面没有章节！"_s;
        QTest::newRow("Right in the last")
            << 9 << QKeySequence(Qt::Key_Right) << 0.0 << 9 << 0.0 << u"已经是最后一章了！"_s;
    }
    void pageKeys_goOnAcrossChapterEnds()
    {
        QFETCH(QKeySequence, keys);
        QFETCH(double, from);
        QFETCH(int, position);
        QFETCH(QString, message);
        QFETCH(int, start);
        openMain(start);
        scrollPageTo(m_reader, from);
        QTRY_COMPARE(scrolledFraction(m_reader), from);
        QTest::keySequence(pageInput(m_reader), keys);
        if (!message.isEmpty()) {
            QTRY_COMPARE(m_prompter.lastText(), message);
            QCOMPARE(m_prompter.last().icon, Prompter::Icon::Information);
            QCOMPARE(m_prompter.last().title, Prompter::defaultTitle());
        }
        QVERIFY(waitShown(m_reader, position, expected(m_book, position)));
        QFETCH(double, to);
        QTRY_VERIFY(qAbs(scrolledFraction(m_reader) - to) < 0.01);
        QCOMPARE(m_prompter.shown.size(), message.isEmpty() ? 0 : 1);
    }

    void keys_bookmarkChapterBoxAndFullScreen()
    {
        openMain(2);
        ReadingStatus *status = m_reader->readingStatus();
        QTest::keyClick(pageInput(m_reader), Qt::Key_D, Qt::ControlModifier);
        QTRY_COMPARE(status->noteText(), u"已添加书签：第1章 标题1"_s);
        QVERIFY(m_prompter.shown.isEmpty()); // the toolbar's and the menu's keep their box

        QTest::keyClick(pageInput(m_reader), Qt::Key_G, Qt::ControlModifier);
        ChapterJumpBox *box = m_reader->chapterJump();
        QTRY_VERIFY(box->isVisible());
        box->filterBox()->insert(u"标题7"_s);
        int shown = 0;
        for (int i = 0; i < box->list()->count(); ++i)
            shown += !box->list()->item(i)->isHidden();
        QCOMPARE(shown, 1);
        QTest::keyClick(box->filterBox(), Qt::Key_Return);
        QVERIFY(waitShown(m_reader, 8, expected(m_book, 8)));
        QCOMPARE(pageHtml(m_reader, u"AdsDiv"_s), m_ctx.serverInfo.reader_2);
        QVERIFY(!box->isVisible());

        QTest::keyClick(pageInput(m_reader), Qt::Key_F11);
        QTRY_VERIFY(m_window->isFullScreen());
        QVERIFY(!m_window->toolButton(1)->isVisible());
        QCOMPARE(m_reader->readingView()->geometry(), m_reader->rect()); // no toolbar, no list
        // The status line only while the pointer is near the bottom of the page.
        QVERIFY(!status->isVisible());
        ReadingView *view = m_reader->readingView();
        for (const bool near : {true, false}) {
            const QPoint at = pageInput(m_reader)->mapFrom(view, QPoint(100, view->height() - (near ? 10 : 200)));
            QMouseEvent move(QEvent::MouseMove, at, pageInput(m_reader)->mapToGlobal(at), Qt::NoButton, {}, {});
            QApplication::sendEvent(pageInput(m_reader), &move);
            QCOMPARE(status->isVisible(), near);
        }
        QTest::keyClick(pageInput(m_reader), Qt::Key_Escape);
        QTRY_VERIFY(!m_window->isFullScreen());
        QVERIFY(status->isVisible());
        QVERIFY(m_reader->toolbar()->isVisible());
        QVERIFY(m_reader->chapterList()->isVisible());
        QVERIFY(m_window->toolButton(1)->isVisible());
    }

    // The line under the page says where the reader is, and the time left in the chapter only
    // once two minutes of steady reading in this book have been seen: pauses and skimming do not
    // count. Each row reads a book of its own, scrolled to each fraction after so many seconds.
    void statusLine_placeAndTimeLeft_data()
    {
        using Steps = ReadingSteps;
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<int>("fewest"); // minutes left; 0 when there is no estimate
        QTest::addColumn<int>("most");
        QTest::newRow("one minute is too little") << Steps{{0, 0.1}, {60, 0.2}} << 0 << 0;
        // A tenth of the chapter a minute, seven tenths left: about seven minutes (how much one
        // window holds makes it a little more).
        QTest::newRow("two minutes of reading") << Steps{{0, 0.1}, {60, 0.2}, {60, 0.3}} << 7 << 9;
        QTest::newRow("a pause is not reading") << Steps{{0, 0.1}, {600, 0.2}, {60, 0.3}} << 0 << 0;
        QTest::newRow("skimming is not reading") << Steps{{0, 0.1}, {10, 0.5}, {115, 0.55}} << 0 << 0;
    }
    void statusLine_placeAndTimeLeft()
    {
        QFETCH(ReadingSteps, steps);
        QFETCH(int, fewest);
        QFETCH(int, most);
        const Book book = makeBook(QTest::currentDataTag() + u".txt"_s, headings(4), 200);
        ReadingStatus *status = m_reader->readingStatus();
        m_now = 0;
        status->setClock([this] { return m_now; });
        QVERIFY(opens(book));
        m_reader->showChapterAt(4, 0);
        QVERIFY(waitShown(m_reader, 4, expected(book, 4)));
        // 405 of the book's 807 lines lie before the chapter's top, the window's first lines after it.
        QTRY_VERIFY2(status->placeText().startsWith(u"第3章 标题3　　4 / 5　　全书 5"_s), qPrintable(status->placeText()));
        QSignalSpy scrolled(m_reader->readingView(), &ReadingView::pageScrolled);
        for (const auto &[seconds, fraction] : steps) {
            m_now += seconds * 1000;
            scrollPageTo(m_reader, fraction);
            QTRY_VERIFY(!scrolled.isEmpty() && qAbs(scrolled.last().at(0).toDouble() - fraction) < 0.01);
        }
        const QRegularExpressionMatch left =
            QRegularExpression(u"^本章约剩 (\\d+) 分钟$"_s).match(status->noteText());
        const int minutes = left.hasMatch() ? left.captured(1).toInt() : 0;
        QVERIFY2(fewest == 0 ? status->noteText().isEmpty() : minutes >= fewest && minutes <= most,
                 qPrintable(status->noteText()));
    }

    // A short last chapter, on screen whole, is the end of the book: 100 % in the status line,
    // in the kept place the shelf shows and in the resume bar.
    void shortLastChapter_isAHundredPercent()
    {
        Book book = makeBook(u"short-end.txt"_s, headings(3), 60);
        book.starts.append(book.lines.size());
        book.lines << u"第4章 尾声"_s << u"完。"_s;
        QVERIFY(writeBook(book.path, book.lines));
        addToShelf(book, u"短尾"_s);
        QVERIFY(opens(book));
        m_reader->lastChapter();
        QVERIFY(waitShown(m_reader, 5, expected(book, 5)));
        QTRY_COMPARE(m_reader->readingStatus()->placeText(), u"第4章 尾声　　5 / 5　　全书 100%"_s);
        m_reader->flushPosition();
        QCOMPARE(m_db.readingPosition(book.path)->progressPercent(), 100);
        QVERIFY(opens(m_book));
        QVERIFY(opens(book));
        QTRY_COMPARE(m_reader->resumeBar()->text(), u"上次读到：第4章 尾声（100%）"_s);
        QVERIFY(m_reader->resumeBar()->isVisible());
    }

    void corpus_everyBookOpensAndReachesItsLastChapter()
    {
        const QString corpus = TestSupport::corpusDir();
        if (corpus.isEmpty())
            QSKIP("no corpus beside the checkout");
        QDirIterator it(corpus, {u"*.txt"_s}, QDir::Files, QDirIterator::Subdirectories);
        int books = 0;
        while (it.hasNext() && books < 5) {
            const QString path = it.next();
            const ChapterList expected = GetChapter(path);
            QVERIFY(expected.ok());
            QSignalSpy shown(m_reader, &ReaderPane::chapterShown);
            m_window->openBook(path);
            QVERIFY(QTest::qWaitFor([&] { return !shown.isEmpty(); }, 60000));
            QCOMPARE(m_reader->chaptersPath(), path);
            QCOMPARE(m_reader->chapters(), expected.entries);
            m_reader->lastChapter();
            QVERIFY(QTest::qWaitFor([&] { return shown.size() == 2; }, 30000));
            QCOMPARE(shown.last().first().toInt(), int(expected.entries.size()));
            ++books;
        }
        QVERIFY(m_prompter.shown.isEmpty());
    }

    // Which entry a title leads to is decided in tst_chapters; here a title with quotes and
    // markup makes the whole round: set from the reading menu or the bookmark button, shown on
    // the shelf, followed from the reading menu and, after a restart, from the book menu.
    void bookmark_withQuotesAndMarkup_survivesARestart()
    {
        QStringList titles = headings(8);
        titles[3] = u"第4章 It's <i>\"ok\"</i>"_s;
        const Book book = makeBook(u"restart.txt"_s, titles, 60);
        const qint64 id = addToShelf(book, u"重启"_s);
        QVERIFY(opens(book));
        m_reader->selectChapter(3);
        m_reader->readingMenuItem(u"Menue_InsertSQ"_s)->trigger();
        m_reader->selectChapter(5);
        m_reader->bookmarkMenu()->actions().first()->trigger();
        QCOMPARE(m_prompter.lastText(), u"恭喜你：书签添加成功！"_s);
        QCOMPARE(m_prompter.last().title, u"添加成功"_s);
        const QString title = book.lines.at(book.starts.at(4)); // entry 5: chapter 4
        QCOMPARE(m_db.findById(id)->marke, title);
        QVERIFY(!m_window->shelf()->bookList()->findItems(title, Qt::MatchExactly, 3).isEmpty());
        m_reader->firstChapter();
        QVERIFY(waitShown(m_reader, 1, expected(book, 1)));
        m_reader->readingMenuItem(u"Menue_GotoSQ"_s)->trigger();
        QVERIFY(waitShown(m_reader, 5, expected(book, 5)));

        // A new window on the same database, as after closing and starting the program again.
        startWindow();
        m_window->bookMenu()->popupFor(*m_db.findById(id), QPoint());
        m_window->bookMenu()->item(u"Menue_SQRead"_s)->trigger();
        m_window->bookMenu()->hide();
        QVERIFY(waitShown(m_reader, 5, expected(book, 5)));
        QCOMPARE(m_reader->selectedChapter(), 5);
        QCOMPARE(scrolledFraction(m_reader), 0.0);
    }

};

QTEST_MAIN(TestReaderPane)
#include "tst_readerpane.moc"
