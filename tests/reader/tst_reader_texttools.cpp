#include "ReaderPaneFixture.h"
#include "library/LocalBookFiles.h"

// How a book is read and shown, on a real page: encodings and 智能分章, 繁简转换, own chapter
// rules and clean-up rules, each kept per book and off until chosen.
class TestReaderTextTools : public ReaderPaneFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpLibraryAndWindow(); }
    void init() { m_prompter.reset(); }

    // 繁简转换, per book: the page, the chapter list and the whole-book search show the chosen
    // script, and a word typed in either script finds both forms in a book that mixes them; the
    // choice is kept for that book alone, across a reopen; "原文" gives the file's text back.
    void scriptConversion_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QStringList>("file"); // a heading and a line, in the script of the file
        QTest::addColumn<QStringList>("shown");
        const QStringList traditional{u"第一回 說楔子敷陳大義"_s,
                                      u"人生南北多歧路，將相神仙，也要凡人做。百代興亡朝復暮。"_s};
        const QStringList simplified{u"第一回 说楔子敷陈大义"_s,
                                     u"人生南北多歧路，将相神仙，也要凡人做。百代兴亡朝复暮。"_s};
        QTest::newRow("Traditional shown Simplified") << u"Menue_ScriptSimplified"_s << traditional << simplified;
        QTest::newRow("Simplified shown Traditional") << u"Menue_ScriptTraditional"_s << simplified << traditional;
    }
    void scriptConversion()
    {
        QFETCH(QString, item);
        QFETCH(QStringList, file);
        QFETCH(QStringList, shown);
        if (!ScriptConversionAvailable())
            QSKIP("built without OpenCC");
        const QString path = m_dir.filePath(item + u".txt"_s);
        // Its opening line, then a chapter whose last line is in the other script.
        const QStringList lines{u"书名"_s, file.at(1), file.at(0), shown.at(1)};
        QVERIFY(writeBook(path, lines));
        const auto page = [this](const QString &line) {
            return m_ctx.serverInfo.reader_3 + line + u"<br>"_s + m_ctx.serverInfo.reader_4;
        };
        QVERIFY(opens(path, page(file.at(1))));
        m_reader->readingMenuItem(item)->trigger();
        QVERIFY(waitShown(m_reader, 1, page(shown.at(1))));
        QCOMPARE(m_reader->chapterList()->topLevelItem(1)->text(0), shown.at(0));
        HeardEngine voice; // reads what the page shows
        m_reader->setSpeechEngine(&voice);
        m_reader->voicePanel()->findChild<QCheckBox *>(u"voiceReadOn"_s)->setChecked(false);
        QTest::mouseClick(m_reader->toolButton(ReaderPane::ReadAloudTool), Qt::LeftButton);
        QTRY_COMPARE(voice.heard.size(), 1);
        QVERIFY2(voice.heard.first().contains(shown.at(1)), qPrintable(voice.heard.first()));
        m_reader->setSpeechEngine(nullptr);

        // Converted or as the file has it, the page and the whole book find either form typed,
        // the page's match selected as the page shows it.
        ReadingView *view = m_reader->readingView();
        BookSearchPanel *search = m_reader->bookSearch();
        const auto findBothForms = [&](const QString &onPage) {
            view->openFindBar();
            search->wholeBookSwitch()->setChecked(true);
            const QString form = onPage.contains(u"將相"_s) ? u"將相"_s : u"将相"_s;
            for (const QString &key : {u"將相"_s, u"将相"_s}) {
                view->findBox()->setText(key);
                QTRY_COMPARE(search->countLabel()->text(), u"全书共找到 2 处“%1”"_s.arg(key));
                QTRY_COMPARE(view->findStatus()->text(), u"第 1/1 处"_s);
                QCOMPARE(js(view->webView(), u"getSelection().toString()"_s).toString(), form);
            }
            view->closeFindBar();
            view->findBox()->clear();
        };
        findBothForms(shown.at(1));
        QCOMPARE(search->model()->index(1, 0).data().toString(), shown.at(0));

        QVERIFY(opens(m_book));
        QVERIFY(m_reader->readingMenuItem(u"Menue_ScriptOriginal"_s)->isChecked());
        QVERIFY(opens(path, page(shown.at(1))));
        QVERIFY(m_reader->readingMenuItem(item)->isChecked());
        m_reader->readingMenuItem(u"Menue_ScriptOriginal"_s)->trigger();
        QVERIFY(waitShown(m_reader, 1, page(file.at(1))));
        QCOMPARE(m_reader->chapterList()->topLevelItem(1)->text(0), file.at(0));
        findBothForms(file.at(1));
    }

    // The tables on a real Traditional novel: to Simplified and back.
    void scriptConversion_corpusBook()
    {
        const QString corpus = TestSupport::corpusDir();
        if (corpus.isEmpty() || !ScriptConversionAvailable())
            QSKIP("no corpus beside the checkout, or built without OpenCC");
        QFile book(corpus + u"/rulinwaishi_utf8_oneline.txt"_s);
        QVERIFY(book.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(book.readAll()); // long enough to be converted in pieces
        const QString simplified = ConvertScript(text, ScriptConversion::ToSimplified);
        QVERIFY(simplified.contains(u"说楔子敷陈大义借名流隐括全文人生南北多歧路，将相神仙"_s));
        QVERIFY(!simplified.contains(u'說') && !simplified.contains(u'將'));
        QCOMPARE(simplified.toUcs4().size(), text.toUcs4().size()); // the book's characters map one to one
        QVERIFY(ConvertScript(simplified, ScriptConversion::ToTraditional).contains(u"說楔子敷陳大義借名流隱括全文"_s));
    }

    // An own heading rule: a refused expression is never kept, the preview is the list the book
    // then gets, and the choice splits a book the built-in rule cannot, kept per book.
    void ownChapterRule_previewChoiceKeptPerBook()
    {
        const Book book = makeBook(u"brackets.txt"_s, {u"【一】 起"_s, u"【二】 承"_s, u"【三】 转"_s}, 3);
        m_window->openBook(book.path);
        QTRY_COMPARE_WITH_TIMEOUT(m_reader->chapters().size(), 1, 15000);
        auto *ruleMenu = m_reader->readingMenu()->findChild<QMenu *>(u"Menue_ChapterRule"_s);
        QVERIFY(ruleMenu);
        ruleMenu->actions().constLast()->trigger(); // 管理分章规则...
        auto *window = m_reader->findChild<ChapterRulesWindow *>();
        QVERIFY(window && window->isVisible());
        const QPoint off = window->frameGeometry().center() - m_window->frameGeometry().center();
        QVERIFY2(off.manhattanLength() < 40, qPrintable(u"%1,%2"_s.arg(off.x()).arg(off.y())));

        // The engine's reason in Chinese, its own words after it.
        m_prompter.clear();
        window->expressionBox()->setText(u"^【[一二三]+(】"_s);
        QVERIFY(!window->addRule());
        QVERIFY2(m_prompter.last().text.startsWith(u"表达式有误：圆括号 ( ) 不成对（"_s), qPrintable(m_prompter.lastText()));
        QVERIFY(m_db.headingRules().rules().isEmpty());

        const QString rule = u"^【[一二三]】"_s;
        window->nameBox()->setText(u"方括号"_s);
        window->expressionBox()->setText(rule);
        QVERIFY(window->addRule());
        QSignalSpy ready(window, &ChapterRulesWindow::previewReady);
        QVERIFY(window->preview());
        QVERIFY(ready.wait(15000));
        BookReading reading;
        reading.rule = rule;
        const QList<ChapterEntry> split = GetChapter(book.path, {}, nullptr, reading).entries;
        QCOMPARE(split.size(), 4);
        QCOMPARE(window->previewBox()->toPlainText(), ChapterPreview::of(split).text());

        // A rule that backtracks without end: the preview says so instead of staying on "正在分章……".
        const QString runaway = m_dir.filePath(u"runaway.txt"_s);
        QVERIFY(writeBook(runaway, {u"书名"_s, QString(30, u'a') + u'!', u"第一章 起"_s}));
        window->setBook(runaway, {});
        window->expressionBox()->setText(u"(a+)+$"_s);
        QVERIFY(window->preview());
        QVERIFY(ready.wait(15000));
        QVERIFY2(window->previewBox()->toPlainText().startsWith(u"规则匹配太慢，已停止"_s),
                 qPrintable(window->previewBox()->toPlainText()));
        window->setBook(book.path, {});

        auto choose = [&](const QString &caption) {
            Q_EMIT ruleMenu->aboutToShow();
            for (QAction *a : ruleMenu->actions())
                if (a->text() == caption) {
                    a->trigger();
                    return true;
                }
            return false;
        };
        QVERIFY(choose(u"方括号"_s));
        QTRY_COMPARE_WITH_TIMEOUT(m_reader->chapters(), split, 15000);
        m_window->openBook(m_book.path);
        QTRY_COMPARE_WITH_TIMEOUT(m_reader->chapters(), GetChapter(m_book.path).entries, 15000);
        m_window->openBook(book.path);
        QTRY_COMPARE_WITH_TIMEOUT(m_reader->chapters(), split, 15000);
        Q_EMIT ruleMenu->aboutToShow();
        QVERIFY(ruleMenu->actions().at(1)->isChecked());
        QVERIFY(choose(u"默认规则"_s));
        QTRY_COMPARE_WITH_TIMEOUT(m_reader->chapters().size(), 1, 15000);
        window->close();
    }

    // A rule made from the reading menu for this book cleans its page at once and again after
    // it is opened anew, never another book's, and the whole-book search no longer lists what it
    // took away; a runaway rule is left out and reported once; switched off, the page is as the
    // file has it.
    void textRules_cleanThisBooksPageOnly()
    {
        const QString r3 = m_ctx.serverInfo.reader_3;
        const QString r4 = m_ctx.serverInfo.reader_4;
        const QString banner = u"【笔趣阁 www.biquge.com】<br>"_s;
        const QStringList lines{u"书名"_s, QString(40, u'甲'), banner.chopped(4), u"乙笔趣阁"_s, u"第一章 起"_s, u"丙"_s};
        const QString path = m_dir.filePath(u"banner.txt"_s), other = m_dir.filePath(u"banner2.txt"_s);
        QVERIFY(writeBook(path, lines) && writeBook(other, lines));
        const QString raw = r3 + ChapterFragment(path, GetChapter(path).entries.at(0)) + r4;
        QVERIFY2(raw.contains(banner), qPrintable(raw));
        const QString cleaned = QString(raw).remove(banner);
        QVERIFY(opens(path, raw));
        m_reader->readingMenuItem(u"Menue_TextRules"_s)->trigger();
        auto *window = m_reader->findChild<TextRulesWindow *>();
        QVERIFY(window && window->isVisible());
        window->ruleList()->selectRow(0);
        window->scopeBox()->setCurrentIndex(1);
        window->enabledSwitch()->setChecked(true);
        QTest::mouseClick(window->saveButton(), Qt::LeftButton);
        QVERIFY(waitShown(m_reader, 1, cleaned));
        ReadingView *view = m_reader->readingView();
        view->openFindBar();
        m_reader->bookSearch()->wholeBookSwitch()->setChecked(true);
        view->findBox()->setText(u"笔趣阁"_s);
        QTRY_COMPARE(m_reader->bookSearch()->countLabel()->text(), u"全书共找到 1 处“笔趣阁”"_s);
        QCOMPARE(m_reader->bookSearch()->model()->hit(0).before, u"乙"_s);
        view->closeFindBar();
        view->findBox()->clear();
        QVERIFY(opens(other, QString(raw)));
        QVERIFY(opens(path, cleaned));
        QTest::mouseClick(window->newButton(), Qt::LeftButton);
        window->patternBox()->setText(u"(.+)+Q"_s);
        window->regexSwitch()->setChecked(true);
        QTest::mouseClick(window->saveButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(m_prompter.shown.size(), 1, 15000);
        QVERIFY(m_prompter.lastText().contains(u"(.+)+Q"_s));
        window->ruleList()->item(0, 0)->setCheckState(Qt::Unchecked);
        QVERIFY(waitShown(m_reader, 1, raw));
        window->close();
        QCOMPARE(m_prompter.shown.size(), 1);
    }

    // How a book is read, from the reading menu and per book: a chosen encoding, and 智能分章 with
    // the bar that offers it for a book of long lines. Each choice opens the book again and is
    // remembered for it; switching back gives the plain chapter list unchanged. Which chapters
    // each mode finds is tst_chapters'; here the pane's list is compared with it.
    void readingModes_encodingAndSmartChaptersPerBook()
    {
        const QString r3 = m_ctx.serverInfo.reader_3;
        const QString r4 = m_ctx.serverInfo.reader_4;
        const QString path = m_dir.filePath(u"utf8.txt"_s);
        const QStringList lines{u"书名"_s, u"楔子"_s, u"第一章 起"_s, u"甲乙丙"_s};
        QVERIFY(TestSupport::writeFile(path, lines.join(u'\n').toUtf8()));
        QVERIFY(opens(path, r3 + u"楔子<br>"_s + r4));
        QVERIFY(m_reader->readingMenuItem(u"Menue_EncodingAuto"_s)->isChecked());
        m_reader->readingMenuItem(u"Menue_EncodingGB18030"_s)->trigger();
        QString misread;
        for (const QString &line : lines.mid(1))
            misread += DecodeText(TextEncoding::Gb18030, line.toUtf8()) + u"<br>"_s;
        QVERIFY(waitShown(m_reader, 1, r3 + misread + r4));
        QVERIFY(opens(m_book));
        QVERIFY(m_reader->readingMenuItem(u"Menue_EncodingAuto"_s)->isChecked());
        QVERIFY(opens(path, r3 + misread + r4));
        QVERIFY(m_reader->readingMenuItem(u"Menue_EncodingGB18030"_s)->isChecked());
        m_reader->readingMenuItem(u"Menue_EncodingAuto"_s)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(m_reader->chapters().size(), 2, 15000);
        QVERIFY(!m_reader->smartBar()->isVisible());

        const QString corpus = TestSupport::corpusDir();
        if (corpus.isEmpty())
            QSKIP("no corpus beside the checkout");
        const QString rulin = QDir(corpus).filePath(u"rulinwaishi_utf8_oneline.txt"_s);
        const QString xiyouji = QDir(corpus).filePath(u"xiyouji_gbk.txt"_s);
        const BookReading smart{std::nullopt, true};
        auto opens = [&](const QString &book) {
            m_window->openBook(book);
            return QTest::qWaitFor([&] { return !m_reader->isOpening() && m_reader->chaptersPath() == book; }, 60000);
        };
        QAction *smartItem = m_reader->readingMenuItem(u"Menue_SmartChapters"_s);

        // The one-line book: one empty chapter and the offer; accepted, it reads as paragraphs.
        QVERIFY(opens(rulin));
        QCOMPARE(m_reader->chapters().size(), 1);
        QTRY_VERIFY(m_reader->smartBar()->isVisible());
        QTest::mouseClick(m_reader->smartBar()->resumeButton(), Qt::LeftButton);
        const ChapterList smartRulin = GetChapter(rulin, {}, nullptr, smart);
        QVERIFY(waitShown(m_reader, 2, r3 + ChapterFragment(rulin, smartRulin.entries.at(1), smart) + r4, 60000));
        QCOMPARE(m_reader->chapters(), smartRulin.entries);
        QVERIFY(!m_reader->smartBar()->isVisible());
        QVERIFY(smartItem->isChecked());

        // Another book keeps its plain reading; rulin remembered its mode; switched off from the
        // menu, it is the plain list again and the offer comes back.
        QVERIFY(opens(xiyouji));
        QCOMPARE(m_reader->chapters(), GetChapter(xiyouji).entries);
        QVERIFY(!smartItem->isChecked());
        QVERIFY(opens(rulin));
        QCOMPARE(m_reader->chapters(), smartRulin.entries);
        QVERIFY(smartItem->isChecked());
        smartItem->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(m_reader->chapters(), GetChapter(rulin).entries, 60000);
        QTRY_VERIFY(m_reader->smartBar()->isVisible());
        QVERIFY(m_prompter.shown.isEmpty());
    }

    // A shelf book moved away and found again through 重新定位文件… keeps how it is read.
    void relocated_keepsSmartChapters()
    {
        const QString path = m_dir.filePath(u"moving.txt"_s);
        QVERIFY(writeBook(path, {u"书名"_s, u"楔子"_s, u"第一章 起"_s, u"甲乙丙"_s}));
        const qint64 id = m_db.insertBook(u"其他分类"_s, u"搬家"_s, u"某人"_s, path);
        QVERIFY(id > 0);
        m_reader->openBook(path);
        QTRY_VERIFY(!m_reader->isOpening() && m_reader->chaptersPath() == path);
        m_reader->setSmartChapters(true);
        QTRY_VERIFY(!m_reader->isOpening() && m_reader->bookReading().smart);
        const QString moved = m_dir.filePath(u"搬走/moving.txt"_s);
        QVERIFY(QDir().mkpath(QFileInfo(moved).path()) && QFile::rename(path, moved));
        m_reader->openBook(m_book.path);
        QTRY_VERIFY(!m_reader->isOpening() && m_reader->chaptersPath() == m_book.path);

        m_prompter.fileNames.enqueue(moved);
        QCOMPARE(RelocateBook(m_db, m_prompter, id), moved);
        QVERIFY(m_reader->openBook(moved));
        QTRY_VERIFY(!m_reader->isOpening() && m_reader->chaptersPath() == moved);
        QVERIFY(m_reader->bookReading().smart);
        QVERIFY(m_reader->readingMenuItem(u"Menue_SmartChapters"_s)->isChecked());
    }
};

QTEST_MAIN(TestReaderTextTools)
#include "tst_reader_texttools.moc"
