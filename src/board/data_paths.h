#pragma once

#include <string>
#include <string_view>

namespace vantrel {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Adds "\" unless the path already ends in one; only the backslash counts.
std::string WithTrailingBackslash(std::string_view path);
// The same rule with the platform's separator ("\" on Windows, "/" elsewhere).
std::string WithTrailingSeparator(std::string_view path);

enum class DataFolder { Boards, Cache, Pictures };

// Base path + "data/brd/", "data/log/" or "data/pic/std/" (with the native separator).
std::string DataFolderPath(std::string_view appDir, DataFolder folder);
// DataFolderPath(appDir, folder) + fileName.
std::string DataFilePath(std::string_view appDir, DataFolder folder, std::string_view fileName);

}  // namespace vantrel
