#include "platform/GlobalHotKey.h"
#include "settings/BossKeyAction.h"
#ifdef FOLIOWAY_HAVE_XCB
#include "platform/X11GlobalHotKey.h"
#endif

#include <QDialog>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

// Records what would be grabbed; fire() stands for a press reaching the event filter.
class FakeHotKey : public GlobalHotKey
{
public:
    bool setCombination(QKeyCombination combination) override
    {
        registered << combination;
        return true;
    }
    void clear() override { registered << QKeyCombination(); }
    bool isFunctional() const override { return true; }
    void fire() { Q_EMIT activated(); }

    QList<QKeyCombination> registered;
};

} // namespace

class BossKeyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pressesHideThenShowExactlyTheVisibleWindows()
    {
        auto fake = std::make_unique<FakeHotKey>();
        FakeHotKey *hotKey = fake.get();
        BossKeyHotKey bossKey(std::move(fake));
        bossKey.registerStored(u"Ctrl|q"_s);

        QWidget main;
        QWidget other;
        QWidget alreadyHidden;
        auto *childWindow = new QWidget(&main, Qt::Window);
        auto *closedMeanwhile = new QWidget;
        for (QWidget *w : {&main, &other, childWindow, closedMeanwhile})
            w->show();

        hotKey->fire();
        for (QWidget *w : {&main, &other, childWindow, &alreadyHidden, closedMeanwhile})
            QVERIFY(!w->isVisible());
        QVERIFY(bossKey.toggle().isHiding());

        delete closedMeanwhile;
        hotKey->fire();
        for (QWidget *w : {&main, &other, childWindow})
            QVERIFY(w->isVisible());
        QVERIFY(!alreadyHidden.isVisible());
        QVERIFY(!bossKey.toggle().isHiding());

        // A window hidden by the program in between stays out of the next round.
        other.hide();
        hotKey->fire();
        QVERIFY(!main.isVisible());
        hotKey->fire();
        QVERIFY(main.isVisible() && childWindow->isVisible());
        QVERIFY(!other.isVisible());
    }

    // Hiding a dialog inside exec() would end it as if the user had answered; where the window
    // cannot be taken off below the toolkit (offscreen here), the dialog stays up and running.
    void modalDialogKeepsItsLoop_popupIsClosed()
    {
        auto fake = std::make_unique<FakeHotKey>();
        FakeHotKey *hotKey = fake.get();
        BossKeyHotKey bossKey(std::move(fake));
        QWidget main;
        main.show();
        QWidget popup(nullptr, Qt::Popup);
        QDialog question;
        bool stillUp = false;
        QTimer::singleShot(0, &question, [&] {
            popup.show();
            hotKey->fire();
            stillUp = question.isVisible() && !main.isVisible() && !popup.isVisible();
            hotKey->fire();
            stillUp = stillUp && main.isVisible() && !popup.isVisible();
            question.accept();
        });
        QCOMPARE(question.exec(), int(QDialog::Accepted));
        QVERIFY(stillUp);
    }

#ifdef FOLIOWAY_HAVE_XCB
    void x11KeySym_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<quint32>("keysym");
        QTest::newRow("latin-1 capital") << 0xC9 << 0xE9u;
        QTest::newRow("cyrillic") << 0x042F << 0x0100044Fu;
        QTest::newRow("function key") << int(Qt::Key_F1) << 0u;
        QTest::newRow("control character") << 0x09 << 0u;
    }
    void x11KeySym()
    {
        QFETCH(int, key);
        QTEST(X11KeySymForKey(Qt::Key(key)), "keysym");
    }
#endif
};

QTEST_MAIN(BossKeyTest)
#include "tst_settings_bosskey.moc"
