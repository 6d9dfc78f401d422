#pragma once

#include <string>

#include "board/data_folder.h"

namespace vantrel {

// Before the QApplication exists. A Wayland client can neither place its window nor keep it above others,
// so in a Wayland session with X11 at hand the program runs through XWayland, unless the user has chosen a
// platform (QT_QPA_PLATFORM). Linux only; elsewhere nothing changes.
void PreferXWayland();

// The executable's folder, the user's own data folder ($XDG_DATA_HOME/vantrel on Linux, the local
// application-data folder's vantrel on Windows) and the defaults installed beside the executable.
DataPlaces DesktopDataPlaces();

}  // namespace vantrel
