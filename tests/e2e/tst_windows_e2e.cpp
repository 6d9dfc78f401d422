#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include <iconv.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

#include "e2e_harness.h"
#include "loopback_server.h"
#include "tls_relay.h"

using namespace vantrel::e2e;
using vantrel::test::LoopbackServer;
using vantrel::test::ScriptedResponse;
using vantrel::test::TlsRelay;

namespace {

const QString kProgram = QStringLiteral("vantrel.exe");
const QString kTitle = QStringLiteral("Vantrel");
// Where a user might unpack the ZIP; the program's own folder then has a name outside ASCII.
const QString kFolderName = QStringLiteral("ティッカー ①");
// ① and ㈱ exist only in code page 932, not in plain Shift_JIS; ソ and 表 end in the byte 0x5C, which a
// byte-wise path split would take for a backslash.
const QString kRoot = QStringLiteral("ニュース①");
const QString kAlpha = QStringLiteral("①ソフト速報");
const QString kFolder = QStringLiteral("㈱経済");
const QString kBeta = QStringLiteral("㈱表示");
// Wine's first start on a new display starts its desktop process too, which takes seconds.
constexpr Milliseconds kStart = 60s;
constexpr Milliseconds kFetched = 20s;
// The first title comes at once where the label stands; only long after would the scroll bring it in anyway.
constexpr Milliseconds kShownAtOnce = 5s;
// Long enough for a few screenshots of the announce text before the answer comes.
constexpr auto kAnnounceTime = std::chrono::milliseconds(2500);

// What a Japanese Windows editor saves: code page 932 with CR LF line ends.
QByteArray codePage932(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    utf8.replace("\n", "\r\n");
    const iconv_t converter = iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return {};
    QByteArray result(utf8.size() * 2, '\0');
    char* in = utf8.data();
    std::size_t inLeft = static_cast<std::size_t>(utf8.size());
    char* out = result.data();
    std::size_t outLeft = static_cast<std::size_t>(result.size());
    const bool converted = iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    if (!converted)
        return {};
    result.truncate(result.size() - static_cast<qsizetype>(outLeft));
    return result;
}

bool hidesSolidBand(const StripCoverage& coverage)
{
    return !showsSolidBand(coverage);
}

QString report(const ToolResult& result)
{
    return QString::fromLocal8Bit(result.output + result.errors);
}

// The one file of the package folder that matches, empty when there is none or more than one.
QString packageFile(const QString& build, const QString& pattern)
{
    const QDir package(build + QStringLiteral("/package"));
    const QStringList found = package.entryList({pattern}, QDir::Files);
    return found.size() == 1 ? package.filePath(found.first()) : QString();
}

}  // namespace

// The Windows build, run by Wine as a Japanese user would run it: the portable ZIP unpacked into a folder of
// its own, and the installer run silently. Wine runs in the prefix of WINEPREFIX on the harness's display.
class TestWindowsE2e : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void windowOpensFramelessAtTheTopLeftAndNotTopmost();
    void readyTextScrollsButNeverFillsTheStrip();
    void refreshCachesTheServedBytesUnderTheJapaneseFeedName();
    void nextFeedSkipsTheFolderAndWrapsToTheFirstFeed();
    void notFoundKeepsTheCachedBytesAndTheEarlierHeadlines();
    void httpsFeedIsFetchedOnlyUnderATrustedAuthority_data();
    void httpsFeedIsFetchedOnlyUnderATrustedAuthority();
    void leftDragMovesTheWindowByTheSameDistance_data();
    void leftDragMovesTheWindowByTheSameDistance();
    void rightReleaseOnTheSurfaceOpensTheMenuAtThePointer();
    void alwaysOnTopItemTogglesTheTopmostStyle();
    void ctrlXDuringAStalledFetchEndsWithStatusZero();
    void silentInstallPutsTheProgramAndItsStartMenuEntryInPlace();
    void installedProgramSeedsTheUsersDataFolderAndFetchesIntoIt();
    void silentUninstallRemovesTheProgramButKeepsTheUsersData();

private:
    // The board of kRoot, kAlpha, kFolder and kBeta; or of the feeds given, under kRoot.
    QByteArray board() const;
    static QByteArray board(const std::vector<std::pair<QString, std::string>>& feeds);
    // Unpacks the ZIP, writes the board in place of the default one and starts the program.
    bool startPortable(const QByteArray& board);
    // "topmost" or "normal", as Windows holds the window's styles.
    QString topmost() const;
    QString failure(const QString& what, const StripCoverage& coverage = {}) const;

    std::unique_ptr<VirtualDisplay> m_display;
    std::unique_ptr<WinePrefix> m_wine;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<AppFolder> m_folder;
    std::unique_ptr<TickerApp> m_app;
    QString m_zip;
    QString m_installer;
    QString m_probe;
    QByteArray m_alphaBytes;
    QByteArray m_betaBytes;
    // Linux paths of the installed program's folders, found by the install case.
    QString m_installFolder;
    QString m_startMenuEntry;
    QString m_userData;
};

void TestWindowsE2e::initTestCase()
{
    const QString build = qEnvironmentVariable("VANTREL_WINDOWS_BUILD");
    if (build.isEmpty())
        QSKIP("needs the Windows build: run tools/windows-check");
    QStringList missing = missingTools(true);
    for (const char* tool : {"wine", "wineserver", "winepath", "unzip"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    }
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("missing %1 (tools/install-deps --tests --windows)")
                                               .arg(missing.join(QStringLiteral(", ")))));
    m_zip = packageFile(build, QStringLiteral("vantrel-*-windows-x64.zip"));
    m_installer = packageFile(build, QStringLiteral("vantrel-*-windows-x64.exe"));
    m_probe = build + QStringLiteral("/vantrel_window_probe.exe");
    QVERIFY2(!m_zip.isEmpty() && !m_installer.isEmpty(), qPrintable("no single ZIP and installer in " + build));
    QVERIFY2(QFileInfo(m_probe).isFile(), qPrintable("no " + m_probe));
    QVERIFY2(!codePage932(kAlpha).isEmpty(), "glibc has no converter for code page 932");

    m_display = std::make_unique<VirtualDisplay>(VirtualDisplay::Options{.windowManager = true});
    QVERIFY2(m_display->isReady(), qPrintable(m_display->errorString()));
    const QString prefix = qEnvironmentVariable("WINEPREFIX", build + QStringLiteral("/wine-prefix"));
    m_wine = std::make_unique<WinePrefix>(*m_display, prefix);
    // As an administrator would add a company's authority; Qt's Schannel backend checks the chain through
    // crypt32, which reads this store (under Wine too, where GnuTLS only carries the connection).
    const ToolResult trusted = m_wine->run(
        m_probe, {QStringLiteral("trust"), WinePrefix::windowsPath(QStringLiteral(VANTREL_TEST_DATA "/tls/ca.pem"))});
    QVERIFY2(trusted.ok(), qPrintable("the test authority was not added: " + report(trusted)));

    m_alphaBytes =
        servedBytes(rssDocument({{solidBandTitle(), QStringLiteral("http://127.0.0.1/alpha/1")},
                                 {QStringLiteral("二番目の見出し①"), QStringLiteral("http://127.0.0.1/alpha/2")}}));
    m_betaBytes = servedBytes(rssDocument({{thinLineTitle(), QStringLiteral("http://127.0.0.1/beta/1")}}));
}

void TestWindowsE2e::cleanupTestCase()
{
    m_wine.reset();
    m_display.reset();
}

void TestWindowsE2e::init()
{
    m_server = std::make_unique<LoopbackServer>();
    m_server->setRoute("/alpha.xml", ScriptedResponse::ok(m_alphaBytes.toStdString()));
    m_server->setRoute("/beta.xml", ScriptedResponse::ok(m_betaBytes.toStdString()));
}

void TestWindowsE2e::cleanup()
{
    // Leaves no button held for the next test, whatever this one left behind.
    if (m_display)
        m_display->release(Qt::LeftButton);
    m_app.reset();
    m_folder.reset();
    m_server.reset();
}

QByteArray TestWindowsE2e::board() const
{
    const auto url = [&](const char* path) { return QString::fromStdString(m_server->url(path)); };
    return codePage932(kRoot + ",ROOT_FOLDER,jp,0\n" + kAlpha + "," + url("/alpha.xml") + ",CHILD_NODE,1\n" + kFolder +
                       ",ADD_NEW_FOLDER,keizai,0\n" + kBeta + "," + url("/beta.xml") + ",CHILD_NODE,1\n");
}

QByteArray TestWindowsE2e::board(const std::vector<std::pair<QString, std::string>>& feeds)
{
    QString lines = kRoot + ",ROOT_FOLDER,jp,0\n";
    for (const auto& [text, url] : feeds)
        lines += text + "," + QString::fromStdString(url) + ",CHILD_NODE,1\n";
    return codePage932(lines);
}

bool TestWindowsE2e::startPortable(const QByteArray& board)
{
    m_folder = std::make_unique<AppFolder>(m_zip, kFolderName, kProgram);
    if (!m_folder->isReady()) {
        qWarning("%s", qPrintable(m_folder->errorString()));
        return false;
    }
    // The user's own board takes the place of the one that comes with the program.
    if (board.isEmpty() || !m_folder->writeBoard(board, QStringLiteral("default.brd")))
        return false;
    m_app = std::make_unique<TickerApp>(*m_display, *m_wine, m_folder->executable(), m_folder->path());
    if (m_app->start(kStart))
        return true;
    qWarning("%s", qPrintable(m_app->errorString()));
    return false;
}

QString TestWindowsE2e::topmost() const
{
    const ToolResult asked = m_wine->run(m_probe, {kTitle});
    return asked.ok() ? QString::fromLatin1(asked.output.trimmed()) : report(asked);
}

QString TestWindowsE2e::failure(const QString& what, const StripCoverage& coverage) const
{
    return QStringLiteral("%1 (%2; window at %3; cache files: %4; program output: %5)")
        .arg(what, describe(coverage), m_app ? describe(m_app->geometry().topLeft()) : QString(),
             m_folder ? m_folder->cacheFiles().join(", ") : QString(),
             QString::fromLocal8Bit(m_app ? m_app->output() : QByteArray()));
}

void TestWindowsE2e::windowOpensFramelessAtTheTopLeftAndNotTopmost()
{
    QVERIFY2(startPortable(board()), "the program did not start");
    // A frame of the window manager or of Windows would move the strip off the corner or change its size.
    QCOMPARE(m_app->geometry(), QRect(QPoint(0, 0), layout::kWindowSize));
    QCOMPARE(topmost(), QStringLiteral("normal"));
}

void TestWindowsE2e::readyTextScrollsButNeverFillsTheStrip()
{
    QVERIFY2(startPortable(board()), "the program did not start");
    const QImage first = m_app->grabStrip();
    double mostWhite = 0;
    bool moved = false;
    for (int shot = 0; shot < 10; ++shot) {
        const QImage strip = m_app->grabStrip();
        const StripCoverage coverage = measureStrip(strip);
        QVERIFY2(coverage.anyWhite < 0.6 && coverage.solid < 0.1, qPrintable(failure("strip filled", coverage)));
        mostWhite = std::max(mostWhite, coverage.anyWhite);
        moved = moved || strip != first;
        QTest::qWait(150);
    }
    QVERIFY2(mostWhite > 0.05, qPrintable(failure("no headline seen")));
    // Moved by the window's timer, which on Windows is Qt's Windows timer, not the one the Linux suites see.
    QVERIFY2(moved, qPrintable(failure("the headline stands still")));
    QVERIFY(m_server->requests().empty());
    QCOMPARE(m_folder->cacheFiles(), QStringList());
}

void TestWindowsE2e::refreshCachesTheServedBytesUnderTheJapaneseFeedName()
{
    QVERIFY2(startPortable(board()), "the program did not start");
    QVERIFY(m_app->click(layout::kRefreshButton));
    // Byte for byte: a file written in text mode would have CR CR LF for each CR LF.
    const QString cache = m_folder->cacheFile(kAlpha);
    QVERIFY2(waitForFile(cache, m_alphaBytes, kFetched), qPrintable(failure("no cache file")));
    QCOMPARE(m_folder->cacheFiles(), QStringList{kAlpha + ".xml"});
    QCOMPARE(m_server->requestCount("/alpha.xml"), std::size_t{1});
    QCOMPARE(m_server->requestCount("/beta.xml"), std::size_t{0});
    StripCoverage coverage;
    QVERIFY2(waitForStrip(*m_app, showsSolidBand, kShownAtOnce, &coverage),
             qPrintable(failure("first title not shown", coverage)));
}

void TestWindowsE2e::nextFeedSkipsTheFolderAndWrapsToTheFirstFeed()
{
    QVERIFY2(startPortable(board()), "the program did not start");
    StripCoverage coverage;
    QVERIFY(m_app->click(layout::kRefreshButton));
    QVERIFY2(waitForStrip(*m_app, showsSolidBand, kFetched, &coverage),
             qPrintable(failure("alpha not shown", coverage)));

    QVERIFY(m_app->click(layout::kNextFeedButton));
    QVERIFY2(waitForFile(m_folder->cacheFile(kBeta), m_betaBytes, kFetched), qPrintable(failure("no beta cache")));
    QVERIFY2(waitForStrip(*m_app, showsThinLine, kShownAtOnce, &coverage),
             qPrintable(failure("beta not shown", coverage)));
    QCOMPARE(m_server->requestCount("/alpha.xml"), std::size_t{1});

    // Past the last feed: wraps, skips the root folder and fetches the first feed again.
    QVERIFY(m_app->click(layout::kNextFeedButton));
    QVERIFY2(waitUntil([&] { return m_server->requestCount("/alpha.xml") == 2; }, kFetched),
             qPrintable(failure("no second alpha fetch")));
    QVERIFY2(waitForStrip(*m_app, showsSolidBand, kShownAtOnce, &coverage),
             qPrintable(failure("alpha not back", coverage)));
    QCOMPARE(m_server->requestCount("/beta.xml"), std::size_t{1});
    QCOMPARE(m_folder->cacheFiles(), (QStringList{kAlpha + ".xml", kBeta + ".xml"}));
}

void TestWindowsE2e::notFoundKeepsTheCachedBytesAndTheEarlierHeadlines()
{
    QVERIFY2(startPortable(board()), "the program did not start");
    StripCoverage coverage;
    QVERIFY(m_app->click(layout::kRefreshButton));
    QVERIFY2(waitForStrip(*m_app, showsSolidBand, kFetched, &coverage),
             qPrintable(failure("alpha not shown", coverage)));
    const QString cache = m_folder->cacheFile(kAlpha);
    QCOMPARE(readFile(cache), m_alphaBytes);

    ScriptedResponse notFound = ScriptedResponse::withStatus(
        404, "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head><body>Not Found</body></html>\n");
    notFound.delayBeforeHeaders = kAnnounceTime;
    m_server->setRoute("/alpha.xml", notFound);
    QVERIFY(m_app->click(layout::kRefreshButton));
    QVERIFY2(waitForStrip(*m_app, hidesSolidBand, kAnnounceTime, &coverage),
             qPrintable(failure("the announce text never replaced the first row", coverage)));
    QVERIFY2(waitForStrip(*m_app, showsSolidBand, kFetched, &coverage),
             qPrintable(failure("the earlier first row did not come back", coverage)));
    QCOMPARE(m_server->requestCount("/alpha.xml"), std::size_t{2});
    QCOMPARE(readFile(cache), m_alphaBytes);
    QCOMPARE(m_folder->cacheFiles(), QStringList{kAlpha + ".xml"});
}

void TestWindowsE2e::httpsFeedIsFetchedOnlyUnderATrustedAuthority_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<bool>("fetched");
    QTest::newRow("signed by the authority in the root store") << "trusted.pem" << true;
    QTest::newRow("self-signed") << "self-signed.pem" << false;
}

void TestWindowsE2e::httpsFeedIsFetchedOnlyUnderATrustedAuthority()
{
    QFETCH(QString, certificate);
    QFETCH(bool, fetched);
    const QString tls = QStringLiteral(VANTREL_TEST_DATA "/tls/");
    TlsRelay relay(tls + certificate, tls + "key.pem", m_server->port());
    const QString secure = QStringLiteral("暗号①");
    QVERIFY2(startPortable(board({{secure, relay.url("/alpha.xml")}, {kBeta, m_server->url("/beta.xml")}})),
             "the program did not start");

    // Fetches run one after the other: once the plain feed is cached, the secure one is over.
    QVERIFY(m_app->click(layout::kRefreshButton));
    QVERIFY(m_app->click(layout::kNextFeedButton));
    QVERIFY2(waitForFile(m_folder->cacheFile(kBeta), m_betaBytes, kFetched),
             qPrintable(failure("the plain feed was not fetched")));
    if (fetched) {
        QCOMPARE(readFile(m_folder->cacheFile(secure)), m_alphaBytes);
        QCOMPARE(m_server->requestCount("/alpha.xml"), std::size_t{1});
    } else {
        QCOMPARE(m_folder->cacheFiles(), QStringList{kBeta + ".xml"});
        QCOMPARE(m_server->requestCount("/alpha.xml"), std::size_t{0});
    }
}

void TestWindowsE2e::leftDragMovesTheWindowByTheSameDistance_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::newRow("window surface") << layout::kSurface;
    // Right of the ready text at start, which scrolls leftwards from x = 8.
    QTest::newRow("empty part of the strip") << QPoint(300, 15);
}

void TestWindowsE2e::leftDragMovesTheWindowByTheSameDistance()
{
    QFETCH(QPoint, at);
    QVERIFY2(startPortable(board()), "the program did not start");
    const QPoint distance(120, 60);
    const QPoint start = m_app->geometry().topLeft();
    QVERIFY2(m_app->isBlankAround(at), "the headline is under the pointer");
    QVERIFY(m_app->drag(at, distance));
    QVERIFY2(m_app->waitForPlace(start + distance, 3s),
             qPrintable(failure("expected at " + describe(start + distance))));
    QCOMPARE(m_app->geometry().size(), layout::kWindowSize);
}

void TestWindowsE2e::rightReleaseOnTheSurfaceOpensTheMenuAtThePointer()
{
    QVERIFY2(startPortable(board()), "the program did not start");
    QVERIFY2(m_app->openMenu(5s), qPrintable(failure("no menu")));
    QStringList windows = m_app->visibleWindows();
    windows.removeAll(m_app->windowId());
    QCOMPARE(windows.size(), 1);
    const QPoint menuAt = m_app->geometryOf(windows.first()).topLeft();
    QVERIFY2(near(menuAt, m_app->geometry().topLeft() + layout::kSurface),
             qPrintable(failure("menu at " + describe(menuAt))));

    QVERIFY(m_app->keys("Escape"));
    QVERIFY2(waitUntil([&] { return m_app->visibleWindows().size() == 1; }, 5s), qPrintable(failure("menu stays")));
}

void TestWindowsE2e::alwaysOnTopItemTogglesTheTopmostStyle()
{
    QVERIFY2(startPortable(board()), "the program did not start");
    const QRect before = m_app->geometry();
    for (const char* expected : {"topmost", "normal"}) {
        QVERIFY2(m_app->openMenu(5s), qPrintable(failure("no menu")));
        QVERIFY(m_app->keys("Down Down Return"));
        QString styles;
        QVERIFY2(waitUntil([&] { return (styles = topmost()) == expected; }, 10s),
                 qPrintable(failure(QStringLiteral("expected %1, the probe says %2").arg(expected, styles))));
        QCOMPARE(m_app->geometry(), before);
    }
}

void TestWindowsE2e::ctrlXDuringAStalledFetchEndsWithStatusZero()
{
    ScriptedResponse stall = ScriptedResponse::ok("<rss/>");
    stall.delayBeforeHeaders = std::chrono::hours(1);
    m_server->setRoute("/alpha.xml", stall);
    QVERIFY2(startPortable(board()), "the program did not start");
    QVERIFY(m_app->click(layout::kRefreshButton));
    QVERIFY2(waitUntil([&] { return m_server->requestCount("/alpha.xml") == 1; }, kFetched), "no fetch under way");

    QVERIFY(m_app->activate());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(m_app->keys("ctrl+x"));
    QVERIFY2(m_app->waitForExit(2s), qPrintable(failure("still running")));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QStringLiteral("took %1 ms").arg(clock.elapsed())));
    QCOMPARE(m_app->exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_app->exitCode(), 0);
    QCOMPARE(m_folder->cacheFiles(), QStringList());
}

void TestWindowsE2e::silentInstallPutsTheProgramAndItsStartMenuEntryInPlace()
{
    const QString programFiles = m_wine->linuxPath(m_wine->variable(QStringLiteral("ProgramFiles")));
    const QString localAppData = m_wine->linuxPath(m_wine->variable(QStringLiteral("LOCALAPPDATA")));
    QVERIFY2(!programFiles.isEmpty() && !localAppData.isEmpty(), "the prefix names no program or data folder");
    m_installFolder = programFiles + QStringLiteral("/Vantrel");
    m_userData = localAppData + QStringLiteral("/vantrel/data");
    // An earlier run's data: the uninstaller leaves it by design.
    QVERIFY(QDir(localAppData + QStringLiteral("/vantrel")).removeRecursively());

    const ToolResult installed = m_wine->run(WinePrefix::windowsPath(m_installer), {QStringLiteral("/S")}, 300s);
    QVERIFY2(installed.ok(), qPrintable("the installer failed: " + report(installed)));
    const QDir folder(m_installFolder);
    for (const char* file : {"vantrel.exe", "Uninstall.exe", "defaults/brd/default.brd", "defaults/pic/std/load.jpg"})
        QVERIFY2(folder.exists(QString::fromLatin1(file)), file);
    // A data folder beside the program would make it write into Program Files.
    QVERIFY(!folder.exists(QStringLiteral("data")));

    QStringList entries;
    for (const char* menu : {"ProgramData", "APPDATA"}) {
        const QString programs = m_wine->linuxPath(m_wine->variable(QString::fromLatin1(menu))) +
                                 QStringLiteral("/Microsoft/Windows/Start Menu/Programs/Vantrel/Vantrel.lnk");
        if (QFileInfo(programs).isFile())
            entries << programs;
    }
    QCOMPARE(entries.size(), 1);
    m_startMenuEntry = entries.first();
    // The shortcut names its target in the ANSI code page, in UTF-16, or both.
    const QByteArray shortcut = readFile(m_startMenuEntry);
    const QString target = kProgram;
    const QByteArray wide(reinterpret_cast<const char*>(target.utf16()), target.size() * 2);
    QVERIFY2(shortcut.contains(target.toLatin1()) || shortcut.contains(wide),
             "the Start menu entry names no vantrel.exe");
}

void TestWindowsE2e::installedProgramSeedsTheUsersDataFolderAndFetchesIntoIt()
{
    QVERIFY2(QFileInfo(m_installFolder + QStringLiteral("/vantrel.exe")).isFile(), "not installed");
    const QString program = m_wine->variable(QStringLiteral("ProgramFiles")) + QStringLiteral("\\Vantrel\\vantrel.exe");
    {
        TickerApp app(*m_display, *m_wine, program, m_installFolder);
        QVERIFY2(app.start(kStart), qPrintable(app.errorString()));
        QCOMPARE(readFile(m_userData + "/brd/default.brd"),
                 readFile(m_installFolder + QStringLiteral("/defaults/brd/default.brd")));
        QCOMPARE(QDir(m_userData + "/pic/std").entryList(QDir::Files),
                 QStringList({"load.jpg", "next.jpg", "normal.jpg", "push.jpg"}));
        QVERIFY(QDir(m_userData + "/log").isEmpty());
    }

    QVERIFY(writeFile(m_userData + "/brd/default.brd", board({{kAlpha, m_server->url("/alpha.xml")}})));
    TickerApp app(*m_display, *m_wine, program, m_installFolder);
    QVERIFY2(app.start(kStart), qPrintable(app.errorString()));
    QVERIFY(app.click(layout::kRefreshButton));
    QVERIFY2(waitForFile(m_userData + "/log/" + kAlpha + ".xml", m_alphaBytes, kFetched),
             qPrintable("no cache file; program output: " + QString::fromLocal8Bit(app.output())));
    QCOMPARE(m_server->requestCount("/alpha.xml"), std::size_t{1});
    QVERIFY(!QDir(m_installFolder).exists(QStringLiteral("data")));
}

void TestWindowsE2e::silentUninstallRemovesTheProgramButKeepsTheUsersData()
{
    QVERIFY2(QFileInfo(m_installFolder + QStringLiteral("/Uninstall.exe")).isFile(), "not installed");
    const QByteArray userBoard = readFile(m_userData + "/brd/default.brd");
    const QString uninstaller =
        m_wine->variable(QStringLiteral("ProgramFiles")) + QStringLiteral("\\Vantrel\\Uninstall.exe");
    const ToolResult started = m_wine->run(uninstaller, {QStringLiteral("/S")});
    QVERIFY2(started.ok(), qPrintable(report(started)));
    // The uninstaller runs on from a copy of itself and removes the folder after this one has returned.
    QVERIFY2(waitUntil([&] { return !QFileInfo::exists(m_installFolder) && !QFileInfo::exists(m_startMenuEntry); },
                       120s, 500ms),
             qPrintable(
                 "left behind: " +
                 QDir(m_installFolder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).join(QStringLiteral(", "))));
    QCOMPARE(readFile(m_userData + "/brd/default.brd"), userBoard);
    QCOMPARE(readFile(m_userData + "/log/" + kAlpha + ".xml"), m_alphaBytes);
}

QTEST_GUILESS_MAIN(TestWindowsE2e)
#include "tst_windows_e2e.moc"
