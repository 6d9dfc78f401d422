#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QScopeGuard>
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
// ① and ㈱ exist only in code page 932, not in plain Shift_JIS; ソ and 表 end in the byte 0x5C, which a
// byte-wise path split would take for a backslash.
const QString kRoot = QStringLiteral("ニュース①");
const QString kAlpha = QStringLiteral("①ソフト速報");
const QString kFolder = QStringLiteral("㈱経済");
const QString kBeta = QStringLiteral("㈱表示");
constexpr Milliseconds kFetched = 20s;
// Long enough for a few screenshots of the announce text before the answer comes.
constexpr auto kAnnounceTime = std::chrono::milliseconds(2500);

// A server that takes this long to answer the handshake keeps the first https fetch waiting while the strip
// is watched. Loading TLS took 0.2-0.4 s of the window's thread here, most of it Wine filling the "ROOT" store
// from the host's certificate bundle at its first opening, where Windows reads the store from its registry.
constexpr auto kHandshakeDelay = std::chrono::milliseconds(4000);
constexpr Milliseconds kWatched = 3s;

bool hidesSolidBand(const StripCoverage& coverage)
{
    return !showsSolidBand(coverage);
}

QString report(const ToolResult& result)
{
    return QString::fromLocal8Bit(result.output + result.errors);
}

const char* const kUninstallKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantrel";

// The version in an installer's name, vantrel-VERSION-windows-x64.exe.
QString version(const QString& installer)
{
    return QFileInfo(installer).fileName().section(QLatin1Char('-'), 1, 1);
}

}  // namespace

// The Windows build, run by Wine as a Japanese user would run it: the portable ZIP unpacked into a folder of
// its own, and the installer run silently. Wine runs in the prefix of WINEPREFIX on the harness's display.
// The scenarios that the Linux suites hold run there too, against the ZIP.
class TestWindowsE2e : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void zipShipsQt68();
    void notFoundKeepsTheCachedBytesAndTheEarlierHeadlines();
    void httpsFeedIsFetchedOnlyUnderATrustedAuthority_data();
    void httpsFeedIsFetchedOnlyUnderATrustedAuthority();
    void silentInstallPutsTheProgramAndItsEntriesInPlace_data();
    void silentInstallPutsTheProgramAndItsEntriesInPlace();
    void installedProgramSeedsTheUsersDataFolderAndFetchesIntoIt();
    void upgradeClosesTheRunningProgramAndReplacesItInPlace();
    void autostartAddsAStartupShortcutThatUpgradesKeep();
    void silentUninstallRemovesItsOwnScopeButKeepsTheUsersData_data();
    void silentUninstallRemovesItsOwnScopeButKeepsTheUsersData();
    void linuxSuitesScenariosPassAgainstTheZip_data();
    void linuxSuitesScenariosPassAgainstTheZip();
    void windowKeepsTheCornerAtOneAndAHalfTimesItsSizeAt144Dpi();

private:
    // The board of kRoot, kAlpha, kFolder and kBeta; or of the feeds given, under kRoot.
    QString board() const;
    static QString board(const std::vector<std::pair<QString, std::string>>& feeds);
    // Unpacks the ZIP, writes the board in place of the default one and starts the program.
    bool startPortable(const QString& board);
    const WinePrefix& wine() const { return *m_launcher->wine(); }
    QString failure(const QString& what, const StripCoverage& coverage = {}) const;
    // Where an install of the scope of option (/CurrentUser or /AllUsers) puts the program and its entries;
    // the folders as Linux paths.
    struct InstallScope {
        QString option;
        QString key;
        QString windowsFolder;
        QString folder;
        QString startMenuEntry;
        QString startupEntry;
    };
    InstallScope scope(const QString& option) const;
    bool install(const QString& installer, const QStringList& options);

    std::unique_ptr<VirtualDisplay> m_display;
    std::unique_ptr<Launcher> m_launcher;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<AppFolder> m_folder;
    std::unique_ptr<TickerApp> m_app;
    QString m_build;
    QString m_installer;
    // The same sources one version later.
    QString m_nextInstaller;
    QString m_probe;
    QByteArray m_alphaBytes;
    QByteArray m_betaBytes;
    // The Linux path of the installed program's data, found by the install case.
    QString m_userData;
};

void TestWindowsE2e::initTestCase()
{
    m_build = qEnvironmentVariable("VANTREL_WINDOWS_BUILD");
    if (m_build.isEmpty())
        QSKIP("needs the Windows build: run tools/windows-check");
    const QStringList missing = missingTools(true);
    QVERIFY2(
        missing.isEmpty(),
        qPrintable(QStringLiteral("missing %1 (tools/install-deps --tests)").arg(missing.join(QStringLiteral(", ")))));
    m_installer = packageFile(m_build, QStringLiteral("vantrel-*-windows-x64.exe"));
    m_nextInstaller = packageFile(m_build + QStringLiteral("/next"), QStringLiteral("vantrel-*-windows-x64.exe"));
    m_probe = m_build + QStringLiteral("/vantrel_window_probe.exe");
    QVERIFY2(!m_installer.isEmpty(), qPrintable("no single installer in " + m_build));
    QVERIFY2(QFileInfo(m_probe).isFile(), qPrintable("no " + m_probe));

    m_display = std::make_unique<VirtualDisplay>(VirtualDisplay::Options{.windowManager = true});
    QVERIFY2(m_display->isReady(), qPrintable(m_display->errorString()));
    m_launcher = std::make_unique<Launcher>(*m_display, m_build);
    QVERIFY2(m_launcher->isReady(), qPrintable(m_launcher->errorString()));
    // As an administrator would add a company's authority; Qt's Schannel backend checks the chain through
    // crypt32, which reads this store (under Wine too, where GnuTLS only carries the connection).
    const ToolResult trusted = wine().run(
        m_probe, {QStringLiteral("trust"), WinePrefix::windowsPath(QStringLiteral(VANTREL_TEST_DATA "/tls/ca.pem"))});
    QVERIFY2(trusted.ok(), qPrintable("the test authority was not added: " + report(trusted)));

    m_alphaBytes =
        servedBytes(rssDocument({{solidBandTitle(), QStringLiteral("http://127.0.0.1/alpha/1")},
                                 {QStringLiteral("二番目の見出し①"), QStringLiteral("http://127.0.0.1/alpha/2")}}));
    m_betaBytes = servedBytes(rssDocument({{thinLineTitle(), QStringLiteral("http://127.0.0.1/beta/1")}}));
}

void TestWindowsE2e::cleanupTestCase()
{
    m_launcher.reset();
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

QString TestWindowsE2e::board() const
{
    const auto url = [&](const char* path) { return QString::fromStdString(m_server->url(path)); };
    return kRoot + ",ROOT_FOLDER,jp,0\n" + kAlpha + "," + url("/alpha.xml") + ",CHILD_NODE,1\n" + kFolder +
           ",ADD_NEW_FOLDER,keizai,0\n" + kBeta + "," + url("/beta.xml") + ",CHILD_NODE,1\n";
}

QString TestWindowsE2e::board(const std::vector<std::pair<QString, std::string>>& feeds)
{
    QString lines = kRoot + ",ROOT_FOLDER,jp,0\n";
    for (const auto& [text, url] : feeds)
        lines += text + "," + QString::fromStdString(url) + ",CHILD_NODE,1\n";
    return lines;
}

bool TestWindowsE2e::startPortable(const QString& board)
{
    m_folder = m_launcher->folder();
    if (!m_folder->isReady() || !m_folder->writeBoardText(board)) {
        qWarning("%s", qPrintable(m_folder->errorString()));
        return false;
    }
    m_app = m_launcher->app(*m_folder);
    if (m_app->start())
        return true;
    qWarning("%s", qPrintable(m_app->errorString()));
    return false;
}

QString TestWindowsE2e::failure(const QString& what, const StripCoverage& coverage) const
{
    return QStringLiteral("%1 (%2; window at %3; cache files: %4; program output: %5)")
        .arg(what, describe(coverage), m_app ? describe(m_app->geometry().topLeft()) : QString(),
             m_folder ? m_folder->cacheFiles().join(", ") : QString(),
             QString::fromLocal8Bit(m_app ? m_app->output() : QByteArray()));
}

// The toolkit the ZIP carries, as Qt6Core.dll's version resource names it.
void TestWindowsE2e::zipShipsQt68()
{
    m_folder = m_launcher->folder();
    QVERIFY2(m_folder->isReady(), qPrintable(m_folder->errorString()));
    const QString version =
        fileVersion(QFileInfo(m_folder->executable()).dir().filePath(QStringLiteral("Qt6Core.dll")));
    QVERIFY2(version.startsWith(QStringLiteral("6.8.")), qPrintable("Qt6Core.dll is not Qt 6.8: " + version));
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
    TlsRelay relay(tls + certificate, tls + "key.pem", m_server->port(), kHandshakeDelay);
    const QString secure = QStringLiteral("暗号①");
    QVERIFY2(startPortable(board({{secure, relay.url("/alpha.xml")}, {kBeta, m_server->url("/beta.xml")}})),
             "the program did not start");

    // The announce text takes the place where the ready text stands: clicked as that text comes in from the
    // right, it stays in sight while the first https fetch sets up TLS and waits for the handshake.
    const auto blank = [](const StripCoverage& strip) { return strip.anyWhite == 0; };
    const auto text = [](const StripCoverage& strip) { return strip.anyWhite > 0; };
    QVERIFY2(waitForStrip(*m_app, blank, 20s), qPrintable(failure("the strip was never blank")));
    QVERIFY2(waitForStrip(*m_app, text, 20s), qPrintable(failure("no ready text")));
    QVERIFY(m_app->click(layout::kRefreshButton));
    int shown = 0;
    const Milliseconds still = longestStillStrip(*m_app, kWatched, 100ms, &shown);
    QVERIFY2(shown >= kWatched / 200ms, qPrintable(failure("the strip was not in sight")));
    const QString stood = QStringLiteral("the strip stood still for %1 ms while the fetch waited").arg(still.count());
    QVERIFY2(still <= 300ms, qPrintable(failure(stood)));

    // Fetches run one after the other: once the plain feed is cached, the secure one is over.
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
    // The thread that loaded TLS stays; it holds up no exit.
    QVERIFY(m_app->activate());
    QVERIFY(m_app->keys("ctrl+x"));
    QVERIFY2(m_app->waitForExit(5s), qPrintable(failure("still running after Ctrl+X")));
    QVERIFY2(m_app->exitProblem().isEmpty(), qPrintable(m_app->exitProblem()));
}

TestWindowsE2e::InstallScope TestWindowsE2e::scope(const QString& option) const
{
    const bool user = option == QLatin1String("/CurrentUser");
    const QString menu = wine().variable(QString::fromLatin1(user ? "APPDATA" : "ProgramData")) +
                         QStringLiteral("\\Microsoft\\Windows\\Start Menu\\Programs");
    const QString folder = user
                               ? wine().variable(QStringLiteral("LOCALAPPDATA")) + QStringLiteral("\\Programs\\Vantrel")
                               : wine().variable(QStringLiteral("ProgramFiles")) + QStringLiteral("\\Vantrel");
    return {.option = option,
            .key = QString::fromLatin1(user ? "HKCU" : "HKLM") + QLatin1String(kUninstallKey),
            .windowsFolder = folder,
            .folder = wine().linuxPath(folder),
            .startMenuEntry = wine().linuxPath(menu) + QStringLiteral("/Vantrel/Vantrel.lnk"),
            .startupEntry = wine().linuxPath(menu + QStringLiteral("\\Startup")) + QStringLiteral("/Vantrel.lnk")};
}

bool TestWindowsE2e::install(const QString& installer, const QStringList& options)
{
    const ToolResult installed = wine().run(WinePrefix::windowsPath(installer), QStringList{"/S"} + options, 300s);
    if (!installed.ok())
        qWarning("the installer failed: %s", qPrintable(report(installed)));
    return installed.ok();
}

void TestWindowsE2e::silentInstallPutsTheProgramAndItsEntriesInPlace_data()
{
    QTest::addColumn<QString>("option");
    QTest::newRow("just me") << QStringLiteral("/CurrentUser");
    QTest::newRow("all users") << QStringLiteral("/AllUsers");
}

// Under Wine every user is an administrator and no elevation is asked for, so both scopes install as one user
// can; on Windows a user who is not one gets the per-user scope without a prompt.
void TestWindowsE2e::silentInstallPutsTheProgramAndItsEntriesInPlace()
{
    QFETCH(QString, option);
    const InstallScope installed = scope(option);
    const QString localAppData = wine().linuxPath(wine().variable(QStringLiteral("LOCALAPPDATA")));
    QVERIFY2(!installed.folder.isEmpty() && !localAppData.isEmpty(), "the prefix names no program or data folder");
    m_userData = localAppData + QStringLiteral("/vantrel/data");
    // An earlier run's data, which the uninstaller leaves by design, and its start at sign-in, which an install
    // keeps.
    QVERIFY(QDir(localAppData + QStringLiteral("/vantrel")).removeRecursively());

    QVERIFY(!QFileInfo::exists(installed.startupEntry) || QFile::remove(installed.startupEntry));
    QVERIFY(install(m_installer, {option}));
    const QDir folder(installed.folder);
    for (const char* file : {"vantrel.exe", "Uninstall.exe", "defaults/brd/default.brd", "defaults/pic/std/load.jpg"})
        QVERIFY2(folder.exists(QString::fromLatin1(file)), file);
    // A data folder beside the program would make it write into the program's folder.
    QVERIFY(!folder.exists(QStringLiteral("data")));

    // The entry that the list of apps and package managers read, in the hive of the scope.
    const QMap<QString, QString> entry = registryValues(wine(), installed.key);
    const QString uninstaller = '"' + installed.windowsFolder + QStringLiteral("\\Uninstall.exe\"");
    QCOMPARE(entry.value("DisplayName"), QStringLiteral("Vantrel"));
    QCOMPARE(entry.value("DisplayVersion"), version(m_installer));
    QCOMPARE(entry.value("Publisher"), QStringLiteral("The Vantrel developers"));
    QCOMPARE(entry.value("DisplayIcon"), installed.windowsFolder + QStringLiteral("\\vantrel.exe"));
    QCOMPARE(entry.value("InstallLocation"), installed.windowsFolder);
    QVERIFY2(entry.value("UninstallString").startsWith(uninstaller), qPrintable(entry.value("UninstallString")));
    QCOMPARE(entry.value("QuietUninstallString"), entry.value("UninstallString") + QStringLiteral(" /S"));
    // In KB, as Windows reads it.
    qint64 bytes = 0;
    for (QDirIterator it(installed.folder, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
        bytes += it.nextFileInfo().size();
    const qint64 size = entry.value("EstimatedSize").toLongLong(nullptr, 16);
    QVERIFY2(std::abs(size - bytes / 1024) <= bytes / 1024 / 20, qPrintable(entry.value("EstimatedSize")));
    // The shortcut names its target in the ANSI code page, in UTF-16, or both.
    const QByteArray shortcut = readFile(installed.startMenuEntry);
    const QString target = kProgram;
    const QByteArray wide(reinterpret_cast<const char*>(target.utf16()), target.size() * 2);
    QVERIFY2(shortcut.contains(target.toLatin1()) || shortcut.contains(wide),
             "the Start menu entry names no vantrel.exe");
    QVERIFY(!QFileInfo::exists(installed.startupEntry));
}

void TestWindowsE2e::installedProgramSeedsTheUsersDataFolderAndFetchesIntoIt()
{
    const InstallScope installed = scope(QStringLiteral("/AllUsers"));
    QVERIFY2(QFileInfo(installed.folder + QStringLiteral("/vantrel.exe")).isFile(), "not installed");
    const QString program = installed.windowsFolder + QStringLiteral("\\vantrel.exe");
    {
        TickerApp app(*m_display, wine(), program, installed.folder);
        QVERIFY2(app.start(), qPrintable(app.errorString()));
        QCOMPARE(readFile(m_userData + "/brd/default.brd"),
                 readFile(installed.folder + QStringLiteral("/defaults/brd/default.brd")));
        QCOMPARE(QDir(m_userData + "/pic/std").entryList(QDir::Files),
                 QStringList({"load.jpg", "load@2x.jpg", "next.jpg", "next@2x.jpg", "normal.jpg", "normal@2x.jpg",
                              "push.jpg", "push@2x.jpg"}));
        QVERIFY(QDir(m_userData + "/log").isEmpty());
    }

    QVERIFY(writeFile(m_userData + "/brd/default.brd", codePage932(board({{kAlpha, m_server->url("/alpha.xml")}}))));
    TickerApp app(*m_display, wine(), program, installed.folder);
    QVERIFY2(app.start(), qPrintable(app.errorString()));
    QVERIFY(app.click(layout::kRefreshButton));
    QVERIFY2(waitForFile(m_userData + "/log/" + kAlpha + ".xml", m_alphaBytes, kFetched),
             qPrintable("no cache file; program output: " + QString::fromLocal8Bit(app.output())));
    QCOMPARE(m_server->requestCount("/alpha.xml"), std::size_t{1});
    QVERIFY(!QDir(installed.folder).exists(QStringLiteral("data")));
}

// A later version installed while the earlier one runs: closed, replaced in its folder, one entry.
void TestWindowsE2e::upgradeClosesTheRunningProgramAndReplacesItInPlace()
{
    const InstallScope installed = scope(QStringLiteral("/CurrentUser"));
    QVERIFY2(!m_nextInstaller.isEmpty(), "no later installer: tools/windows-package --next");
    QVERIFY2(version(m_nextInstaller) != version(m_installer), qPrintable(m_nextInstaller));
    QCOMPARE(fileVersion(installed.folder + QStringLiteral("/vantrel.exe")), version(m_installer));
    const QByteArray userBoard = readFile(m_userData + "/brd/default.brd");

    TickerApp running(*m_display, wine(), installed.windowsFolder + QStringLiteral("\\vantrel.exe"), installed.folder);
    QVERIFY2(running.start(), qPrintable(running.errorString()));
    QVERIFY(install(m_nextInstaller, {installed.option}));
    // Wine lets a running program's file be replaced, where Windows refuses: here the fault shows as a program
    // left running.
    QVERIFY2(running.waitForExit(5s), "the installer left the program running");
    // Closed as a sign-out closes it, not ended.
    QCOMPARE(running.exitProblem(), QString());

    QCOMPARE(fileVersion(installed.folder + QStringLiteral("/vantrel.exe")), version(m_nextInstaller));
    QCOMPARE(registryValues(wine(), installed.key).value("DisplayVersion"), version(m_nextInstaller));
    const ToolResult apps = wine().run(QStringLiteral("reg"), {"query", installed.key.section('\\', 0, -2)});
    QCOMPARE(QString::fromUtf8(apps.output).count(QStringLiteral("\\Vantrel")), 1);
    QCOMPARE(readFile(m_userData + "/brd/default.brd"), userBoard);
    QCOMPARE(readFile(m_userData + "/log/" + kAlpha + ".xml"), m_alphaBytes);
}

void TestWindowsE2e::autostartAddsAStartupShortcutThatUpgradesKeep()
{
    const InstallScope user = scope(QStringLiteral("/CurrentUser"));
    const InstallScope allUsers = scope(QStringLiteral("/AllUsers"));
    QVERIFY(install(m_nextInstaller, {user.option, QStringLiteral("/Autostart")}));
    QVERIFY(readFile(user.startupEntry).contains(kProgram.toLatin1()));
    QVERIFY(!QFileInfo::exists(allUsers.startupEntry));
    // Installed again without the option, as an upgrade would be.
    QVERIFY(install(m_nextInstaller, {user.option}));
    QVERIFY(QFileInfo(user.startupEntry).isFile());
}

void TestWindowsE2e::silentUninstallRemovesItsOwnScopeButKeepsTheUsersData_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("other");
    QTest::newRow("just me") << QStringLiteral("/CurrentUser") << QStringLiteral("/AllUsers");
    QTest::newRow("all users") << QStringLiteral("/AllUsers") << QStringLiteral("/CurrentUser");
}

void TestWindowsE2e::silentUninstallRemovesItsOwnScopeButKeepsTheUsersData()
{
    QFETCH(QString, option);
    QFETCH(QString, other);
    const InstallScope installed = scope(option);
    QVERIFY2(QFileInfo(installed.folder + QStringLiteral("/Uninstall.exe")).isFile(), "not installed");
    const QMap<QString, QString> otherEntry = registryValues(wine(), scope(other).key);
    const QByteArray userBoard = readFile(m_userData + "/brd/default.brd");
    // Started as a user starts it, without saying its scope.
    const ToolResult started =
        wine().run(installed.windowsFolder + QStringLiteral("\\Uninstall.exe"), {QStringLiteral("/S")});
    QVERIFY2(started.ok(), qPrintable(report(started)));
    // The uninstaller runs on from a copy of itself and removes the folder after this one has returned.
    QVERIFY2(waitUntil(
                 [&] {
                     return !QFileInfo::exists(installed.folder) && !QFileInfo::exists(installed.startMenuEntry) &&
                            !QFileInfo::exists(installed.startupEntry);
                 },
                 120s, 500ms),
             qPrintable(
                 "left behind: " +
                 QDir(installed.folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).join(QStringLiteral(", "))));
    QVERIFY(registryValues(wine(), installed.key).isEmpty());
    QCOMPARE(registryValues(wine(), scope(other).key), otherEntry);
    QCOMPARE(readFile(m_userData + "/brd/default.brd"), userBoard);
    QCOMPARE(readFile(m_userData + "/log/" + kAlpha + ".xml"), m_alphaBytes);
}

void TestWindowsE2e::linuxSuitesScenariosPassAgainstTheZip_data()
{
    QTest::addColumn<QString>("suite");
    QTest::addColumn<QStringList>("cases");
    QTest::newRow("tst_end_to_end") << QStringLiteral(VANTREL_END_TO_END_SUITE)
                                    << QStringList{"readyTextScrollsButNeverFillsTheStrip",
                                                   "refreshCachesTheServedBytesAndShowsTheFirstTitle:refresh button",
                                                   "nextFeedSkipsTheFolderAndFetchesTheFollowingFeed"};
    QTest::newRow("tst_window_e2e") << QStringLiteral(VANTREL_WINDOW_SUITE)
                                    << QStringList{"windowStartsAtTheTopLeftAndNotAbove",
                                                   "leftDragMovesTheWindowByTheSameDistance",
                                                   "rightReleaseOpensTheMenuOnlyOverTheSurface:window surface",
                                                   "alwaysOnTopItemTogglesTheAboveState",
                                                   "exitEndsTheProgramWithStatusZero:Ctrl+X while a fetch hangs",
                                                   "clickOnTheHeadlineHandsItsLinkToTheBrowser"};
}

void TestWindowsE2e::linuxSuitesScenariosPassAgainstTheZip()
{
    QFETCH(QString, suite);
    QFETCH(QStringList, cases);
    // The suite starts a display of its own, and Wine's desktop on it.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("VANTREL_E2E_WINDOWS_BUILD"), m_build);
    environment.insert(QStringLiteral("WINEPREFIX"), wine().path());
    const ToolResult run = runTool(suite, cases, environment, 600s);
    qInfo("%s", run.output.constData());
    QVERIFY2(run.ok(), run.errors.constData());
}

// 150 % as Windows' display settings set it for the user. Wine has one such value for all monitors and reads it
// only as its processes start, so the prefix is restarted around it; Windows scales each monitor by its own
// setting, which Qt follows as the window moves. The window must look the same: the corner, and every pixel
// of the strip one and a half times.
void TestWindowsE2e::windowKeepsTheCornerAtOneAndAHalfTimesItsSizeAt144Dpi()
{
    const QString key = QStringLiteral("HKCU\\Control Panel\\Desktop");
    const QString value = QStringLiteral("LogPixels");
    // Wine reads the value as its server starts: set, then restarted. An empty dpi removes the value.
    const auto setDpi = [&](const QString& dpi) {
        const ToolResult done = wine().run(
            QStringLiteral("reg"),
            dpi.isEmpty()
                ? QStringList{QStringLiteral("delete"), key, QStringLiteral("/v"), value, QStringLiteral("/f")}
                : QStringList{QStringLiteral("add"), key, QStringLiteral("/v"), value, QStringLiteral("/t"),
                              QStringLiteral("REG_DWORD"), QStringLiteral("/d"), dpi, QStringLiteral("/f")});
        runTool(QStringLiteral("wineserver"), {QStringLiteral("-k")}, wine().environment(), 30s);
        runTool(QStringLiteral("wineserver"), {QStringLiteral("-w")}, wine().environment(), 30s);
        return done;
    };
    const QString had = registryValues(wine(), key).value(value);
    // The other cases run at 96 dpi: the user's value goes back as it was.
    const auto restore =
        qScopeGuard([&] { setDpi(had.isEmpty() ? QString() : QString::number(had.toUInt(nullptr, 0))); });
    const ToolResult set = setDpi(QStringLiteral("144"));
    QVERIFY2(set.ok(), qPrintable(report(set)));

    QVERIFY(startPortable(board()));
    QCOMPARE(m_app->geometry(), QRect(QPoint(0, 0), layout::kWindowSize * 3 / 2));
}

QTEST_GUILESS_MAIN(TestWindowsE2e)
#include "tst_windows_e2e.moc"
