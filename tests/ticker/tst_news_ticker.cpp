#include <QTest>

#include "fake_window.h"
#include "feeds/news_list.h"
#include "ticker/news_ticker.h"
#include "ticker/shared_state.h"

using namespace vantrel;
using vantrel::test::FakeTickerWindow;

namespace {

void addRows(NewsList& list, int count, const std::string& source = "[Feed]")
{
    for (int i = 1; i <= count; ++i) {
        NewsItem& item = list.Add(std::to_string(i));
        item.SubItem(NewsItem::Title) = "title" + std::to_string(i);
        item.SubItem(NewsItem::Source) = source;
    }
}

}  // namespace

class TestNewsTicker : public QObject {
    Q_OBJECT

private slots:
    void movesTwentyTwipsWhileAnyPartIsInTheStrip_data();
    void movesTwentyTwipsWhileAnyPartIsInTheStrip();
    void reentersBeyondTheRightEdgeAndTakesTheNextRow();
    void reentryGapGrowsWithTheHeadlineThatLeft();
    void rightEdgeExactlyAtZeroCountsAsGone();
    void emptyListKeepsCaptionAndIndex();
    void oneRowListShowsRowOneAgain();
    void outOfRangeIndexStartsAgainAtRowOne_data();
    void outOfRangeIndexStartsAgainAtRowOne();
    void countersFollowARefreshWithinOneTick();
    void readsTheLabelOnlyAfterPendingEvents();
    void closingAtPendingEventsStopsTheTick();
};

void TestNewsTicker::movesTwentyTwipsWhileAnyPartIsInTheStrip_data()
{
    QTest::addColumn<float>("left");
    QTest::addColumn<float>("expected");
    QTest::newRow("start position") << 120.f << 100.f;
    QTest::newRow("beyond the right edge") << 8410.f << 8390.f;
    QTest::newRow("partly out on the left") << -100.f << -120.f;
    QTest::newRow("fraction kept") << 0.5f << -19.5f;
}

void TestNewsTicker::movesTwentyTwipsWhileAnyPartIsInTheStrip()
{
    QFETCH(float, left);
    QFETCH(float, expected);
    NewsList list;
    SharedState state;
    FakeTickerWindow window;
    window.left = left;
    NewsTicker ticker(list, state, window);

    ticker.tim1_Timer();

    QCOMPARE(window.left, expected);
    QCOMPARE(window.caption, std::string("Vantrel is ready..."));
}

void TestNewsTicker::reentersBeyondTheRightEdgeAndTakesTheNextRow()
{
    NewsList list;
    addRows(list, 3);
    SharedState state;
    state.NewsIndex = 1;
    FakeTickerWindow window;
    window.caption = std::string(20, 'x');  // 2000 twips
    window.left = -2000;
    NewsTicker ticker(list, state, window);

    ticker.tim1_Timer();

    QCOMPARE(window.left, 6375.f + 2000.f + 10.f);
    QCOMPARE(state.NewsIndex, std::int16_t{2});
    QCOMPARE(window.caption, std::string("title2[Feed]"));
}

void TestNewsTicker::reentryGapGrowsWithTheHeadlineThatLeft()
{
    NewsList list;
    SharedState state;
    FakeTickerWindow window;
    window.twipsPerByte = 2025.f / 5;
    window.caption = "abcde";  // 2025 twips
    window.left = -2025;
    NewsTicker ticker(list, state, window);

    ticker.tim1_Timer();
    QCOMPARE(window.left, 8410.f);

    int ticks = 0;
    while (window.left >= window.strip) {
        ticker.tim1_Timer();
        ++ticks;
    }
    QCOMPARE(ticks, 102);
    QCOMPARE(window.left, 6370.f);
}

void TestNewsTicker::rightEdgeExactlyAtZeroCountsAsGone()
{
    NewsList list;
    SharedState state;
    FakeTickerWindow window;
    window.caption = std::string(15, 'x');  // 1500 twips
    window.left = -1500;
    NewsTicker ticker(list, state, window);

    ticker.tim1_Timer();

    QCOMPARE(window.left, 6375.f + 1500.f + 10.f);
}

void TestNewsTicker::emptyListKeepsCaptionAndIndex()
{
    NewsList list;
    SharedState state;
    state.NewsIndex = 4;
    FakeTickerWindow window;
    window.left = -5000;
    NewsTicker ticker(list, state, window);

    ticker.tim1_Timer();

    QCOMPARE(window.caption, std::string("Vantrel is ready..."));
    QVERIFY(window.captions.empty());
    QCOMPARE(state.NewsIndex, std::int16_t{4});
    QCOMPARE(window.counters[Counter::RowCount], 0);
    QVERIFY(window.left > window.strip);
}

void TestNewsTicker::oneRowListShowsRowOneAgain()
{
    NewsList list;
    addRows(list, 1);
    SharedState state;
    state.NewsIndex = 1;
    FakeTickerWindow window;
    window.left = -5000;
    NewsTicker ticker(list, state, window);

    ticker.tim1_Timer();

    QCOMPARE(state.NewsIndex, std::int16_t{1});
    QCOMPARE(window.caption, std::string("title1[Feed]"));
}

void TestNewsTicker::outOfRangeIndexStartsAgainAtRowOne_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("newsIndex");
    QTest::newRow("never shown") << 5 << 0;
    QTest::newRow("list rebuilt shorter") << 5 << 9;
    QTest::newRow("past the last row") << 5 << 5;
    QTest::newRow("16-bit limit wraps") << 40000 << 32767;
}

void TestNewsTicker::outOfRangeIndexStartsAgainAtRowOne()
{
    QFETCH(int, rows);
    QFETCH(int, newsIndex);
    NewsList list;
    addRows(list, rows);
    SharedState state;
    state.NewsIndex = static_cast<std::int16_t>(newsIndex);
    FakeTickerWindow window;
    window.left = -5000;
    NewsTicker ticker(list, state, window);

    ticker.tim1_Timer();

    QCOMPARE(state.NewsIndex, std::int16_t{1});
    QCOMPARE(window.caption, std::string("title1[Feed]"));
}

void TestNewsTicker::countersFollowARefreshWithinOneTick()
{
    NewsList list;
    SharedState state;
    state.FeedIndex = 3;
    FakeTickerWindow window;
    NewsTicker ticker(list, state, window);

    ticker.tim1_Timer();
    QCOMPARE(window.counters[Counter::RowCount], 0);
    QCOMPARE(window.counters[Counter::NowNumber], 0);

    addRows(list, 12);
    state.NewsIndex = 1;
    ticker.tim1_Timer();

    QCOMPARE(window.counters[Counter::FeedNumber], 3);
    QCOMPARE(window.counters[Counter::RowCount], 12);
    QCOMPARE(window.counters[Counter::NowNumber], 1);
}

void TestNewsTicker::readsTheLabelOnlyAfterPendingEvents()
{
    NewsList list;
    addRows(list, 2);
    SharedState state;
    FakeTickerWindow window;
    window.left = 500;
    // A refresh running at the pending-events point puts a new headline on the label and rewinds it.
    window.onPass = [&] {
        window.left = -5000;
        state.NewsIndex = 1;
    };
    NewsTicker ticker(list, state, window);

    ticker.tim1_Timer();

    QCOMPARE(window.passes, 1);
    QCOMPARE(state.NewsIndex, std::int16_t{2});
    QCOMPARE(window.caption, std::string("title2[Feed]"));
}

void TestNewsTicker::closingAtPendingEventsStopsTheTick()
{
    NewsList list;
    SharedState state;
    FakeTickerWindow window;
    window.onPass = [&] { window.closed = true; };
    NewsTicker ticker(list, state, window);

    ticker.tim1_Timer();

    QCOMPARE(window.left, 120.f);
}

QTEST_GUILESS_MAIN(TestNewsTicker)
#include "tst_news_ticker.moc"
