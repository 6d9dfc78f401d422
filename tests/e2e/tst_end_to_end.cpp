#include <algorithm>
#include <memory>

#include <QColorSpace>
#include <QTest>

#include "e2e_harness.h"
#include "loopback_server.h"

using namespace vantrel::e2e;
using vantrel::test::LoopbackServer;
using vantrel::test::ScriptedResponse;

namespace {

// ① and ㈱ exist only in code page 932, not in plain Shift_JIS; ソ and 表 end in the byte 0x5C, which a
// byte-wise path split would take for a backslash. Node texts become the cache files' names.
const QString kRoot = QStringLiteral("ニュース①");
const QString kAlpha = QStringLiteral("①ソフト速報");
const QString kFolder = QStringLiteral("㈱経済");
const QString kBeta = QStringLiteral("㈱表示");
constexpr Milliseconds kFetched = 20s;
// A refresh puts its first title on the label at once, where the label stands; the clicks come while that
// is inside the strip, so the title covers it at once. Only long after would the scroll bring it in anyway.
constexpr Milliseconds kShownAtOnce = 5s;

}  // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void windowOpensAtTheTopLeftWithTheStripSize_data();
    void windowOpensAtTheTopLeftWithTheStripSize();
    void readyTextScrollsButNeverFillsTheStrip();
    void refreshCachesTheServedBytesAndShowsTheFirstTitle_data();
    void refreshCachesTheServedBytesAndShowsTheFirstTitle();
    void nextFeedSkipsTheFolderAndFetchesTheFollowingFeed();

private:
    QString failure(const QString& what, const StripCoverage& coverage = {}) const;

    std::unique_ptr<VirtualDisplay> m_display;
    std::unique_ptr<Launcher> m_launcher;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<AppFolder> m_folder;
    std::unique_ptr<TickerApp> m_app;
    QByteArray m_alphaBytes;
    QByteArray m_betaBytes;
};

void TestEndToEnd::initTestCase()
{
    const QStringList missing = missingTools(false);
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs %1 (tools/install-deps --tests)").arg(missing.join(", "))));
    // Wine's windows need a window manager to take the corner; the Linux program's do not.
    // Wide enough for the window at 200 %.
    m_display = std::make_unique<VirtualDisplay>(
        VirtualDisplay::Options{.size = {1280, 300}, .windowManager = !windowsBuildUnderTest().isEmpty()});
    QVERIFY2(m_display->isReady(), qPrintable(m_display->errorString()));
    m_launcher = std::make_unique<Launcher>(*m_display);
    QVERIFY2(m_launcher->isReady(), qPrintable(m_launcher->errorString()));
    m_alphaBytes =
        servedBytes(rssDocument({{solidBandTitle(), QStringLiteral("http://127.0.0.1/alpha/1")},
                                 {QStringLiteral("二番目の見出し①"), QStringLiteral("http://127.0.0.1/alpha/2")}}));
    m_betaBytes = servedBytes(rssDocument({{thinLineTitle(), QStringLiteral("http://127.0.0.1/beta/1")}}));
}

void TestEndToEnd::cleanupTestCase()
{
    m_launcher.reset();
    m_display.reset();
}

void TestEndToEnd::init()
{
    m_server = std::make_unique<LoopbackServer>();
    m_server->setRoute("/alpha.xml", ScriptedResponse::ok(m_alphaBytes.toStdString()));
    m_server->setRoute("/beta.xml", ScriptedResponse::ok(m_betaBytes.toStdString()));
    m_folder = m_launcher->folder();
    QVERIFY2(m_folder->isReady(), qPrintable(m_folder->errorString()));
    const auto url = [&](const char* path) { return QString::fromStdString(m_server->url(path)); };
    QVERIFY(m_folder->writeBoardText(kRoot + ",ROOT_FOLDER,jp,0\n" + kAlpha + "," + url("/alpha.xml") +
                                     ",CHILD_NODE,1\n" + kFolder + ",ADD_NEW_FOLDER,keizai,0\n" + kBeta + "," +
                                     url("/beta.xml") + ",CHILD_NODE,1\n"));
    m_app = m_launcher->app(*m_folder);
    QVERIFY2(m_app->start(), qPrintable(m_app->errorString()));
}

void TestEndToEnd::cleanup()
{
    m_app.reset();
    m_folder.reset();
    m_server.reset();
}

QString TestEndToEnd::failure(const QString& what, const StripCoverage& coverage) const
{
    return QStringLiteral("%1 (%2; cache files: %3; program output: %4)")
        .arg(what, describe(coverage), m_folder->cacheFiles().join(", "), QString::fromLocal8Bit(m_app->output()));
}

void TestEndToEnd::windowOpensAtTheTopLeftWithTheStripSize_data()
{
    QTest::addColumn<int>("scale");
    QTest::newRow("96 dpi") << 1;
    QTest::newRow("200 %") << 2;
}

void TestEndToEnd::windowOpensAtTheTopLeftWithTheStripSize()
{
    QFETCH(int, scale);
    if (scale != 1) {
        m_app.reset();
        QProcessEnvironment scaled;
        scaled.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
        m_app = m_launcher->app(*m_folder, scaled);
        QVERIFY2(m_app->start(), qPrintable(m_app->errorString()));
    }
    // In device pixels, as the window system sees the window.
    QCOMPARE(m_app->geometry(), QRect(QPoint(0, 0), layout::kWindowSize * scale));
    // A move over the surface puts the data folder's picture on the buttons: the one drawn for this resolution,
    // pixel for pixel, not the 96 dpi one scaled up.
    QVERIFY(m_app->moveTo(layout::kSurface * scale));
    const QString picture =
        m_folder->path() + (scale == 1 ? "/data/pic/std/normal.jpg" : "/data/pic/std/normal@2x.jpg");
    // Pixels only: the screenshot carries a colour space and a ratio of its own.
    const auto pixels = [](QImage image) {
        image.setColorSpace(QColorSpace());
        image.setDevicePixelRatio(1);
        return image.convertToFormat(QImage::Format_RGB32);
    };
    const QImage expected = pixels(QImage(picture));
    const QRect button(layout::kRefreshButtonArea.topLeft() * scale, expected.size());
    QVERIFY2(waitUntil([&] { return pixels(m_app->grab(button)) == expected; }, 5s),
             qPrintable(failure("the button differs from " + picture)));
}

void TestEndToEnd::readyTextScrollsButNeverFillsTheStrip()
{
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
    // Otherwise the screenshots would not see the headline at all, and the band checks would prove nothing.
    QVERIFY2(mostWhite > 0.05, qPrintable(failure("no headline seen")));
    QVERIFY2(moved, qPrintable(failure("the headline stands still")));
    QVERIFY(m_server->requests().empty());
    QCOMPARE(m_folder->cacheFiles(), QStringList());
}

void TestEndToEnd::refreshCachesTheServedBytesAndShowsTheFirstTitle_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::newRow("refresh button") << "button";
    QTest::newRow("Ctrl+R") << "shortcut";
    QTest::newRow("menu refresh item") << "menu";
}

void TestEndToEnd::refreshCachesTheServedBytesAndShowsTheFirstTitle()
{
    QFETCH(QString, trigger);
    if (trigger == "button") {
        QVERIFY(m_app->click(layout::kRefreshButton));
    } else if (trigger == "shortcut") {
        QVERIFY(m_app->activate());
        QVERIFY(m_app->keys("ctrl+r"));
    } else {
        QVERIFY2(m_app->openMenu(), qPrintable(failure("no menu")));
        QVERIFY(m_app->keys("Down Return"));
    }

    // Byte for byte: a file written in text mode on Windows would have CR CR LF for each CR LF.
    const QString cache = m_folder->cacheFile(kAlpha);
    QVERIFY2(waitForFile(cache, m_alphaBytes, kFetched), qPrintable(failure("no cache file")));
    QCOMPARE(m_folder->cacheFiles(), QStringList{kAlpha + ".xml"});
    QCOMPARE(m_server->requestCount("/alpha.xml"), std::size_t{1});
    QCOMPARE(m_server->requestCount("/beta.xml"), std::size_t{0});
    StripCoverage coverage;
    QVERIFY2(waitForStrip(*m_app, showsSolidBand, kShownAtOnce, &coverage),
             qPrintable(failure("first title not shown", coverage)));
}

void TestEndToEnd::nextFeedSkipsTheFolderAndFetchesTheFollowingFeed()
{
    StripCoverage coverage;
    QVERIFY(m_app->click(layout::kRefreshButton));
    QVERIFY2(waitForStrip(*m_app, showsSolidBand, kFetched, &coverage),
             qPrintable(failure("alpha not shown", coverage)));

    QVERIFY(m_app->click(layout::kNextFeedButton));
    QVERIFY2(waitForFile(m_folder->cacheFile(kBeta), m_betaBytes, kFetched), qPrintable(failure("no beta cache")));
    QCOMPARE(m_server->requestCount("/beta.xml"), std::size_t{1});
    QCOMPARE(m_server->requestCount("/alpha.xml"), std::size_t{1});
    QVERIFY2(waitForStrip(*m_app, showsThinLine, kShownAtOnce, &coverage),
             qPrintable(failure("beta not shown", coverage)));
    QCOMPARE(readFile(m_folder->cacheFile(kAlpha)), m_alphaBytes);

    // Past the last feed: wraps, skips the root folder and fetches the first feed again.
    QVERIFY(m_app->click(layout::kNextFeedButton));
    QVERIFY2(waitUntil([&] { return m_server->requestCount("/alpha.xml") == 2; }, kFetched),
             qPrintable(failure("no second alpha fetch")));
    QVERIFY2(waitForStrip(*m_app, showsSolidBand, kShownAtOnce, &coverage),
             qPrintable(failure("alpha not back", coverage)));
    QCOMPARE(m_server->requestCount("/beta.xml"), std::size_t{1});
    QCOMPARE(m_folder->cacheFiles(), (QStringList{kAlpha + ".xml", kBeta + ".xml"}));
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
