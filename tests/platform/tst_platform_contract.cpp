// What the program relies on of the operating system, checked alike natively and on Windows (a MinGW build run
// under Wine by tools/windows-check): files with Japanese names, the data paths, boards in code page 932, the
// executable's folder and the time texts. QtTest is not available for Windows here, hence the small harness.
//
//   tst_platform_contract [EXPECTED_EXECUTABLE_FOLDER]

#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "board/board_reader.h"
#include "board/data_paths.h"
#include "board/feed_tree.h"
#include "board/startup.h"
#include "feeds/download.h"
#include "feeds/status_line.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/executable_folder.h"
#include "platform/transfer.h"
#include "platform/utf8_path.h"

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

int g_passed = 0;
int g_failed = 0;
const char* g_group = "";

// Bytes outside ASCII are shown as escapes, so mojibake is visible whatever the console's code page.
std::string printable(std::string_view text)
{
    std::string result = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            result.push_back(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof(escape), "\\x%02x", byte);
            result += escape;
        }
    }
    return result + "\"";
}

bool check(bool condition, const char* expression, int line, const std::string& detail = {})
{
    if (condition) {
        ++g_passed;
        return true;
    }
    ++g_failed;
    std::printf("FAIL [%s] line %d: %s%s\n", g_group, line, expression, detail.c_str());
    return false;
}

bool checkEqual(const std::string& actual, const std::string& expected, const char* expression, int line)
{
    return check(actual == expected, expression, line,
                 "\n    actual:   " + printable(actual) + "\n    expected: " + printable(expected));
}

#define CHECK(condition) check((condition), #condition, __LINE__)
#define CHECK_EQ(actual, expected) checkEqual((actual), (expected), #actual " == " #expected, __LINE__)

std::string utf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string readFile(const std::string& path)
{
    std::ifstream in(Utf8Path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool writeFile(const std::string& path, std::string_view bytes)
{
    std::ofstream out(Utf8Path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::vector<std::string> namesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(Utf8Path(folder), error), end; !error && entry != end; entry.increment(error))
        names.push_back(Utf8FileName(entry->path()));
    return names;
}

bool holdsTemporaryFile(const std::string& folder)
{
    for (const std::string& name : namesIn(folder)) {
        if (name.starts_with(kTemporaryPrefix))
            return true;
    }
    return false;
}

void setWritable(const std::string& path, bool writable)
{
    std::error_code ignored;
    fs::permissions(Utf8Path(path), fs::perms::owner_write, writable ? fs::perm_options::add : fs::perm_options::remove,
                    ignored);
}

// A fresh folder with a Japanese name under the system's temporary folder, removed with everything in it.
class WorkFolder {
public:
    WorkFolder()
    {
        std::random_device random;
        m_root = fs::temp_directory_path() / ("vantrel-check-" + std::to_string(random()));
        fs::create_directories(m_root / u8"作業 ①");
    }
    ~WorkFolder()
    {
        std::error_code ignored;
        for (fs::recursive_directory_iterator entry(m_root, ignored), end; !ignored && entry != end;
             entry.increment(ignored))
            setWritable(utf8(entry->path()), true);
        fs::remove_all(m_root, ignored);
    }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // A new folder (created) below the work folder, in UTF-8.
    std::string folder(std::string_view utf8Name) const
    {
        const fs::path path = m_root / u8"作業 ①" / Utf8Path(utf8Name);
        fs::create_directories(path);
        return utf8(path);
    }

private:
    fs::path m_root;
};

class OneBodyTransfer : public Transfer {
public:
    explicit OneBodyTransfer(std::string body) : m_body(std::move(body)) {}
    FetchResponse fetch(const std::string&) override { return {FetchResponse::Status::Ok, m_body, {}}; }

private:
    std::string m_body;
};

class LastCaption : public StatusLine {
public:
    void setCaption(const std::string& text) override { caption = text; }
    std::string caption;
};

class LastErrorBox : public ErrorBox {
public:
    void show(const std::string&, const std::string& text) override { lastText = text; }
    std::string lastText;
};

std::string joined(const std::string& folder, std::string_view name)
{
    return WithTrailingSeparator(folder) + std::string(name);
}

void checkCacheFileWithJapaneseName(const WorkFolder& work)
{
    g_group = "cache file with a Japanese name";
    const std::string appDir = work.folder("ティッカー㈱");
    fs::create_directories(Utf8Path(DataFolderPath(appDir, DataFolder::Cache)));
    const std::string fileName = "ニュース①.xml";
    LastCaption status;

    std::string cachePath;
    OneBodyTransfer longer("<rss>長い本文 ①㈱ ......</rss>");
    CHECK(DownloadFeed(longer, status, "http://127.0.0.1/a", fileName, {appDir, systemClock()}, cachePath) == 0);
    CHECK_EQ(cachePath, DataFilePath(appDir, DataFolder::Cache, fileName));
    CHECK_EQ(readFile(cachePath), "<rss>長い本文 ①㈱ ......</rss>");

    // Over the existing file: exactly the new bytes, nothing of the old ones.
    OneBodyTransfer shorter("<rss>①</rss>");
    CHECK(DownloadFeed(shorter, status, "http://127.0.0.1/a", fileName, {appDir, systemClock()}, cachePath) == 0);
    CHECK_EQ(readFile(cachePath), "<rss>①</rss>");

    // The name on disk is the Japanese name itself, and nothing else was left in the folder.
    const std::vector<std::string> names = namesIn(DataFolderPath(appDir, DataFolder::Cache));
    CHECK(names.size() == 1);
    CHECK_EQ(names.empty() ? std::string() : names.front(), fileName);
}

void checkFailedReplacementKeepsOldFile(const WorkFolder& work)
{
    g_group = "failed replacement keeps the old file";
    const std::string folder = work.folder("ログ㈱");

    const std::string readOnly = joined(folder, "読み取り専用①.xml");
    CHECK(writeFile(readOnly, "old bytes"));
    setWritable(readOnly, false);
    std::string error;
    // The user marked it so; the owner's mark stops root too.
    CHECK(!ReplaceFileContents(readOnly, "new", &error));
    CHECK(!error.empty());
    CHECK_EQ(readFile(readOnly), "old bytes");
    CHECK(!holdsTemporaryFile(folder));
#ifndef _WIN32
    // A private file stays private: the replacement does not take the umask's wider mode.
    const std::string ownerOnly = joined(folder, "私用.xml");
    CHECK(writeFile(ownerOnly, "old bytes"));
    fs::permissions(Utf8Path(ownerOnly), fs::perms::owner_read | fs::perms::owner_write);
    CHECK(ReplaceFileContents(ownerOnly, "new"));
    CHECK_EQ(readFile(ownerOnly), "new");
    CHECK(fs::status(Utf8Path(ownerOnly)).permissions() == (fs::perms::owner_read | fs::perms::owner_write));
#endif

    // A folder in the way: the new bytes are written beside it, and the rename fails.
    const std::string inTheWay = joined(folder, "フォルダー.xml");
    fs::create_directories(Utf8Path(inTheWay));
    error.clear();
    CHECK(!ReplaceFileContents(inTheWay, "new", &error));
    CHECK(!error.empty());
    CHECK(fs::is_directory(Utf8Path(inTheWay)));
    CHECK(!holdsTemporaryFile(folder));
}

void checkStaleTemporaryFilesRemoved(const WorkFolder& work)
{
    g_group = "stale temporary files";
    const std::string folder = work.folder("ログ①");
    const std::string prefix(kTemporaryPrefix);
    const std::string suffix(kTemporarySuffix);
    const std::string stale = joined(folder, prefix + "古い" + suffix);
    const std::string young = joined(folder, prefix + "新しい" + suffix);
    const std::string cache = joined(folder, "古いキャッシュ.xml");
    const auto anHourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const std::string& path : {stale, young, cache})
        CHECK(writeFile(path, "x"));
    std::error_code error;
    fs::last_write_time(Utf8Path(stale), anHourAgo, error);
    fs::last_write_time(Utf8Path(cache), anHourAgo, error);
    CHECK(!error);

    RemoveStaleTemporaryFiles(folder, std::chrono::minutes(10));
    CHECK(!fs::exists(Utf8Path(stale)));
    CHECK(fs::exists(Utf8Path(young)));
    CHECK(fs::exists(Utf8Path(cache)));
}

std::string foldedAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

void checkPathsAndExecutableFolder(const char* expectedFolder)
{
    g_group = "data paths and the executable's folder";
#ifdef _WIN32
    CHECK_EQ(DataFolderPath("C:\\", DataFolder::Boards), "C:\\data\\brd\\");
    CHECK_EQ(DataFilePath("C:\\", DataFolder::Cache, "ニュース.xml"), "C:\\data\\log\\ニュース.xml");
    CHECK_EQ(DataFolderPath("C:\\ティッカー①", DataFolder::Pictures), "C:\\ティッカー①\\data\\pic\\std\\");
#endif

    const std::string folder = ExecutableFolder();
    CHECK(!folder.empty() && IsValidUtf8(folder));
    // Found again through the wide-character calls only when the UTF-8 text is right.
    CHECK(fs::is_regular_file(Utf8Path(joined(folder, VANTREL_CHECK_EXECUTABLE))));
    if (expectedFolder)
        CHECK_EQ(foldedAscii(folder), foldedAscii(expectedFolder));
    const std::string boards = DataFolderPath(folder, DataFolder::Boards);
    const std::string doubled(2, kPathSeparator);
    CHECK(boards.starts_with(folder) && boards.find(doubled, folder.size() - 1) == std::string::npos);
}

void checkCodePage932Boards(const WorkFolder& work)
{
    g_group = "board in code page 932";
    const std::string appDir = work.folder("ボード①");
    const std::string boards = DataFolderPath(appDir, DataFolder::Boards);
    fs::create_directories(Utf8Path(boards));
    // ニュース①,ROOT_FOLDER,jp,0 / ㈱表示ソフト,…,CHILD_NODE,1 / "ｱｲ, 半角㈱",…,CHILD_NODE,3; the ㈱ once from the NEC
    // row (87 8A) and once from the IBM extension (FA 58), and 0x5C as a second byte in 表 and ソ.
    CHECK(writeFile(boards + "日本①.brd",
                    "\x83\x6a\x83\x85\x81\x5b\x83\x58\x87\x40,ROOT_FOLDER,jp,0\r\n"
                    "\x87\x8a\x95\x5c\x8e\xa6\x83\x5c\x83\x74\x83\x67,http://feeds.example.jp/a.xml,CHILD_NODE,1\r\n"
                    "\"\xb1\xb2, \x94\xbc\x8a\x70\xfa\x58\",http://feeds.example.jp/b.xml,CHILD_NODE,3\r\n"));

    FeedTree tree;
    LastErrorBox box;
    std::int16_t feedIndex = 0;
    LoadFirstBoard(appDir, tree, box, feedIndex);
    CHECK_EQ(box.lastText, "");
    CHECK(feedIndex == 1);
    if (CHECK(tree.Count() == 3)) {
        const bool japanese = CHECK_EQ(tree.Item(1).Text, "ニュース①");
        CHECK_EQ(tree.Item(2).Text, "㈱表示ソフト");
        CHECK_EQ(tree.Item(3).Text, "ｱｲ, 半角㈱");
        CHECK_EQ(tree.Item(3).Image, "DOC");
        if (!japanese)
            std::printf("    (a Japanese locale must be installed and named by LANG for code page 932)\n");
    }

    // Bytes that do not decode become U+FFFD one by one; the comma after a stray lead byte still ends the field.
    CHECK_EQ(DecodeAnsiText("\x95\x5c\x95"), "表\xEF\xBF\xBD");
    CHECK_EQ(DecodeAnsiText("\x95,\x95\x5c"), "\xEF\xBF\xBD,表");
}

int digitGroups(std::string_view text)
{
    int groups = 0;
    bool inGroup = false;
    for (const char c : text) {
        const bool digit = c >= '0' && c <= '9';
        groups += digit && !inGroup;
        inGroup = digit;
    }
    return groups;
}

bool soundText(const std::string& text)
{
    return !text.empty() && IsValidUtf8(text) && text.find("\xEF\xBF\xBD") == std::string::npos &&
           text.find('?') == std::string::npos;
}

std::string currentYear()
{
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    return std::to_string(local->tm_year + 1900);
}

void checkTimeTexts()
{
    g_group = "time texts";
    const std::string yearBefore = currentYear();
    const std::string time = systemClock().timeOfDay();
    const std::string date = systemClock().dateTime();
    const std::string yearAfter = currentYear();

    CHECK(soundText(time));
    CHECK(soundText(date));
    CHECK(digitGroups(time) >= 3);  // hours, minutes and seconds
    CHECK(digitGroups(date) >= 6);
    std::printf("time texts: %s / %s\n", printable(time).c_str(), printable(date).c_str());
#ifdef _WIN32
    // Windows writes the whole year in its standard forms; the C runtime's "%x" gives two digits.
    CHECK(date.find(yearBefore) != std::string::npos || date.find(yearAfter) != std::string::npos);
#else
    // The C locale writes a two-digit year; the Japanese form starts with the whole year.
    const char* timeLocale = std::setlocale(LC_TIME, nullptr);
    if (timeLocale && std::string_view(timeLocale).starts_with("ja_JP"))
        CHECK(date.starts_with(yearBefore) || date.starts_with(yearAfter));
#endif
}

}  // namespace

int main(int argc, char* argv[])
{
#ifndef _WIN32
    // The window toolkit sets the locale from the environment at start on Unix; the time texts follow it.
    std::setlocale(LC_ALL, "");
#endif
    const char* expectedFolder = argc > 1 ? argv[1] : nullptr;
    try {
        WorkFolder work;
        checkCacheFileWithJapaneseName(work);
        checkFailedReplacementKeepsOldFile(work);
        checkStaleTemporaryFilesRemoved(work);
        checkPathsAndExecutableFolder(expectedFolder);
        checkCodePage932Boards(work);
        checkTimeTexts();
    } catch (const std::exception& error) {
        ++g_failed;
        std::printf("FAIL [%s] exception: %s\n", g_group, error.what());
    }
    std::printf("tst_platform_contract: %d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
