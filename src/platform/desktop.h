#pragma once

#include <string>

#include "platform/data_places.h"

namespace vantrel {

// Before the QApplication exists. A Wayland client can neither place its window nor keep it above others,
// so in a Wayland session with X11 at hand the program runs through XWayland, and natively when that X
// display cannot be reached, unless the user has chosen a platform (QT_QPA_PLATFORM). Linux only; elsewhere
// nothing changes.
void PreferXWayland();

// The executable's folder, the user's own data folder (XdgDataHome's vantrel on Linux and other Unix systems,
// the local application-data folder's vantrel on Windows) and the defaults installed beside the executable.
DataPlaces DesktopDataPlaces();

// Hands an absolute http or https address to the desktop's browser; false when it is none or nothing took it.
bool OpenInBrowser(const std::string& link);

}  // namespace vantrel
