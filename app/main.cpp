#include "app/main_window.h"
#include "cli/command_line.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

// The dialogs Qt draws itself (files, folders) speak French like the rest of the program, when
// Qt's French translations are installed.
void installFrenchTranslation(QApplication& application, QTranslator& translator)
{
    if (translator.load(QStringLiteral("qtbase_fr"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        application.installTranslator(&translator);
}

int runWindow(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("P1Import"));
    // The menu entry and icon the package installs, so that the desktop shows them for the window.
    QApplication::setDesktopFileName(QStringLiteral("p1import"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("p1import")));
    QTranslator translator;
    installFrenchTranslation(application, translator);
    p1::TForm1 form;
    form.show();
    const int status = application.exec();
    return form.stoppedBySignal() ? 1 : status;
}

} // namespace

// With no argument the window opens; with arguments the same import runs headless, without
// needing a display.
int main(int argc, char* argv[])
{
    if (argc <= 1)
        return runWindow(argc, argv);
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("P1Import"));
    return p1::runCommandLine(application.arguments().mid(1));
}
