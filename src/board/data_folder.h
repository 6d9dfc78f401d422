#pragma once

#include <string>

namespace vantrel {

// Where the data folder may stand; UTF-8 paths with the system's separators.
struct DataPlaces {
    std::string executableFolder;  // a "data" folder here wins: the portable layout
    std::string userFolder;        // otherwise data/ lies here; empty when the system names no such folder
    std::string defaultsFolder;    // installed brd/ and pic/std/, copied into a user's new data folder
};

// The base path under which data/ lies. Without a portable data folder the user's folder is the base; its
// data/ is made from the defaults when it does not exist yet, and used as it is when it does. A data/ that
// cannot be made leaves the base without one, so the board listing finds nothing and the program runs empty.
std::string PrepareDataBase(const DataPlaces& places);

}  // namespace vantrel
