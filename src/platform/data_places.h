#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Where the data folder may stand; UTF-8 paths with the system's separators.
struct DataPlaces {
    std::string executableFolder;  // a "data" folder here wins: the portable layout
    std::string userFolder;        // otherwise data/ lies here; empty when the system names no such folder
    std::string defaultsFolder;    // installed brd/ and pic/std/, copied into a user's new data folder
};

// The user's data home by the XDG base-directory rules, from the values of XDG_DATA_HOME and HOME (empty when
// unset): XDG_DATA_HOME, else HOME's .local/share. A value that is not an absolute path counts as unset, so
// with neither there is no such folder (empty).
inline std::string XdgDataHome(std::string_view xdgDataHome, std::string_view home)
{
    if (xdgDataHome.starts_with('/'))
        return std::string(xdgDataHome);
    if (home.starts_with('/'))
        return std::string(home) + "/.local/share";
    return {};
}

}  // namespace vantrel
