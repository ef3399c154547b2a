#include "shell/Application.h"

#include "catalogue/BookImport.h"
#include "library/BookshelfPane.h"
#include "library/LibraryDb.h"
#include "platform/WidgetPrompter.h"
#include "shell/MainWindow.h"
#include "startup/ProgramFolder.h"
#include "startup/ProgramInstance.h"
#include "startup/ServerInfoCheck.h"
#include "startup/Startup.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QUrl>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#ifdef FOLIOWAY_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace {

constexpr char kUsage[] = "用法 / Usage: folioway [书籍文件.txt / BOOK.txt]\n"
                          "  打开时给出一个 TXT 文件即在阅读页打开它（不在书架上时会询问是否添加）。\n"
                          "  Given a TXT file, opens it on the reading tab (asking to add it to the shelf if needed).\n"
                          "  --version   显示版本 / print the version\n"
                          "  --help      显示本帮助 / print this help\n";

// --version and --help answer without a display; any other argument is for Qt or is the book.
std::optional<int> answerInformationOptions(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("folioway %s\n", FOLIOWAY_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("%s", kUsage);
            return 0;
        }
    }
    return std::nullopt;
}

bool hasArgument(int argc, char *argv[], const char *name)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return true;
    return false;
}

bool nonEmptyEnv(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value;
}

// Qt aborts with a core dump when its window system cannot be reached; say it in one line
// instead. A chosen platform (QT_QPA_PLATFORM, -platform) and Wayland are left to Qt.
bool displayReachable(int argc, char *argv[])
{
    if (nonEmptyEnv("QT_QPA_PLATFORM") || hasArgument(argc, argv, "-platform") || nonEmptyEnv("WAYLAND_DISPLAY"))
        return true;
    if (!nonEmptyEnv("DISPLAY"))
        return false;
#ifdef FOLIOWAY_HAVE_XCB
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const bool reached = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return reached;
#else
    return true;
#endif
}

} // namespace

QIcon ProgramIcon()
{
    // The installed theme's icon when there is one, else the copies built in.
    QIcon icon;
    for (const int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/icons/folioway-%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral("folioway"), icon);
}

int RunFolioway(int argc, char *argv[])
{
    if (const std::optional<int> answered = answerInformationOptions(argc, argv))
        return *answered;
    if (!displayReachable(argc, argv)) {
        std::fprintf(stderr, "folioway: 找不到图形显示，请在桌面会话中启动 / no display found "
                             "(DISPLAY or WAYLAND_DISPLAY), start it from a desktop session\n");
        return 1;
    }
    // The reading page and the server page share one GL context.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Folioway"));
    QApplication::setOrganizationName(QString());
    QApplication::setApplicationVersion(ProgramVersion());
    InstallChineseQtTranslations(app);
    QApplication::setWindowIcon(ProgramIcon());
    QApplication::setDesktopFileName(QStringLiteral("Folioway"));

    WidgetPrompter prompter;
    LibraryDb db;
    AppContext ctx;
    ctx.programFolder = ResolveProgramFolder();
    ctx.db = &db;
    ctx.config = AppConfig::load(ctx.programFolder);

    // Qt has taken its own options out; what is left is the book to open.
    const QStringList given = QApplication::arguments().mid(1);
    const QString book = given.isEmpty() ? QString() : QFileInfo(given.first()).absoluteFilePath();
    // A program already running on this folder takes the book and comes to the front.
    ProgramInstance instance(ctx.programFolder);
    if (!instance.claim(book))
        return 0;

    int exitCode = 0;
    if (!PrepareStartup(ctx, prompter, &exitCode))
        return exitCode;
    StartStaleStagingCleanup(ctx.downloadFolder);

    // Before the main window exists: an update the server requires may end the program here.
    if (ContactServerAtStart(ctx, prompter) == StartDecision::EndProgram)
        return 0;

    MainWindow window(ctx, prompter);
    window.load();

    const QUrl serverPage = ServerPageUrl(ctx.serverInfo.reader_1, ctx.config.serverBaseUrl);
    if (!serverPage.isEmpty())
        window.shelf()->showServerPage(serverPage);

    if (!book.isEmpty())
        window.openFileGiven(book);
    QObject::connect(&instance, &ProgramInstance::bookHandedOver, &window, [&window](const QString &handed) {
        if (window.isMinimized())
            window.showNormal();
        window.raise();
        window.activateWindow();
        if (!handed.isEmpty())
            window.openFileGiven(handed);
    });

    // Closing the main window ends the program, whatever other windows are open.
    QObject::connect(&window, &MainWindow::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    return app.exec();
}
