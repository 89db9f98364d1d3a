#include "ui/lumadrift_app.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QStringList>
#include <QTimer>
#include <QTranslator>
#include <clocale>
#include <memory>

#include "app/directories.h"
#include "app/image_settings.h"
#include "commands/lumadrift_doc.h"
#include "ui/main_frame.h"

namespace lumadrift {

QTranslator* InstallQtTranslation(QCoreApplication& app)
{
    auto* t = new QTranslator(&app);
    if (!t->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(t)) {
        delete t;
        return nullptr;
    }
    return t;
}

int RunLumadriftApp(int argc, char** argv)
{
    const std::string cwd = CurrentDirectory();
    FramePlacement placement = LoadPlacement(cwd);

    QApplication app(argc, argv);
    // QApplication adopts the user's locale; files are written in "C".
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Lumadrift"));
    QApplication::setOrganizationName(QStringLiteral("Lumadrift"));
    InstallQtTranslation(app);

    int rc = 0;
    {
        DocEnvironment env;
        env.layoutState = placement.layoutState;
        if (env.layoutState == 0)
            env.dirs = Directories::FromWorkingDirectory(cwd);
        CLumadriftDoc doc(env);
        CMainFrame frame(doc, placement);
        frame.show();
        // Lets scripts and tests run a whole session without a person; a
        // message still up is answered as well.
        bool ok = false;
        const int closeAfter = qEnvironmentVariableIntValue("LUMADRIFT_CLOSE_AFTER_MS", &ok);
        if (ok && closeAfter >= 0)
            QTimer::singleShot(closeAfter, &frame, [] { QApplication::closeAllWindows(); });
        const QStringList args = QApplication::arguments();
        // A picture named on the command line that cannot be opened ends
        // the program once its message has been read, as a failed start.
        if (placement.layoutState == 0 && args.size() > 1 && !frame.OpenFile(args.at(1)))
            rc = 1;
        else
            rc = QApplication::exec();
    }  // the document saves the settings as it goes away
    SavePlacement(placement);
    return rc;
}

}  // namespace lumadrift
