#include "platform/gzip_inflater.h"

#include <zlib.h>

namespace vantrel {
namespace {

constexpr std::size_t kOutputPiece = 16 * 1024;

bool startsGzipMember(std::string_view bytes)
{
    return static_cast<unsigned char>(bytes[0]) == 0x1f && static_cast<unsigned char>(bytes[1]) == 0x8b;
}

}  // namespace

struct GzipInflater::Stream {
    z_stream zlib{};
};

GzipInflater::GzipInflater() : m_stream(std::make_unique<Stream>()) {}

GzipInflater::~GzipInflater()
{
    if (m_started)
        inflateEnd(&m_stream->zlib);
}

bool GzipInflater::start(std::string_view head)
{
    const auto first = static_cast<unsigned char>(head[0]);
    const auto second = static_cast<unsigned char>(head[1]);
    m_gzip = startsGzipMember(head);
    const bool zlib = (first & 0x0f) == Z_DEFLATED && (first * 256 + second) % 31 == 0;
    // 32 added: zlib tells a gzip header from a zlib one itself; negative: no header at all.
    if (inflateInit2(&m_stream->zlib, m_gzip || zlib ? MAX_WBITS + 32 : -MAX_WBITS) != Z_OK) {
        m_error = "cannot inflate the body";
        return false;
    }
    m_started = true;
    return true;
}

GzipInflater::Outcome GzipInflater::feed(std::string_view input, std::string& out, std::size_t cap)
{
    std::string joined;
    if (!m_held.empty()) {
        joined = m_held;
        joined.append(input);
        m_held.clear();
        input = joined;
    }
    while (!input.empty() && !m_ignoring) {
        if (!m_started || m_ended) {
            if (input.size() < 2) {
                m_held.assign(input);
                return Outcome::Ok;
            }
            if (!m_started) {
                if (!start(input))
                    return Outcome::Corrupt;
            } else if (m_gzip && startsGzipMember(input)) {
                inflateReset(&m_stream->zlib);
                m_ended = false;
            } else {
                m_ignoring = true;
                break;
            }
        }
        if (const Outcome outcome = inflateMember(input, out, cap); outcome != Outcome::Ok)
            return outcome;
    }
    return Outcome::Ok;
}

GzipInflater::Outcome GzipInflater::inflateMember(std::string_view& input, std::string& out, std::size_t cap)
{
    z_stream& stream = m_stream->zlib;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<uInt>(input.size());
    for (;;) {
        Bytef piece[kOutputPiece];
        stream.next_out = piece;
        stream.avail_out = sizeof piece;
        const int result = inflate(&stream, Z_NO_FLUSH);
        if (result == Z_NEED_DICT || (result < 0 && result != Z_BUF_ERROR)) {
            m_error = std::string("corrupt compressed body: ") + (stream.msg ? stream.msg : "no detail");
            return Outcome::Corrupt;
        }
        const std::size_t produced = sizeof piece - stream.avail_out;
        if (produced > cap - out.size())
            return Outcome::TooLarge;
        out.append(reinterpret_cast<const char*>(piece), produced);
        if (result == Z_STREAM_END) {
            m_ended = true;
            input = input.substr(input.size() - stream.avail_in);
            return Outcome::Ok;
        }
        // All input taken and all output given.
        if (stream.avail_out != 0) {
            input = {};
            return Outcome::Ok;
        }
    }
}

}  // namespace vantrel
