#include "board/board_reader.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "board/error_numbers.h"
#include "board/feed_tree.h"
#include "platform/codepage.h"
#include "platform/utf8_path.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const errors::ErrorInfo& error)
{
    throw ToolkitError(error.number, std::string(error.description));
}

// The whole file; it is closed again before the text is parsed.
std::string readBoardFile(const std::string& path)
{
    const fs::path file = Utf8Path(path);
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (status.type() == fs::file_type::not_found)
        fail(errors::kFileNotFound);
    if (ec)
        fail(ec == std::errc::permission_denied ? errors::kPermissionDenied : errors::kReadError);
    if (status.type() == fs::file_type::directory)
        fail(errors::kPathIsFolder);

    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        fail(errno == EACCES || errno == EPERM ? errors::kPermissionDenied : errors::kReadError);

    std::string bytes;
    if (const auto size = fs::file_size(file, ec); !ec)
        bytes.reserve(static_cast<std::size_t>(size));
    char chunk[65536];
    while (in.read(chunk, sizeof(chunk)) || in.gcount() > 0)
        bytes.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        fail(errors::kReadError);
    return bytes;
}

// Splits board text into fields; a line end (CR LF, LF or CR) ends a field just as a comma does.
class FieldReader {
public:
    explicit FieldReader(std::string_view text) : m_text(text) {}

    bool atEnd() const { return m_pos >= m_text.size(); }

    std::string_view next()
    {
        while (m_pos < m_text.size() && m_text[m_pos] == ' ')
            ++m_pos;
        if (atEnd()) {
            // A comma just before the end still announces an (empty) last field.
            if (!m_commaPending)
                fail(errors::kInputPastEndOfFile);
            m_commaPending = false;
            return {};
        }

        std::string_view value;
        if (m_text[m_pos] == '"') {
            const std::size_t start = m_pos + 1;
            const std::size_t close = m_text.find('"', start);
            if (close == std::string_view::npos) {
                value = m_text.substr(start);
                m_pos = m_text.size();
            } else {
                value = m_text.substr(start, close - start);
                // Whatever stands between the closing quote and the end of the field is dropped.
                m_pos = fieldEnd(close + 1);
            }
        } else {
            const std::size_t end = fieldEnd(m_pos);
            value = m_text.substr(m_pos, end - m_pos);
            m_pos = end;
        }
        skipTerminator();
        return value;
    }

private:
    // Position of the next comma or line end, or the size of the text.
    std::size_t fieldEnd(std::size_t from) const
    {
        while (from < m_text.size()) {
            const char c = m_text[from];
            if (c == ',' || c == '\r' || c == '\n')
                break;
            ++from;
        }
        return from;
    }

    void skipTerminator()
    {
        m_commaPending = false;
        if (m_pos >= m_text.size()) {
            m_pos = m_text.size();
            return;
        }
        const char terminator = m_text[m_pos++];
        if (terminator == ',')
            m_commaPending = true;
        else if (terminator == '\r' && m_pos < m_text.size() && m_text[m_pos] == '\n')
            ++m_pos;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
    bool m_commaPending = false;
};

std::string_view trimSpaces(std::string_view field)
{
    const std::size_t first = field.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return field.substr(first, field.find_last_not_of(' ') - first + 1);
}

// Field 4 of a feed record: the icon of its kind, or none for a number that names no kind.
std::optional<std::string> kindImage(std::string_view field)
{
    std::string_view number = trimSpaces(field);
    if (number.starts_with('+') && !number.substr(1).starts_with('-'))
        number.remove_prefix(1);
    double value = 0;
    const char* end = number.data() + number.size();
    const auto [stop, ec] = std::from_chars(number.data(), end, value);
    if (number.empty() || ec != std::errc() || stop != end || !std::isfinite(value))
        fail(errors::kTypeMismatch);

    if (value == 0)
        return "IE";
    if (value == 1)
        return "XML";
    if (value == 2)
        return "XML2";
    if (value == 3)
        return "DOC";
    return std::nullopt;
}

void addRecords(FeedTree& tree, std::string_view text)
{
    std::string rootKey;
    std::string folderKey;
    FieldReader reader(text);
    while (!reader.atEnd()) {
        const std::string_view name = reader.next();
        const std::string_view second = reader.next();
        const std::string_view third = reader.next();
        const std::string_view fourth = reader.next();

        if (second == "ROOT_FOLDER") {
            tree.Add(std::nullopt, std::string(third), std::string(name), "CLOSE", "OPEN");
            rootKey = third;
            folderKey = third;
        } else if (second == "ADD_NEW_FOLDER") {
            tree.Add(rootKey, std::string(third), std::string(name), "CLOSE", "OPEN");
            folderKey = third;
        } else if (third == "CHILD_NODE") {
            if (const std::optional<std::string> image = kindImage(fourth))
                tree.Add(folderKey, std::string(second), std::string(name), *image);
        }
    }
}

}  // namespace

std::int32_t LoadBoard(FeedTree& tree, const std::string& path, ErrorBox& box)
{
    const auto report = [&box](int number, std::string_view description) {
        box.show(std::string(errors::kBoxTitle), errors::BoxText(number, description));
        return -1;
    };
    // Whatever ends the read, the program goes on without the rest of the board.
    try {
        const std::string text = DecodeAnsiText(readBoardFile(path));
        addRecords(tree, text);
        return 0;
    } catch (const ToolkitError& error) {
        return report(error.number(), error.what());
    } catch (const std::bad_alloc&) {
        return report(errors::kOutOfMemory.number, errors::kOutOfMemory.description);
    } catch (const std::length_error&) {
        return report(errors::kOutOfMemory.number, errors::kOutOfMemory.description);
    } catch (...) {
        return report(errors::kReadError.number, errors::kReadError.description);
    }
}

}  // namespace vantrel
