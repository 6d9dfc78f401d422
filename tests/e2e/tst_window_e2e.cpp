#include <memory>

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include "e2e_harness.h"
#include "loopback_server.h"

using namespace vantrel::e2e;
using vantrel::test::LoopbackServer;
using vantrel::test::ScriptedResponse;

namespace {

// Right of the ready text at start, which scrolls leftwards from x = 8.
const QPoint kEmptyStrip(300, 15);
const QPoint kOnHeadline(200, 15);
const QPoint kDistance(120, 60);

}  // namespace

class TestWindowE2e : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void windowStartsAtTheTopLeftAndNotAbove();
    void leftDragMovesTheWindowByTheSameDistance_data();
    void leftDragMovesTheWindowByTheSameDistance();
    void windowStaysPutOnceTheDragEnds();
    void leftDragOnTheHeadlineLeavesTheWindow();
    void rightReleaseOpensTheMenuOnlyOverTheSurface_data();
    void rightReleaseOpensTheMenuOnlyOverTheSurface();
    void alwaysOnTopItemTogglesTheAboveState();
    void exitEndsTheProgramWithStatusZero_data();
    void exitEndsTheProgramWithStatusZero();
    void waylandSessionRunsTheWindowThroughXWayland_data();
    void waylandSessionRunsTheWindowThroughXWayland();
    void clickOnTheHeadlineHandsItsLinkToTheBrowser();

private:
    QString failure(const QString& what) const;

    std::unique_ptr<VirtualDisplay> m_display;
    std::unique_ptr<Launcher> m_launcher;
    std::unique_ptr<LoopbackServer> m_server;
    std::unique_ptr<AppFolder> m_folder;
    std::unique_ptr<TickerApp> m_app;
};

void TestWindowE2e::initTestCase()
{
    const QStringList missing = missingTools(true);
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs %1 (tools/install-deps --tests)").arg(missing.join(", "))));
    m_display = std::make_unique<VirtualDisplay>(VirtualDisplay::Options{.windowManager = true});
    QVERIFY2(m_display->isReady(), qPrintable(m_display->errorString()));
    m_launcher = std::make_unique<Launcher>(*m_display);
    QVERIFY2(m_launcher->isReady(), qPrintable(m_launcher->errorString()));
}

void TestWindowE2e::cleanupTestCase()
{
    m_launcher.reset();
    m_display.reset();
}

void TestWindowE2e::init()
{
    m_server = std::make_unique<LoopbackServer>();
    m_server->setRoute(
        "/feed.xml",
        ScriptedResponse::ok(rssDocument({{solidBandTitle(), QStringLiteral("http://127.0.0.1/1")}}).toStdString()));
    m_folder = m_launcher->folder();
    QVERIFY2(m_folder->isReady(), qPrintable(m_folder->errorString()));
    QVERIFY(m_folder->writeBoardText("Window,ROOT_FOLDER,w,0\nFeed," +
                                     QString::fromStdString(m_server->url("/feed.xml")) + ",CHILD_NODE,1\n"));
    m_app = m_launcher->app(*m_folder);
    QVERIFY2(m_app->start(), qPrintable(m_app->errorString()));
}

void TestWindowE2e::cleanup()
{
    // Leaves no button held for the next test, whatever this one left behind.
    m_display->release(Qt::LeftButton);
    m_app.reset();
    m_folder.reset();
    m_server.reset();
}

QString TestWindowE2e::failure(const QString& what) const
{
    return QStringLiteral("%1 (window at %2, state %3; program output: %4)")
        .arg(what, describe(m_app->geometry().topLeft()), m_app->netWmState().join(" "),
             QString::fromLocal8Bit(m_app->output()));
}

void TestWindowE2e::windowStartsAtTheTopLeftAndNotAbove()
{
    // A frame of the window manager or of Windows would move the strip off the corner or change its size.
    QCOMPARE(m_app->geometry(), QRect(QPoint(0, 0), layout::kWindowSize));
    QCOMPARE(m_launcher->stacking(*m_app), QStringLiteral("normal"));
}

void TestWindowE2e::leftDragMovesTheWindowByTheSameDistance_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::newRow("window surface") << layout::kSurface;
    QTest::newRow("empty part of the strip") << kEmptyStrip;
}

void TestWindowE2e::leftDragMovesTheWindowByTheSameDistance()
{
    QFETCH(QPoint, at);
    const QPoint start = m_app->geometry().topLeft();
    QVERIFY2(m_app->isBlankAround(at), "the headline is under the pointer");
    QVERIFY(m_app->drag(at, kDistance));
    QVERIFY2(m_app->waitForPlace(start + kDistance, 3s),
             qPrintable(failure("expected at " + describe(start + kDistance))));
    QCOMPARE(m_app->geometry().size(), layout::kWindowSize);
}

void TestWindowE2e::windowStaysPutOnceTheDragEnds()
{
    QVERIFY(m_app->drag(layout::kSurface, kDistance));
    QVERIFY2(m_app->waitForPlace(kDistance, 2s), qPrintable(failure("no move")));
    QTest::qWait(300);
    const QPoint dropped = m_app->geometry().topLeft();

    // No button is held now: the pointer goes its way alone.
    QVERIFY(m_app->moveBy(QPoint(40, 20)));
    QTest::qWait(300);
    QVERIFY(m_app->moveBy(QPoint(-60, 10)));
    QTest::qWait(500);
    QVERIFY2(m_app->geometry().topLeft() == dropped, qPrintable(failure("expected at " + describe(dropped))));
}

void TestWindowE2e::leftDragOnTheHeadlineLeavesTheWindow()
{
    StripCoverage coverage;
    QVERIFY(m_app->click(layout::kRefreshButton));
    QVERIFY2(waitForStrip(*m_app, showsSolidBand, 10s, &coverage), qPrintable(failure(describe(coverage))));
    const QImage under = m_app->grab(QRect(kOnHeadline, QSize(1, 1)));
    QVERIFY2(!under.isNull() && qRed(under.pixel(0, 0)) >= 200, "the headline has moved away from the pointer");

    QVERIFY(m_app->drag(kOnHeadline, kDistance));
    QTest::qWait(500);
    QVERIFY2(m_app->geometry().topLeft() == QPoint(0, 0), qPrintable(failure("the headline dragged the window")));
}

void TestWindowE2e::rightReleaseOpensTheMenuOnlyOverTheSurface_data()
{
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<bool>("opens");
    QTest::newRow("window surface") << layout::kSurface << true;
    QTest::newRow("strip") << kEmptyStrip << false;
}

void TestWindowE2e::rightReleaseOpensTheMenuOnlyOverTheSurface()
{
    QFETCH(QPoint, at);
    QFETCH(bool, opens);
    QVERIFY(m_app->click(at, Qt::RightButton));
    if (!opens) {
        QTest::qWait(800);
        QCOMPARE(m_app->visibleWindows(), QStringList{m_app->windowId()});
        return;
    }
    QVERIFY2(waitUntil([&] { return m_app->visibleWindows().size() == 2; }, 5s), qPrintable(failure("no menu")));
    QStringList windows = m_app->visibleWindows();
    windows.removeAll(m_app->windowId());
    QCOMPARE(windows.size(), 1);
    // At the pointer: the menu's top-left corner is where the button was released.
    const QPoint menuAt = m_app->geometryOf(windows.first()).topLeft();
    QVERIFY2(near(menuAt, m_app->geometry().topLeft() + at), qPrintable(failure("menu at " + describe(menuAt))));

    QVERIFY(m_app->keys("Escape"));
    QVERIFY2(waitUntil([&] { return m_app->visibleWindows().size() == 1; }, 5s), qPrintable(failure("menu stays")));
}

void TestWindowE2e::alwaysOnTopItemTogglesTheAboveState()
{
    const QRect before = m_app->geometry();
    for (const char* expected : {"topmost", "normal"}) {
        QVERIFY2(m_app->openMenu(5s), qPrintable(failure("no menu")));
        QVERIFY(m_app->keys("Down Down Return"));
        QVERIFY2(waitUntil([&] { return m_launcher->stacking(*m_app) == expected; }, 10s),
                 qPrintable(failure(QStringLiteral("expected ") + expected)));
        QCOMPARE(m_app->geometry(), before);
        QVERIFY(m_app->visibleWindows().contains(m_app->windowId()));
    }
}

void TestWindowE2e::exitEndsTheProgramWithStatusZero_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("Ctrl+X") << "shortcut";
    QTest::newRow("menu exit item") << "menu";
    QTest::newRow("Ctrl+X while a fetch hangs") << "stalled";
}

void TestWindowE2e::exitEndsTheProgramWithStatusZero()
{
    QFETCH(QString, way);
    if (way == "stalled") {
        ScriptedResponse stall = ScriptedResponse::ok("<rss/>");
        stall.delayBeforeHeaders = std::chrono::hours(1);
        m_server->setRoute("/feed.xml", stall);
        QVERIFY(m_app->click(layout::kRefreshButton));
        QVERIFY2(waitUntil([&] { return m_server->requestCount("/feed.xml") == 1; }, 20s), "no fetch under way");
    }
    QElapsedTimer clock;
    if (way == "menu") {
        QVERIFY2(m_app->openMenu(), qPrintable(failure("no menu")));
        clock.start();
        QVERIFY(m_app->keys("Up Return"));
    } else {
        QVERIFY(m_app->activate());
        clock.start();
        QVERIFY(m_app->keys("ctrl+x"));
    }
    QVERIFY2(m_app->waitForExit(2s), qPrintable(failure("still running")));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QStringLiteral("took %1 ms").arg(clock.elapsed())));
    QVERIFY2(m_app->exitProblem().isEmpty(), qPrintable(m_app->exitProblem()));
    QCOMPARE(m_folder->cacheFiles(), QStringList());
}

void TestWindowE2e::waylandSessionRunsTheWindowThroughXWayland_data()
{
    QTest::addColumn<bool>("xDisplayAlive");
    QTest::newRow("X11 at hand") << true;
    QTest::newRow("X display gone") << false;
}

void TestWindowE2e::waylandSessionRunsTheWindowThroughXWayland()
{
    QFETCH(bool, xDisplayAlive);
    const QStringList missing = missingWaylandTools();
    if (!missing.isEmpty())
        QSKIP(qPrintable(QStringLiteral("needs %1 (tools/install-deps --tests)").arg(missing.join(", "))));
    const VirtualDisplay session(VirtualDisplay::Options{.waylandSession = true});
    QVERIFY2(session.isReady(), qPrintable(session.errorString()));
    QProcessEnvironment deadDisplay;
    if (!xDisplayAlive)
        deadDisplay.insert(QStringLiteral("DISPLAY"), QStringLiteral(":65535"));
    TickerApp app(session, m_folder->executable(), m_folder->path(), deadDisplay);
    if (!xDisplayAlive) {
        // A Wayland client never shows among the X display's windows; it is enough that the program runs.
        QVERIFY(!app.start(3s));
        QVERIFY2(app.isRunning(), qPrintable(app.errorString()));
        return;
    }
    // As a Wayland client the window would never show among the X display's windows. Where it opens is
    // weston's choice, which places every X11 window itself; a desktop's XWayland lets it take the corner.
    QVERIFY2(app.start(), qPrintable(app.errorString()));
    QCOMPARE(app.geometry().size(), layout::kWindowSize);
}

void TestWindowE2e::clickOnTheHeadlineHandsItsLinkToTheBrowser()
{
    // First on the program's PATH, a stand-in for the desktop's opener that writes down what it is given.
    const QTemporaryDir bin;
    const QString opener = bin.filePath(QStringLiteral("xdg-open"));
    const QString record = bin.filePath(QStringLiteral("opened"));
    QVERIFY(writeFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + record.toUtf8() + "'\n"));
    QVERIFY(QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment path;
    path.insert(QStringLiteral("PATH"), bin.path() + ':' + qEnvironmentVariable("PATH"));
    m_app = m_launcher->app(*m_folder, path);
    QVERIFY2(m_app->start(), qPrintable(m_app->errorString()));

    StripCoverage coverage;
    QVERIFY(m_app->click(layout::kRefreshButton));
    QVERIFY2(waitForStrip(*m_app, showsSolidBand, 20s, &coverage), qPrintable(failure(describe(coverage))));
    QVERIFY(m_app->click(kOnHeadline));
    // Under Wine the shell hands the link to Wine's browser launcher, which starts the same opener.
    QVERIFY2(waitForFile(record, "http://127.0.0.1/1\n", 20s), qPrintable(failure("opened: " + readFile(record))));
}

QTEST_GUILESS_MAIN(TestWindowE2e)
#include "tst_window_e2e.moc"
