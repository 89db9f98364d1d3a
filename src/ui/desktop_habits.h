// What every picture viewer on the desktop does, added to the main window
// from outside so that the frame and the view keep their own rules:
//   - a file dropped on the window opens as a picture; a dropped filter file
//     (.flt) runs as a macro once the operator agrees;
//   - Ctrl + mouse wheel steps through the zoom box's entries, keeping the
//     image point under the pointer where it is;
//   - the middle button drags the picture;
//   - Ctrl+0 returns to 100 %.
// Each honours the enabling rule of the command it stands for (open, run
// macro, the zoom box).
#pragma once

#include <QString>
#include <QStringList>

class QFileDialog;

namespace lumadrift {

class CLumadriftDoc;
class CMainFrame;

void InstallDesktopHabits(CMainFrame& frame, CLumadriftDoc& doc);

// The zoom one wheel step reaches from zoom: the next larger (direction > 0)
// or smaller entry value of the zoom box ("200%" ... and a custom "120%"),
// or zoom itself at either end.
int NextZoomEntry(const QStringList& entries, int zoom, int direction);

// The extension of a name filter's first pattern: "PNG Files (*.png)" gives
// "png", a filter without one gives "".
QString SuffixOfNameFilter(const QString& filter);
// A save dialog for pictures: the formats a save writes, and a default
// suffix that follows the chosen filter (a name typed without one gets it).
void OfferSavePictureFormats(QFileDialog& dlg);

}  // namespace lumadrift
