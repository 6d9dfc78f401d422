#include <QTest>

#include "app/tick_source.h"
#include "app_test_support.h"

using namespace vantrel;
using vantrel::test::runEventsFor;

class TestTickSource : public QObject {
    Q_OBJECT

private slots:
    void keepsTickingInsideItsOwnHandler();
    void keepsTickingTwoLevelsDeep();
    void stopEndsTicksAtEveryLevel();
};

void TestTickSource::keepsTickingInsideItsOwnHandler()
{
    int ticks = 0;
    int nestedTicks = -1;
    TickSource* source = nullptr;
    TickSource tim1(20, [&] {
        ++ticks;
        if (ticks == 1) {
            // A refresh with a slow fetch, started from this tick's pending-events pass.
            runEventsFor(300);
            nestedTicks = ticks - 1;
        }
    });
    source = &tim1;
    tim1.start();

    QTRY_VERIFY(nestedTicks >= 0);

    QVERIFY2(nestedTicks >= 5, qPrintable(QString::number(nestedTicks)));
    QCOMPARE(source->depth(), 0);
}

void TestTickSource::keepsTickingTwoLevelsDeep()
{
    int ticks = 0;
    int deepest = 0;
    int ticksAtDepthTwo = 0;
    TickSource* source = nullptr;
    TickSource tim1(20, [&] {
        ++ticks;
        deepest = std::max(deepest, source->depth());
        if (source->depth() == 2)
            ++ticksAtDepthTwo;
        if (ticks <= 2 && source->depth() == ticks)
            runEventsFor(200);
    });
    source = &tim1;
    tim1.start();

    QTRY_VERIFY(ticks > 25);

    QVERIFY(deepest >= 3);
    QVERIFY(ticksAtDepthTwo >= 1);
}

void TestTickSource::stopEndsTicksAtEveryLevel()
{
    int ticks = 0;
    TickSource* source = nullptr;
    TickSource tim1(20, [&] {
        ++ticks;
        if (ticks == 3)
            source->stop();
        if (ticks == 1)
            runEventsFor(200);
    });
    source = &tim1;
    tim1.start();
    QTest::qWait(400);

    QCOMPARE(ticks, 3);
    QVERIFY(!tim1.isActive());
}

QTEST_MAIN(TestTickSource)
#include "tst_tick_source.moc"
