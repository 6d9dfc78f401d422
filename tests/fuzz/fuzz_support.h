#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

// Stops the run with a message; libFuzzer then saves the input that broke the invariant.
#define VANTREL_FUZZ_CHECK(condition)                                                              \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace vantrel::fuzz {

// One file per process, rewritten for each input: the code under test reads a path, and creating a fresh
// file per input would cost more than the input itself.
class ScratchFile {
public:
    explicit ScratchFile(const char* prefix)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        m_fd = mkstemp(pattern.data());
        if (m_fd < 0) {
            std::perror("mkstemp");
            std::abort();
        }
        m_path = pattern;
    }
    ~ScratchFile()
    {
        close(m_fd);
        unlink(m_path.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return m_path; }

    void write(const std::uint8_t* data, std::size_t size)
    {
        VANTREL_FUZZ_CHECK(ftruncate(m_fd, 0) == 0);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t written = pwrite(m_fd, data + done, size - done, static_cast<off_t>(done));
            VANTREL_FUZZ_CHECK(written > 0);
            done += static_cast<std::size_t>(written);
        }
    }

private:
    int m_fd = -1;
    std::string m_path;
};

}  // namespace vantrel::fuzz
