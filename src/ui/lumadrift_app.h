// Start-up and shut-down of the workbench.
#pragma once

namespace lumadrift {

// Runs the workbench: placement and layout check, the document, the frame,
// the file named on the command line, the event loop; then settings and
// placement are written. Returns the exit code.
int RunLumadriftApp(int argc, char** argv);

}  // namespace lumadrift
