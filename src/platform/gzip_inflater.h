#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace vantrel {

// A gzip or zlib body inflated as it arrives, or bare deflate data, which some servers send as "deflate".
// Gzip members may follow one another; bytes after the last one that start no other member are ignored, as
// browsers do. Unlike Qt's own inflation, it tells a stream cut short from a whole one.
class GzipInflater {
public:
    enum class Outcome { Ok, TooLarge, Corrupt };

    GzipInflater();
    ~GzipInflater();
    GzipInflater(const GzipInflater&) = delete;
    GzipInflater& operator=(const GzipInflater&) = delete;

    // Appends what input inflates to out, which must not grow past cap.
    Outcome feed(std::string_view input, std::string& out, std::size_t cap);
    // The stream has reached its end, or none of it has come.
    bool complete() const { return m_ended || (!m_started && m_held.empty()); }
    const std::string& error() const { return m_error; }

private:
    bool start(std::string_view head);
    // Inflates until input is used up or the member ends; sets input to what the member left over.
    Outcome inflateMember(std::string_view& input, std::string& out, std::size_t cap);

    struct Stream;  // zlib's state, kept out of this header
    std::unique_ptr<Stream> m_stream;
    bool m_started = false;
    bool m_gzip = false;
    bool m_ended = false;
    bool m_ignoring = false;
    // A byte that arrived alone where two tell what follows: at the start, or after a member.
    std::string m_held;
    std::string m_error;
};

}  // namespace vantrel
