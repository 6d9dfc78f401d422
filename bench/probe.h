#pragma once

#include <cstdint>

namespace vantrel::bench {

// Heap allocations and file opens made by the calling thread while a probe is active. Linking probe.cpp
// into a program replaces malloc and the open calls for the whole process (glibc only).
struct ProbeCounts {
    std::uint64_t allocations = 0;
    std::uint64_t opens = 0;
};

class Probe {
public:
    Probe();
    ~Probe();
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    // What this thread did since the probe started.
    ProbeCounts counts() const;

private:
    ProbeCounts m_start;
};

// False when the replacement is not in effect (another allocator won), so counts would read zero.
bool ProbeWorks();

}  // namespace vantrel::bench
