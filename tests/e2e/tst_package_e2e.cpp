#include <memory>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

#include "e2e_harness.h"
#include "loopback_server.h"

using namespace vantrel::e2e;
using vantrel::test::LoopbackServer;
using vantrel::test::ScriptedResponse;

namespace {

QString report(const ToolResult& result)
{
    return QString::fromLocal8Bit(result.output + result.errors);
}

}  // namespace

// The Debian package as a user gets it: built by CPack from this build, unpacked into a folder of its own
// (nothing is installed on the system), and the unpacked program started with a home of its own.
class TestPackageE2e : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void packageNamesItsLibrariesAndItsMetadataValidates();
    void unpackedProgramMakesTheUsersFolderAndFetchesIntoIt();

private:
    QString unpacked(const QString& path) const { return m_work.filePath(QStringLiteral("root/") + path); }

    std::unique_ptr<VirtualDisplay> m_display;
    QTemporaryDir m_work;
    QString m_package;
};

void TestPackageE2e::initTestCase()
{
    QStringList missing = missingTools(false);
    for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps", "file", "appstreamcli", "desktop-file-validate"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    }
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs %1 (tools/install-deps --tests)").arg(missing.join(", "))));
    QVERIFY(m_work.isValid());
    m_display = std::make_unique<VirtualDisplay>(VirtualDisplay::Options{});
    QVERIFY2(m_display->isReady(), qPrintable(m_display->errorString()));

    const ToolResult built = m_display->run(
        QStringLiteral(VANTREL_CPACK),
        {QStringLiteral("--config"), QStringLiteral(VANTREL_CPACK_CONFIG), QStringLiteral("-B"), m_work.path()}, 180s);
    m_package = m_work.filePath(QStringLiteral(VANTREL_PACKAGE_FILE_NAME));
    QVERIFY2(built.ok() && QFileInfo::exists(m_package), qPrintable(QStringLiteral("no package: ") + report(built)));
    const ToolResult unpacking =
        m_display->run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_package, unpacked({})}, 30s);
    QVERIFY2(unpacking.ok(), qPrintable(report(unpacking)));
}

void TestPackageE2e::cleanupTestCase()
{
    m_display.reset();
}

void TestPackageE2e::packageNamesItsLibrariesAndItsMetadataValidates()
{
    const ToolResult depends =
        m_display->run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_package, QStringLiteral("Depends")});
    QVERIFY2(depends.ok(), qPrintable(report(depends)));
    for (const char* library : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libxml2"})
        QVERIFY2(depends.output.contains(library), qPrintable(library + (": " + report(depends))));

    const QStringList metainfo =
        QDir(unpacked(QStringLiteral("usr/share/metainfo"))).entryList({QStringLiteral("*.metainfo.xml")});
    QCOMPARE(metainfo.size(), 1);
    QStringList validate{QStringLiteral("validate"), QStringLiteral("--no-net")};
    // Vantrel has no home page to name, which AppStream 1.0 (Debian 13) warns of; 0.16 knows no such check.
    const ToolResult version = m_display->run(QStringLiteral("appstreamcli"), {QStringLiteral("--version")});
    if (!version.output.contains("version: 0."))
        validate << QStringLiteral("--override=url-homepage-missing=info");
    const ToolResult appstream = m_display->run(QStringLiteral("appstreamcli"),
                                                validate << unpacked("usr/share/metainfo/" + metainfo.front()), 30s);
    QVERIFY2(appstream.ok(), qPrintable(report(appstream)));
    const ToolResult desktop = m_display->run(QStringLiteral("desktop-file-validate"),
                                              {unpacked(QStringLiteral("usr/share/applications/vantrel.desktop"))});
    QVERIFY2(desktop.ok() && desktop.output.isEmpty(), qPrintable(report(desktop)));
}

void TestPackageE2e::unpackedProgramMakesTheUsersFolderAndFetchesIntoIt()
{
    // XDG_DATA_HOME apart from HOME, so that the program is seen to take it.
    QVERIFY(QDir(m_work.path()).mkpath(QStringLiteral("home")));
    QProcessEnvironment user;
    user.insert(QStringLiteral("HOME"), m_work.filePath(QStringLiteral("home")));
    user.insert(QStringLiteral("XDG_DATA_HOME"), m_work.filePath(QStringLiteral("xdg-data")));
    const QString data = m_work.filePath(QStringLiteral("xdg-data/vantrel/data/"));
    const QString executable = unpacked(QStringLiteral("usr/bin/vantrel"));

    {
        TickerApp app(*m_display, executable, m_work.filePath(QStringLiteral("home")), user);
        QVERIFY2(app.start(), qPrintable(app.errorString()));
        QCOMPARE(readFile(data + "brd/default.brd"),
                 readFile(unpacked(QStringLiteral("usr/share/vantrel/brd/default.brd"))));
        QCOMPARE(QDir(data + "pic/std").entryList(QDir::Files),
                 QStringList({"load.jpg", "load@2x.jpg", "next.jpg", "next@2x.jpg", "normal.jpg", "normal@2x.jpg",
                              "push.jpg", "push@2x.jpg"}));
        QVERIFY(QDir(data + "log").isEmpty());
    }

    LoopbackServer server;
    const QByteArray feed = rssDocument({{solidBandTitle(), QStringLiteral("http://127.0.0.1/1")}});
    server.setRoute("/feed.xml", ScriptedResponse::ok(feed.toStdString()));
    QVERIFY(writeFile(
        data + "brd/default.brd",
        "Mine,ROOT_FOLDER,m,0\nLoopback," + QByteArray::fromStdString(server.url("/feed.xml")) + ",CHILD_NODE,1\n"));
    TickerApp app(*m_display, executable, m_work.filePath(QStringLiteral("home")), user);
    QVERIFY2(app.start(), qPrintable(app.errorString()));
    QVERIFY(app.click(layout::kRefreshButton));
    QVERIFY2(waitForFile(data + "log/Loopback.xml", feed, 10s),
             qPrintable(QStringLiteral("no cache file; program output: ") + QString::fromLocal8Bit(app.output())));
    QCOMPARE(server.requestCount("/feed.xml"), std::size_t{1});
    // The unpacked tree is the system's: nothing is written beside the program.
    QVERIFY(!QFileInfo::exists(unpacked(QStringLiteral("usr/bin/data"))));
}

QTEST_GUILESS_MAIN(TestPackageE2e)
#include "tst_package_e2e.moc"
