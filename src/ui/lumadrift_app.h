// Start-up and shut-down of the workbench.
#pragma once

class QCoreApplication;
class QTranslator;

namespace lumadrift {

// Runs the workbench: placement and layout check, the document, the frame,
// the file named on the command line, the event loop; then settings and
// placement are written. Returns the exit code; a file named on the command
// line that cannot be opened ends the program after its message (1).
int RunLumadriftApp(int argc, char** argv);

// Qt's own texts (file and colour dialogs, message-box buttons) in Japanese,
// like the rest of the interface: Qt's translation of its base module from
// its translations folder, installed into app. Null (and nothing installed)
// when the translation is not there.
QTranslator* InstallQtTranslation(QCoreApplication& app);

}  // namespace lumadrift
