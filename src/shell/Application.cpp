#include "shell/Application.h"

#include "library/BookshelfPane.h"
#include "library/LibraryDb.h"
#include "platform/WidgetPrompter.h"
#include "shell/MainWindow.h"
#include "startup/ProgramFolder.h"
#include "startup/ServerInfoCheck.h"
#include "startup/Startup.h"

#include <QApplication>
#include <QUrl>

int RunFolioway(int argc, char *argv[])
{
    // The reading page and the server page share one GL context.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Folioway"));
    QApplication::setOrganizationName(QString());
    QApplication::setApplicationVersion(ProgramVersion());
    InstallChineseQtTranslations(app);

    WidgetPrompter prompter;
    LibraryDb db;
    AppContext ctx;
    ctx.programFolder = ResolveProgramFolder();
    ctx.db = &db;
    ctx.config = AppConfig::load(ctx.programFolder);

    int exitCode = 0;
    if (!PrepareStartup(ctx, prompter, &exitCode))
        return exitCode;

    // Before the main window exists: an update the server requires may end the program here.
    if (ContactServerAtStart(ctx, prompter) == StartDecision::EndProgram)
        return 0;

    MainWindow window(ctx, prompter);
    window.load();

    const QString serverPage = ctx.serverInfo.reader_1.trimmed();
    if (!serverPage.isEmpty())
        window.shelf()->showServerPage(QUrl(serverPage));

    // Closing the main window ends the program, whatever other windows are open.
    QObject::connect(&window, &MainWindow::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    return app.exec();
}
