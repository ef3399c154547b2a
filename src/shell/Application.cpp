#include "shell/Application.h"

#include "library/LibraryDb.h"
#include "platform/WidgetPrompter.h"
#include "shell/MainWindow.h"
#include "startup/ProgramFolder.h"
#include "startup/Startup.h"

#include <QApplication>
#include <QFont>

int RunFolioway(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Folioway"));
    QApplication::setOrganizationName(QString());
    QApplication::setApplicationVersion(ProgramVersion());

    WidgetPrompter prompter;
    LibraryDb db;
    AppContext ctx;
    ctx.programFolder = ResolveProgramFolder();
    ctx.db = &db;
    ctx.config = AppConfig::load(ctx.programFolder);

    int exitCode = 0;
    if (!PrepareStartup(ctx, prompter, &exitCode))
        return exitCode;

    // The server-info and update check runs here, before the main window exists.

    MainWindow window(ctx, prompter);
    window.load();

    // Closing the main window ends the program, whatever other windows are open.
    QObject::connect(&window, &MainWindow::closed, &app, &QApplication::quit, Qt::QueuedConnection);
    return app.exec();
}
