// Runs a fuzz target once over files and folders of inputs, without libFuzzer: the regression cases replay in
// every build, GCC included.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

void runOne(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv)
{
    std::size_t count = 0;
    for (int arg = 1; arg < argc; ++arg) {
        const fs::path given(argv[arg]);
        std::vector<fs::path> inputs;
        if (fs::is_directory(given)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(given)) {
                if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
                    inputs.push_back(entry.path());
            }
            std::sort(inputs.begin(), inputs.end());
        } else if (fs::is_regular_file(given)) {
            inputs.push_back(given);
        } else {
            std::fprintf(stderr, "no such input: %s\n", argv[arg]);
            return 2;
        }
        for (const fs::path& input : inputs) {
            std::fprintf(stderr, "replaying %s\n", input.string().c_str());
            runOne(input);
            ++count;
        }
    }
    std::printf("%zu inputs replayed\n", count);
    return 0;
}
