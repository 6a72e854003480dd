// The desktop program: the Qt application, the Italian standard buttons, the
// message boxes, start-up and the event loop until the last window closes.

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/graphical_session.h"
#include "app/localized_message_box.h"
#include "app/open_document.h"
#include "app/settings.h"
#include "app/start_up.h"
#include "ui/qt_message_box.h"
#include "ui/qt_startup_host.h"

int main(int argc, char** argv) {
    // Without a display Qt would end with a message about its platform
    // plugin; the user learns instead what the program needs and what to use.
    if (!vantrove::GraphicalSessionAvailable(std::vector<std::string>(argv, argv + argc)))
        return vantrove::ReportNoGraphicalSession(stderr,
                                                  vantrove::ExecutableFolder() + "vantrove-cli");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrove"));

    // Qt's own texts (standard buttons, file dialogs) in Italian, where the
    // translation is installed.
    QTranslator translator;
    if (translator.load(QStringLiteral("qtbase_it"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);

    vantrove::QtMessageBox messageBox;
    vantrove::SetMessageBoxPresenter(&messageBox);

    // The arguments as the bytes of their file names; QApplication has taken
    // its own options out of argc and argv.
    const std::vector<std::string> arguments = vantrove::ProgramArguments(argc, argv);

    int rc = 1;
    {
        vantrove::Application application;
        vantrove::Settings& settings = vantrove::ProcessSettings();
        vantrove::QtStartupHost host(settings);
        if (vantrove::RunStartup(application, settings, arguments, host) ==
            vantrove::StartupResult::Running) {
            rc = QApplication::exec();
            // Windows closed in the last turn of the loop are freed here.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    vantrove::SetMessageBoxPresenter(nullptr);
    return rc;
}
