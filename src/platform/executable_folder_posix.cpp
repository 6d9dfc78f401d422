#include "platform/executable_folder.h"

#include <filesystem>
#include <system_error>

namespace vantrel {

std::string ExecutableFolder()
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !executable.has_parent_path())
        return {};
    return executable.parent_path().string();
}

}  // namespace vantrel
