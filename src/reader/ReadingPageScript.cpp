#include "reader/ReadingPageScript.h"

#include <QDesktopServices>
#include <QFile>
#include <QWebChannel>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <algorithm>
#include <cmath>

// The one object the page's script can call. Keep it to methods that cannot do harm whatever
// their arguments.
class ReadingPageBridge : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    Q_INVOKABLE void keyDown(int keyCode)
    {
        if (keyCode == 37 || keyCode == 39 || keyCode == 13 || keyCode == 33 || keyCode == 34)
            Q_EMIT keyPressed(keyCode);
    }
    Q_INVOKABLE void scrolled(int generation, double top, double seen, const QString &words)
    {
        if (std::isfinite(top) && std::isfinite(seen))
            Q_EMIT scrolledTo(generation, std::clamp(top, 0.0, 1.0), std::clamp(seen, 0.0, 1.0), words.left(120));
    }
    Q_INVOKABLE void ready() { Q_EMIT connected(); }

Q_SIGNALS:
    void keyPressed(int keyCode);
    void scrolledTo(int generation, double top, double seen, const QString &words);
    void connected();
};

namespace {

constexpr auto ScriptWorld = QWebEngineScript::ApplicationWorld;

// The reading page never leaves the template: a link in a book opens in the desktop's browser.
class ReadingWebPage : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;
    QUrl pageUrl;

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        if (!isMainFrame)
            return type != NavigationTypeLinkClicked; // an advertisement frame loads its own page
        if (url.adjusted(QUrl::RemoveFragment) == pageUrl)
            return true;
        if (type == NavigationTypeLinkClicked && (url.scheme() == u"http" || url.scheme() == u"https"))
            QDesktopServices::openUrl(url);
        return false;
    }
};

QString readResource(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

ReadingPageScript::ReadingPageScript(QWebEngineView *web) : QObject(web), m_web(web)
{
    auto *page = new ReadingWebPage(web);
    web->setPage(page);

    m_bridge = new ReadingPageBridge(this);
    auto *channel = new QWebChannel(this);
    channel->registerObject(QStringLiteral("reader"), m_bridge);
    page->setWebChannel(channel, ScriptWorld);
    connect(m_bridge, &ReadingPageBridge::keyPressed, this, &ReadingPageScript::keyPressed);
    connect(m_bridge, &ReadingPageBridge::scrolledTo, this, &ReadingPageScript::scrolledTo);
    connect(m_bridge, &ReadingPageBridge::connected, this, &ReadingPageScript::connected);

    QWebEngineScript bridgeScript;
    bridgeScript.setName(QStringLiteral("folioway-reader-bridge"));
    bridgeScript.setSourceCode(readResource(QStringLiteral(":/qtwebchannel/qwebchannel.js")) + u'\n' +
                               readResource(QStringLiteral(":/reader/ReaderBridge.js")));
    bridgeScript.setInjectionPoint(QWebEngineScript::DocumentReady);
    bridgeScript.setWorldId(ScriptWorld);
    bridgeScript.setRunsOnSubFrames(false);
    page->scripts().insert(bridgeScript);
}

void ReadingPageScript::setPageUrl(const QUrl &url)
{
    static_cast<ReadingWebPage *>(m_web->page())->pageUrl = url;
}

void ReadingPageScript::run(const QString &script, std::function<void(const QVariant &)> reply)
{
    if (reply)
        m_web->page()->runJavaScript(script, ScriptWorld, std::move(reply));
    else
        m_web->page()->runJavaScript(script, ScriptWorld);
}

QString ReadingPageScript::jsString(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8 + 2);
    out += u'"';
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            out += u"\\\"";
            break;
        case u'\\':
            out += u"\\\\";
            break;
        case u'\n':
            out += u"\\n";
            break;
        case u'\r':
            out += u"\\r";
            break;
        case 0x2028:
            out += u"\\u2028";
            break;
        case 0x2029:
            out += u"\\u2029";
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += u'"';
    return out;
}

QString ReadingPageScript::jsStrings(const QStringList &texts)
{
    QStringList literals;
    for (const QString &text : texts)
        literals.append(jsString(text));
    return u'[' + literals.join(u',') + u']';
}

#include "ReadingPageScript.moc"
