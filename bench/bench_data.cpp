#include "bench_data.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>

#include <iconv.h>
#include <unistd.h>

#include "bench_support.h"

namespace vantrel::bench {
namespace {

// A fixed generator rather than <random>: its distributions differ between standard libraries.
class Sequence {
public:
    explicit Sequence(std::uint64_t seed) : m_state(seed) {}
    std::uint32_t next()
    {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(m_state >> 33);
    }
    std::size_t below(std::size_t bound) { return next() % bound; }

private:
    std::uint64_t m_state;
};

constexpr std::array<std::string_view, 24> kWords = {"東京",   "経済",    "速報",     "政府",     "発表",   "市場",
                                                     "天気",   "選挙",    "国際",     "ニュース", "技術",   "研究",
                                                     "market", "update",  "report",   "council",  "energy", "science",
                                                     "sports", "weather", "election", "R&D",      "<new>",  "budget"};

constexpr std::array<std::string_view, 6> kAuthors = {"山田 太郎", "Jane Doe",  "佐藤 花子",
                                                      "News Desk", "鈴木 一郎", "A. N. Other"};

constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

void appendEscaped(std::string& out, std::string_view text)
{
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
}

std::string titleText(int item)
{
    Sequence words(static_cast<std::uint64_t>(item) * 7919 + 17);
    std::string title;
    const std::size_t count = 4 + words.below(6);
    for (std::size_t word = 0; word < count; ++word) {
        if (word > 0)
            title += ' ';
        title += kWords[words.below(kWords.size())];
    }
    title += " #" + std::to_string(item + 1);
    return title;
}

std::string number(int value, int width)
{
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    return digits;
}

// One <item>, its description filled up to exactly itemBytes bytes.
std::string rssItem(int item, std::size_t itemBytes, Sequence& filler)
{
    const std::string id = number(item + 1, 6);
    std::string head = "<item>\n<title>";
    appendEscaped(head, titleText(item));
    head += "</title>\n<link>https://news.example/articles/" + id + ".html</link>\n";
    const bool cdata = item % 3 == 0;
    head += cdata ? "<description><![CDATA[<p>" : "<description>";

    std::string tail = cdata ? "</p>]]></description>\n" : "</description>\n";
    tail += "<pubDate>" + std::string(kDays[static_cast<std::size_t>(item) % kDays.size()]) + ", " +
            number(1 + item % 28, 2) + " Dec 2026 " + number(item % 24, 2) + ":" + number(item % 60, 2) + ":" +
            number((item * 7) % 60, 2) + " +0900</pubDate>\n";
    tail += "<guid isPermaLink=\"false\">urn:vantrel:bench:" + id + "</guid>\n";
    tail += item % 2 == 0 ? "<dc:creator>" : "<author>";
    tail += kAuthors[static_cast<std::size_t>(item) % kAuthors.size()];
    tail += item % 2 == 0 ? "</dc:creator>\n" : "</author>\n";
    tail += "</item>\n";

    if (head.size() + tail.size() > itemBytes)
        throw std::logic_error("item quota too small");
    std::string body;
    const std::size_t room = itemBytes - head.size() - tail.size();
    for (;;) {
        std::string word(kWords[filler.below(kWords.size())]);
        std::string escaped;
        if (cdata)
            escaped = word;
        else
            appendEscaped(escaped, word);
        if (body.size() + escaped.size() + 1 > room)
            break;
        if (!body.empty())
            body += ' ';
        body += escaped;
    }
    body.append(room - body.size(), '.');
    return head + body + tail;
}

}  // namespace

std::string MakeRssFeed(std::size_t totalBytes, int itemCount)
{
    const std::string header =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
        "<channel>\n<title>Vantrel bench</title>\n<link>https://news.example/</link>\n"
        "<description>Generated headlines</description>\n<language>ja</language>\n";
    const std::string footer = "</channel>\n</rss>\n";
    if (itemCount <= 0 || header.size() + footer.size() > totalBytes)
        throw std::invalid_argument("impossible feed size");
    const std::size_t itemBytes = (totalBytes - header.size() - footer.size()) / static_cast<std::size_t>(itemCount);
    std::size_t extra = (totalBytes - header.size() - footer.size()) % static_cast<std::size_t>(itemCount);

    std::string feed;
    feed.reserve(totalBytes);
    feed += header;
    Sequence filler(20261207);
    for (int item = 0; item < itemCount; ++item) {
        const std::size_t bytes = itemBytes + (extra > 0 ? 1 : 0);
        if (extra > 0)
            --extra;
        feed += rssItem(item, bytes, filler);
    }
    feed += footer;
    return feed;
}

std::string FirstRssTitle()
{
    return titleText(0);
}

std::string MakeBoard(int nodeCount, bool utf8)
{
    std::string text;
    int root = 0;
    int folder = 0;
    for (int node = 0; node < nodeCount; ++node) {
        if (node % 2048 == 0) {
            ++root;
            text += "ルート " + std::to_string(root) + ",ROOT_FOLDER,root" + number(root, 3) + ",0\r\n";
        } else if (node % 64 == 0) {
            ++folder;
            text += "\"フォルダ, " + std::to_string(folder) + "\",ADD_NEW_FOLDER,folder" + number(folder, 4) + ",0\r\n";
        } else {
            const std::string name =
                std::string(kWords[static_cast<std::size_t>(node) % 12]) + "ニュース " + std::to_string(node);
            text += name + ",https://feeds.example/r" + std::to_string(root) + "/f" + std::to_string(folder) + "/feed" +
                    number(node, 5) + ".xml,CHILD_NODE," + std::to_string(node % 4) + "\r\n";
        }
    }
    if (utf8)
        return text;

    iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("no CP932 converter");
    std::string out(text.size(), '\0');
    char* in = text.data();
    std::size_t inLeft = text.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1))
        throw std::runtime_error("board text does not convert to CP932");
    out.resize(out.size() - outLeft);
    return out;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

const std::string& DataDir()
{
    static const std::string dir = [] {
        namespace fs = std::filesystem;
        if (const char* given = std::getenv("VANTREL_BENCH_DATA"); given && *given) {
            fs::create_directories(given);
            return std::string(given);
        }
        const fs::path own = fs::temp_directory_path() / ("vantrel-bench-" + std::to_string(getpid()));
        fs::create_directories(own);
        static const std::string removed = own.string();
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(removed, ignored);
        });
        return own.string();
    }();
    return dir;
}

}  // namespace vantrel::bench
