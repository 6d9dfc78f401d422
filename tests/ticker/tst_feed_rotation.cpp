#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "board/feed_tree.h"
#include "fake_transfer.h"
#include "fake_window.h"
#include "fakes.h"
#include "feeds/news_list.h"
#include "ticker/coordinate_gate.h"
#include "ticker/feed_rotation.h"
#include "ticker/shared_state.h"

using namespace vantrel;
using namespace vantrel::test;
namespace fs = std::filesystem;

namespace {

std::string rss(const std::vector<std::string>& titles)
{
    std::string body = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>c</title>";
    for (const auto& title : titles)
        body += "<item><title>" + title + "</title><link>http://x/" + title + "</link></item>";
    return body + "</channel></rss>";
}

const std::string kUrlA = "http://127.0.0.1:9/a.xml";
const std::string kUrlB = "http://127.0.0.1:9/b.xml";

// Root folder, feed A, folder, feed B: the feeds sit at positions 2 and 4.
void addExampleTree(FeedTree& tree)
{
    tree.Add(std::nullopt, "r1", "World", "CLOSE", "OPEN");
    tree.Add(std::string("r1"), kUrlA, "Alpha", "XML");
    tree.Add(std::string("r1"), "f1", "Science", "CLOSE", "OPEN");
    tree.Add(std::string("f1"), kUrlB, "Beta", "DOC");
}

// A program's worth of state around one rotation, with a data folder of its own.
struct Rig {
    QTemporaryDir dir;
    FeedTree tree;
    NewsList list;
    SharedState state;
    FakeTickerWindow window;
    FakeTransfer transfer;
    FixedClock clock;
    FeedRotation rotation;

    Rig() : rotation(tree, list, state, window, transfer, DownloadSite{dir.path().toStdString(), clock})
    {
        fs::create_directories(fs::path(appDir()) / "data" / "log");
        fs::create_directories(fs::path(appDir()) / "data" / "pic" / "std");
    }
    std::string appDir() const { return dir.path().toStdString(); }
    std::string picture(const char* name) const { return appDir() + "/data/pic/std/" + name; }
    std::string cacheFile(const std::string& text) const { return appDir() + "/data/log/" + text + ".xml"; }
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

class TestFeedRotation : public QObject {
    Q_OBJECT

private slots:
    void gateRoundsHalfToEvenThenAnds_data();
    void gateRoundsHalfToEvenThenAnds();

    void walksForwardSkippingFoldersAndWraps();
    void feedIndexEqualToCountIsUsedUnchanged();
    void emptyTreeFetchesNothingButNextFeedStillCounts();
    void treeOfFoldersOnlyEndsAfterOnePass();

    void successfulRefreshShowsRowOneWhereTheLabelStands();
    void failedDownloadRestartsTheEarlierList();
    void failedDownloadWithEmptyListLeavesTheFailureText();
    void documentWithoutItemsLeavesTheSuccessText();
    void documentThatDoesNotLoadKeepsEarlierRows();

    void releaseGateChangesPictures_data();
    void releaseGateChangesPictures();
    void menuRefreshNeverChangesAPicture();

    void exitAtThePendingEventsPointStopsTheStep();
    void exitWhileTheFetchWaitsStopsTheStep();
    void nextFeedDuringAFetchShowsItsPicturesAtOnceButWaits();
    void heldRefreshesJoinIntoOneFetch();
    void heldNextFeedClicksAddUpToOneFetch_data();
    void heldNextFeedClicksAddUpToOneFetch();
};

void TestFeedRotation::gateRoundsHalfToEvenThenAnds_data()
{
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");
    QTest::addColumn<bool>("open");
    QTest::newRow("15 and 30") << 15.f << 30.f << true;
    QTest::newRow("15 and 240") << 15.f << 240.f << false;
    QTest::newRow("x zero") << 0.f << 255.f << false;
    QTest::newRow("y zero") << 255.f << 0.f << false;
    QTest::newRow("7.5 goes to 8") << 7.5f << 8.f << true;
    QTest::newRow("6.5 goes to 6") << 6.5f << 1.f << false;
    QTest::newRow("0.5 goes to 0") << 0.5f << 1.f << false;
    QTest::newRow("1.5 goes to 2") << 1.5f << 2.f << true;
    QTest::newRow("negative in two's complement") << -1.f << 5.f << true;
    QTest::newRow("negative even") << -2.f << 1.f << false;
    QTest::newRow("past 32 bits") << 3e9f << 3e9f << false;
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN() << 1.f << false;
    QTest::newRow("infinite") << std::numeric_limits<float>::infinity() << 1.f << false;
}

void TestFeedRotation::gateRoundsHalfToEvenThenAnds()
{
    QFETCH(float, x);
    QFETCH(float, y);
    QFETCH(bool, open);
    QCOMPARE(CoordinateGate(x, y), open);
}

void TestFeedRotation::walksForwardSkippingFoldersAndWraps()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;

    rig.rotation.mnuPopupRefresh_Click();
    QCOMPARE(rig.state.FeedIndex, std::int16_t{2});
    rig.rotation.mnuPopupRefresh_Click();
    QCOMPARE(rig.state.FeedIndex, std::int16_t{2});
    rig.rotation.picNextNews_MouseUp(1, 0, 15, 30);
    QCOMPARE(rig.state.FeedIndex, std::int16_t{4});
    rig.rotation.picNextNews_MouseUp(1, 0, 15, 30);
    QCOMPARE(rig.state.FeedIndex, std::int16_t{2});

    QCOMPARE(rig.transfer.fetched, (std::vector<std::string>{kUrlA, kUrlA, kUrlB, kUrlA}));
}

void TestFeedRotation::feedIndexEqualToCountIsUsedUnchanged()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 4;

    rig.rotation.mnuPopupRefresh_Click();

    QCOMPARE(rig.transfer.fetched, std::vector<std::string>{kUrlB});
    QCOMPARE(rig.state.FeedIndex, std::int16_t{4});
}

void TestFeedRotation::emptyTreeFetchesNothingButNextFeedStillCounts()
{
    Rig rig;
    rig.state.FetchResult = -1;

    rig.rotation.picRefresh_MouseUp(1, 0, 15, 30);
    rig.rotation.picNextNews_MouseUp(1, 0, 15, 30);
    rig.rotation.picNextNews_MouseUp(1, 0, 15, 30);

    QVERIFY(rig.transfer.fetched.empty());
    QCOMPARE(rig.state.FeedIndex, std::int16_t{2});
    QCOMPARE(rig.state.FetchResult, -1);
    QCOMPARE(rig.window.passes, 3);
    QVERIFY(rig.window.captions.empty());
    QCOMPARE(rig.window.pictures.front(), std::make_pair(PictureButton::Refresh, rig.picture("load.jpg")));
}

void TestFeedRotation::treeOfFoldersOnlyEndsAfterOnePass()
{
    Rig rig;
    rig.tree.Add(std::nullopt, "r1", "Root", "CLOSE", "OPEN");
    rig.tree.Add(std::string("r1"), "f1", "Empty", "CLOSE", "OPEN");
    rig.tree.Add(std::nullopt, "r2", "Other", "CLOSE", "OPEN");
    rig.state.FeedIndex = 2;

    rig.rotation.mnuPopupRefresh_Click();

    QVERIFY(rig.transfer.fetched.empty());
    QCOMPARE(rig.state.FeedIndex, std::int16_t{2});
}

void TestFeedRotation::successfulRefreshShowsRowOneWhereTheLabelStands()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;
    const std::string body = rss({"one", "two", "three"});
    rig.transfer.serve(kUrlA, body);
    rig.window.left = 3333.5f;

    rig.rotation.picRefresh_MouseUp(2, 0, 15, 30);

    QCOMPARE(rig.state.FetchResult, 0);
    QCOMPARE(rig.state.FeedCachePath, rig.cacheFile("Alpha"));
    QCOMPARE(readFile(rig.cacheFile("Alpha")), body);
    QCOMPARE(rig.state.FeedLabel, std::string("[Alpha]"));
    QCOMPARE(rig.list.Count(), 3);
    QCOMPARE(rig.state.NewsIndex, std::int16_t{1});
    QCOMPARE(rig.window.caption, std::string("one[Alpha]"));
    QCOMPARE(rig.window.left, 3333.5f);
    QCOMPARE(rig.state.ParseResult, 0);
}

void TestFeedRotation::failedDownloadRestartsTheEarlierList()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;
    rig.transfer.serve(kUrlA, rss({"one", "two"}));
    rig.rotation.mnuPopupRefresh_Click();
    rig.state.NewsIndex = 2;
    rig.transfer.fail(kUrlB);

    rig.rotation.picNextNews_MouseUp(1, 0, 15, 30);

    QCOMPARE(rig.state.FetchResult, -1);
    QCOMPARE(rig.state.FeedLabel, std::string("[Alpha]"));
    QCOMPARE(rig.list.Count(), 2);
    QCOMPARE(rig.state.NewsIndex, std::int16_t{1});
    QCOMPARE(rig.window.caption, std::string("one[Alpha]"));
    QVERIFY(rig.window.captions.rbegin()[1].starts_with("ダウンロードできませんでした。"));
}

void TestFeedRotation::failedDownloadWithEmptyListLeavesTheFailureText()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;
    rig.transfer.fail(kUrlA);

    rig.rotation.mnuPopupRefresh_Click();

    QCOMPARE(rig.window.caption, std::string("ダウンロードできませんでした。[12:34:56]"));
    QCOMPARE(rig.state.NewsIndex, std::int16_t{0});
    QVERIFY(rig.state.FeedLabel.empty());
}

void TestFeedRotation::documentWithoutItemsLeavesTheSuccessText()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;
    rig.state.NewsIndex = 7;
    rig.list.Add("1").SubItem(NewsItem::Title) = "old";
    rig.transfer.serve(kUrlA,
                       "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><item><title>t</title>"
                       "<link>l</link></item></rdf:RDF>");

    rig.rotation.mnuPopupRefresh_Click();

    QCOMPARE(rig.list.Count(), 0);
    QCOMPARE(rig.state.NewsIndex, std::int16_t{7});
    QCOMPARE(rig.window.caption, std::string("ダウンロード完了しました。[12:34:56]"));
}

void TestFeedRotation::documentThatDoesNotLoadKeepsEarlierRows()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;
    rig.transfer.serve(kUrlA, rss({"one"}));
    rig.rotation.mnuPopupRefresh_Click();
    rig.transfer.serve(kUrlB, "<html><body>oops");

    rig.rotation.picNextNews_MouseUp(1, 0, 0, 0);

    QCOMPARE(rig.state.FetchResult, 0);
    QCOMPARE(rig.state.FeedLabel, std::string("[Beta]"));
    QCOMPARE(rig.list.Count(), 1);
    QCOMPARE(rig.window.caption, std::string("one[Alpha]"));
}

void TestFeedRotation::releaseGateChangesPictures_data()
{
    QTest::addColumn<bool>("nextFeed");
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");
    QTest::addColumn<int>("pictures");
    QTest::newRow("refresh, gate open") << false << 15.f << 30.f << 1;
    QTest::newRow("refresh, gate closed") << false << 15.f << 240.f << 0;
    QTest::newRow("next feed, gate open") << true << 15.f << 30.f << 2;
    QTest::newRow("next feed, gate closed") << true << 0.f << 30.f << 0;
}

void TestFeedRotation::releaseGateChangesPictures()
{
    QFETCH(bool, nextFeed);
    QFETCH(float, x);
    QFETCH(float, y);
    QFETCH(int, pictures);
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;

    // Any mouse button runs the step; the right one here.
    if (nextFeed)
        rig.rotation.picNextNews_MouseUp(2, 0, x, y);
    else
        rig.rotation.picRefresh_MouseUp(2, 0, x, y);

    QCOMPARE(static_cast<int>(rig.window.pictures.size()), pictures);
    if (pictures == 2)
        QCOMPARE(rig.window.pictures[0], std::make_pair(PictureButton::NextNews, rig.picture("next.jpg")));
    if (pictures > 0)
        QCOMPARE(rig.window.pictures.back(), std::make_pair(PictureButton::Refresh, rig.picture("load.jpg")));
    QCOMPARE(rig.transfer.fetched.size(), std::size_t{1});
}

void TestFeedRotation::menuRefreshNeverChangesAPicture()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;
    rig.transfer.serve(kUrlA, rss({"one"}));

    rig.rotation.mnuPopupRefresh_Click();

    QVERIFY(rig.window.pictures.empty());
    QCOMPARE(rig.window.caption, std::string("one[Alpha]"));
}

void TestFeedRotation::exitAtThePendingEventsPointStopsTheStep()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;
    rig.window.onPass = [&] { rig.window.closed = true; };

    rig.rotation.mnuPopupRefresh_Click();

    QVERIFY(rig.transfer.fetched.empty());
    QVERIFY(rig.window.captions.empty());
}

void TestFeedRotation::exitWhileTheFetchWaitsStopsTheStep()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;
    rig.list.Add("1").SubItem(NewsItem::Title) = "old";
    rig.transfer.replies[kUrlA] = FetchResponse{FetchResponse::Status::Aborted, {}, "closing"};
    rig.transfer.duringFetch = [&](const std::string&) {
        rig.rotation.picNextNews_MouseUp(1, 0, 15, 30);
        rig.rotation.picRefresh_MouseUp(1, 0, 0, 0);
        rig.window.closed = true;
    };

    rig.rotation.mnuPopupRefresh_Click();

    // The held steps are dropped: no FeedIndex + 1, no second fetch; only the pictures of the release showed.
    QCOMPARE(rig.transfer.fetched.size(), std::size_t{1});
    QCOMPARE(rig.state.FeedIndex, std::int16_t{2});
    QCOMPARE(rig.window.pictures.size(), std::size_t{2});
    QCOMPARE(rig.window.captions.size(), std::size_t{1});  // the announce text only
    QCOMPARE(rig.state.NewsIndex, std::int16_t{0});
    QVERIFY(!fs::exists(rig.cacheFile("Alpha")));
}

void TestFeedRotation::nextFeedDuringAFetchShowsItsPicturesAtOnceButWaits()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;
    rig.transfer.serve(kUrlA, rss({"alpha"}));
    rig.transfer.serve(kUrlB, rss({"beta", "gamma"}));
    const std::vector<std::pair<PictureButton, std::string>> releasePictures = {
        {PictureButton::NextNews, rig.picture("next.jpg")}, {PictureButton::Refresh, rig.picture("load.jpg")}};
    rig.transfer.duringFetch = [&](const std::string& url) {
        if (url != kUrlA)
            return;
        rig.rotation.picNextNews_MouseUp(1, 0, 15, 30);
        // Held: its FeedIndex + 1 waits, its pictures do not.
        QCOMPARE(rig.state.FeedIndex, std::int16_t{2});
        QCOMPARE(rig.window.pictures, releasePictures);
    };

    rig.rotation.mnuPopupRefresh_Click();

    QCOMPARE(rig.transfer.fetched, (std::vector<std::string>{kUrlA, kUrlB}));
    QCOMPARE(readFile(rig.cacheFile("Alpha")), rss({"alpha"}));
    QCOMPARE(rig.state.FeedIndex, std::int16_t{4});
    QCOMPARE(rig.list.Count(), 2);
    for (std::int32_t row = 1; row <= rig.list.Count(); ++row)
        QCOMPARE(rig.list.Item(row).SubItem(NewsItem::Source), std::string("[Beta]"));
    QCOMPARE(rig.window.caption, std::string("beta[Beta]"));
    // Not shown a second time when the held step runs.
    QCOMPARE(rig.window.pictures, releasePictures);
}

void TestFeedRotation::heldRefreshesJoinIntoOneFetch()
{
    Rig rig;
    addExampleTree(rig.tree);
    rig.state.FeedIndex = 1;
    rig.transfer.serve(kUrlA, rss({"alpha"}));
    rig.transfer.duringFetch = [&](const std::string&) {
        if (rig.transfer.fetched.size() > 1)
            return;
        for (int click = 0; click < 50; ++click)
            rig.rotation.picRefresh_MouseUp(1, 0, 15, 30);
        rig.rotation.mnuPopupRefresh_Click();
    };

    rig.rotation.mnuPopupRefresh_Click();

    QCOMPARE(rig.transfer.fetched, (std::vector<std::string>{kUrlA, kUrlA}));
    QCOMPARE(rig.state.FeedIndex, std::int16_t{2});
    QCOMPARE(rig.window.caption, std::string("alpha[Alpha]"));
}

void TestFeedRotation::heldNextFeedClicksAddUpToOneFetch_data()
{
    QTest::addColumn<bool>("emptyTree");
    QTest::addColumn<std::int16_t>("start");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<std::int16_t>("feedIndex");
    QTest::addColumn<std::vector<std::string>>("fetched");
    const std::string urlC = "http://127.0.0.1:9/c.xml";
    // Root, Alpha, folder, Beta, Gamma: each click lands where clicks one at a time would have.
    QTest::newRow("one click") << false << std::int16_t{1} << 1 << std::int16_t{4}
                               << std::vector<std::string>{kUrlA, kUrlB};
    QTest::newRow("two clicks, the folder skipped once")
        << false << std::int16_t{1} << 2 << std::int16_t{5} << std::vector<std::string>{kUrlA, urlC};
    QTest::newRow("three clicks, past the end to the first feed")
        << false << std::int16_t{1} << 3 << std::int16_t{2} << std::vector<std::string>{kUrlA, kUrlA};
    QTest::newRow("empty tree, past 32767 to 1")
        << true << std::int16_t{32766} << 3 << std::int16_t{2} << std::vector<std::string>{};
}

void TestFeedRotation::heldNextFeedClicksAddUpToOneFetch()
{
    QFETCH(bool, emptyTree);
    QFETCH(std::int16_t, start);
    QFETCH(int, clicks);
    QFETCH(std::int16_t, feedIndex);
    QFETCH(std::vector<std::string>, fetched);
    Rig rig;
    if (!emptyTree) {
        addExampleTree(rig.tree);
        rig.tree.Add(std::string("f1"), "http://127.0.0.1:9/c.xml", "Gamma", "XML");
    }
    rig.state.FeedIndex = start;
    // Clicked at the running step's first pending-events point, mixed with refreshes that change nothing.
    rig.window.onPass = [&] {
        if (rig.window.passes > 1)
            return;
        for (int click = 0; click < clicks; ++click) {
            rig.rotation.picNextNews_MouseUp(1, 0, 0, 0);
            rig.rotation.picRefresh_MouseUp(1, 0, 0, 0);
        }
    };

    rig.rotation.mnuPopupRefresh_Click();

    QCOMPARE(rig.transfer.fetched, fetched);
    QCOMPARE(rig.state.FeedIndex, feedIndex);
    QCOMPARE(rig.window.passes, 2);
}

QTEST_GUILESS_MAIN(TestFeedRotation)
#include "tst_feed_rotation.moc"
