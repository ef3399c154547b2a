#pragma once

#include <QObject>
#include <QUrl>
#include <QVariant>

#include <functional>

class QWebEngineView;
class ReadingPageBridge;

// The reading page's side of the program: the web page that never leaves the template, our
// script (ReaderBridge.js) in the application's script world, and the channel the script calls
// back through. Neither the template nor a book's markup can reach that world or the channel.
class ReadingPageScript : public QObject
{
    Q_OBJECT
public:
    // Gives `web` its page and puts the bridge script into it.
    explicit ReadingPageScript(QWebEngineView *web);

    // The template's address: navigation to anything else is refused (links open outside).
    void setPageUrl(const QUrl &url);
    // Runs `script` in our world; `reply` (if any) receives its value.
    void run(const QString &script, std::function<void(const QVariant &)> reply = {});

    // A double-quoted JavaScript string literal.
    static QString jsString(const QString &text);
    // A JavaScript array of string literals.
    static QString jsStrings(const QStringList &texts);

Q_SIGNALS:
    // Keys the page hands over (see ReadingView::keyPressedInPage).
    void keyPressed(int keyCode);
    // The page's place (0..1 each) for the text of `generation`, and the words of its top line on.
    void scrolledTo(int generation, double top, double seen, const QString &words);
    // The channel is up.
    void connected();

private:
    QWebEngineView *m_web;
    ReadingPageBridge *m_bridge;
};
