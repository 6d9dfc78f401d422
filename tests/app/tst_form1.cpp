#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QSignalSpy>
#include <QStaticText>
#include <QTest>
#include <QTimer>

#include "app/controls.h"
#include "app/tick_source.h"
#include "app_test_support.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

std::string rss(const std::string& title)
{
    return "<rss version=\"2.0\"><channel><item><title>" + title +
           "</title><link>http://x/1</link></item>"
           "<item><title>second</title><link>http://x/2</link></item></channel></rss>";
}

// A fetch that takes its time with window events running, like the real transfer's wait.
class SlowTransfer : public FakeTransfer {
public:
    Form1* form = nullptr;
    int waitMs = 400;
    float leftAtStart = 0;
    float leftAtEnd = 0;
    int depthAtStart = -1;

    FetchResponse fetch(const std::string& url) override
    {
        depthAtStart = form->tim1().depth();
        leftAtStart = form->newsLeft();
        runEventsFor(waitMs, [this] { return form->closing(); });
        leftAtEnd = form->newsLeft();
        if (form->closing())
            return FetchResponse{FetchResponse::Status::Aborted, {}, "closing"};
        return FakeTransfer::fetch(url);
    }
};

// A window that can deliver a click on the refresh button from inside the next tick's pending-events pass.
class ProbeForm : public Form1 {
public:
    using Form1::Form1;
    bool clickInsideNextTick = false;

    void processPendingEvents() override
    {
        if (clickInsideNextTick) {
            clickInsideNextTick = false;
            QTest::mouseRelease(findChild<QWidget*>("picRefresh"), Qt::LeftButton, {}, QPoint(1, 2));
        }
        Form1::processPendingEvents();
    }
};

// A shown window on a one-feed tree whose fetch takes its time.
struct SlowRig {
    FormRig base;
    SlowTransfer transfer;
    ProbeForm form;
    bool exposed = false;

    SlowRig() : form(base.appDir(), transfer, base.errorBox, base.clock)
    {
        transfer.serve("http://127.0.0.1:9/a", rss("first"));
        transfer.form = &form;
        form.tvw1().Add(std::nullopt, "r1", "World", "CLOSE", "OPEN");
        form.tvw1().Add(std::string("r1"), "http://127.0.0.1:9/a", "Alpha", "XML");
        form.state().FeedIndex = 1;
        form.show();
        exposed = QTest::qWaitForWindowExposed(&form);
    }
};

}  // namespace

class TestForm1 : public QObject {
    Q_OBJECT

private slots:
    void controlsSitWhereTheDefinitionPutsThem_data();
    void controlsSitWhereTheDefinitionPutsThem();
    void onlyTheStripAndButtonsCanBeSeen();
    void startsWithReadyCaptionAndZeroCounters();
    void labelsShowPlainTextOnly_data();
    void labelsShowPlainTextOnly();
    void headlineCutsALongTitleBetweenCharacters_data();
    void headlineCutsALongTitleBetweenCharacters();
    void longHeadlineShowsThePixelsOfTheWholeText_data();
    void longHeadlineShowsThePixelsOfTheWholeText();
    void headlineKeepsItsLeftInExactTwips();
    void menuHasItsCaptionsAndShortcutsButNoMenuBar();
    void shortcutsWorkWithTheMenuClosed();
    void timerTicksEveryTwentyMillisecondsFromCreation();
    void imageListHoldsEveryKeyANodeCanUse();
    void loadPlacesTheWindowAndReadsTheFirstBoard();
    void loadRemovesStaleTemporaryFilesOnly();
    void headlineKeepsMovingWhileAFetchWaits();
    void exitWhileAFetchWaitsStopsTheRefresh();
};

void TestForm1::controlsSitWhereTheDefinitionPutsThem_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("pixels");
    QTest::newRow("pic1") << "pic1" << QRect(2, 3, 425, 23);
    QTest::newRow("picRefresh") << "picRefresh" << QRect(496, 5, 30, 20);
    QTest::newRow("picNextNews") << "picNextNews" << QRect(531, 5, 30, 20);
    QTest::newRow("Frame1") << "Frame1" << QRect(432, 48, 129, 289);
}

void TestForm1::controlsSitWhereTheDefinitionPutsThem()
{
    QFETCH(QString, name);
    QFETCH(QRect, pixels);
    FormRig rig;
    auto* control = rig.form->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), pixels);
}

void TestForm1::onlyTheStripAndButtonsCanBeSeen()
{
    FormRig rig;
    rig.form->Form_Load();
    rig.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));

    QCOMPARE(rig.form->geometry(), QRect(0, 0, 570, 30));
    QVERIFY(rig.form->windowFlags() & Qt::FramelessWindowHint);
    for (const char* name : {"pic1", "lbNews", "picRefresh", "picNextNews"})
        QVERIFY2(rig.form->findChild<QWidget*>(name)->isVisible(), name);
    auto* frame = rig.form->findChild<CaptionFrame*>("Frame1");
    QVERIFY(!frame->isVisible());
    QCOMPARE(frame->caption(), QStringLiteral("設定"));
    auto* news = rig.form->findChild<QLabel*>("lbNews");
    QCOMPARE(news->parentWidget()->objectName(), QStringLiteral("pic1"));
    QCOMPARE(news->height(), 13);
    QCOMPARE(news->pos(), QPoint(8, 4));
}

void TestForm1::startsWithReadyCaptionAndZeroCounters()
{
    FormRig rig;
    QCOMPARE(rig.form->findChild<QLabel*>("lbNews")->text(), QStringLiteral("Vantrel is ready..."));
    const std::pair<const char*, const char*> captions[] = {
        {"lbNumber", "0"},          {"lbNowNumber", "0"},
        {"lbNewsNumber", "0"},      {"Label1", "ニュースの個数"},
        {"Label2", "今のニュース"}, {"Label3", "ニュースリスト番号"}};
    for (const auto& [name, caption] : captions)
        QCOMPARE(rig.form->findChild<QLabel*>(name)->text(), QString::fromUtf8(caption));
    const QFont font = rig.form->findChild<QLabel*>("lbNews")->font();
    QCOMPARE(font.pointSizeF(), 9.75);
    QCOMPARE(font.weight(), QFont::Normal);
}

void TestForm1::labelsShowPlainTextOnly_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("shown");
    for (const QString markup : {"<b>x</b>", "<img src=\"http://127.0.0.1:1/a.png\">", "a &amp; b"})
        QTest::newRow(qPrintable(markup)) << markup << markup;
    // Only a headline's title is ever cut.
    const QString status = QString(1500, 'u') + QStringLiteral("をダウンロードします。[12:34:56]");
    QTest::newRow("status text past 1000 characters, whole") << status << status;
}

void TestForm1::labelsShowPlainTextOnly()
{
    QFETCH(QString, caption);
    QFETCH(QString, shown);
    FormRig rig;
    rig.form->setCaption(caption.toStdString());
    for (QLabel* label : rig.form->findChildren<QLabel*>())
        QCOMPARE(label->textFormat(), Qt::PlainText);
    auto* news = rig.form->findChild<QLabel*>("lbNews");
    QCOMPARE(news->text(), shown);
    // As wide as the very characters, not as rendered markup.
    QCOMPARE(news->width(), news->fontMetrics().horizontalAdvance(shown));
    QCOMPARE(rig.form->newsWidth(), news->width() * 15.f);
}

void TestForm1::headlineCutsALongTitleBetweenCharacters_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("shown");
    const QString ellipsis(QChar(0x2026));
    const QString tail(500, 'b');
    auto supplementary = [](char32_t codePoint, int times) { return QString::fromUcs4(&codePoint, 1).repeated(times); };
    QTest::newRow("1000 characters, whole") << QString(1000, 'x') << QString(1000, 'x');
    QTest::newRow("200000 characters, cut") << QString(200000, 'x') << QString(1000, 'x') + ellipsis;
    QTest::newRow("cut before a character made of two code units")
        << QString(999, 'a') + QString::fromUtf8("😀") + tail << QString(999, 'a') + ellipsis;
    QTest::newRow("flag") << QString(998, 'a') + QString::fromUtf8("🇯🇵") + tail << QString(998, 'a') + ellipsis;
    QTest::newRow("emoji modifier") << QString(998, 'a') + QString::fromUtf8("👍🏻") + tail
                                    << QString(998, 'a') + ellipsis;
    QTest::newRow("variation selector") << QString(999, 'a') + QString::fromUtf8("葛") + supplementary(0xE0100, 1) +
                                               tail
                                        << QString(999, 'a') + ellipsis;
    QTest::newRow("run of combining marks") << QString(1200, QChar(0x0301)) << QString(1000, QChar(0x0301)) + ellipsis;
    QTest::newRow("surrogate pair in a run of marks")
        << "e" + supplementary(0xE0101, 600) << "e" + supplementary(0xE0101, 499) + ellipsis;
}

void TestForm1::headlineCutsALongTitleBetweenCharacters()
{
    QFETCH(QString, title);
    QFETCH(QString, shown);
    FormRig rig;

    rig.form->setHeadline(title.toStdString(), "[Feed]");

    auto* news = rig.form->findChild<QLabel*>("lbNews");
    QCOMPARE(news->text(), shown + "[Feed]");
    QCOMPARE(news->width(), news->fontMetrics().horizontalAdvance(shown + "[Feed]"));
}

void TestForm1::longHeadlineShowsThePixelsOfTheWholeText_data()
{
    QTest::addColumn<double>("travelled");
    QTest::newRow("entering on the right") << 0.02;
    QTest::newRow("across the whole strip") << 0.5;
    QTest::newRow("leaving on the left") << 0.98;
}

void TestForm1::longHeadlineShowsThePixelsOfTheWholeText()
{
    QFETCH(double, travelled);
    FormRig rig;
    QString title;
    while (title.size() < 1200)
        title += QStringLiteral("Harbour bridge 港の橋 reopens ");
    rig.form->setHeadline(title.toStdString(), "[Feed]");
    auto* strip = rig.form->findChild<QWidget*>("pic1");
    auto* news = rig.form->findChild<QLabel*>("lbNews");
    const float span = rig.form->stripWidth() + rig.form->newsWidth();
    rig.form->setNewsLeft(rig.form->stripWidth() - static_cast<float>(travelled) * span);

    // What the strip shows with the whole text drawn at the label's place.
    news->hide();
    QImage expected = strip->grab().toImage();
    news->show();
    QStaticText whole(news->text());
    whole.setTextFormat(Qt::PlainText);
    whole.prepare(QTransform(), news->font());
    {
        QPainter painter(&expected);
        painter.setFont(news->font());
        painter.setPen(Qt::white);
        painter.setClipRect(news->geometry());
        painter.drawStaticText(QPointF(news->x(), news->y() + (news->height() - whole.size().height()) / 2), whole);
    }

    QCOMPARE(strip->grab().toImage(), expected);
    // A repaint of a narrow part, as a step of the scroll makes at the headline's ends.
    const QRect part(200, 0, 3, strip->height());
    QImage repainted = expected.copy();
    repainted.fill(Qt::black);
    strip->render(&repainted, part.topLeft(), QRegion(part));
    QCOMPARE(repainted.copy(part), expected.copy(part));
}

void TestForm1::headlineKeepsItsLeftInExactTwips()
{
    FormRig rig;
    rig.form->setNewsLeft(120);
    for (int i = 0; i < 50; ++i)
        rig.form->setNewsLeft(rig.form->newsLeft() - 20);
    QCOMPARE(rig.form->newsLeft(), -880.f);
    rig.form->setNewsLeft(7.4f);
    QCOMPARE(rig.form->newsLeft(), 7.4f);
    QCOMPARE(rig.form->findChild<QLabel*>("lbNews")->x(), 0);
    QCOMPARE(rig.form->stripWidth(), 6375.f);
}

void TestForm1::menuHasItsCaptionsAndShortcutsButNoMenuBar()
{
    FormRig rig;
    QMenu* menu = rig.form->mnuPopup();
    QCOMPARE(menu->title(), QStringLiteral("ポップアップ"));
    const QList<QAction*> items = menu->actions();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items[0]->text(), QStringLiteral("更新(&R)"));
    QCOMPARE(items[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+R")));
    QCOMPARE(items[1]->text(), Form1::kViewFrontCaption);
    QVERIFY(items[2]->isSeparator());
    QCOMPARE(items[3]->text(), QStringLiteral("終了(&X)"));
    QCOMPARE(items[3]->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));
    QVERIFY(!menu->isVisible());
    QVERIFY(rig.form->findChildren<QMenuBar*>().isEmpty());
}

void TestForm1::shortcutsWorkWithTheMenuClosed()
{
    FormRig rig;
    rig.form->Form_Load();
    rig.form->show();
    QVERIFY(QTest::qWaitForWindowActive(rig.form.get()));
    QAction* refresh = rig.form->mnuPopup()->actions()[0];
    QSignalSpy refreshes(refresh, &QAction::triggered);

    QTest::keyClick(rig.form.get(), Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(refreshes.count(), 1);
    // The key held down: its auto-repeats ask for nothing more.
    for (int repeat = 0; repeat < 3; ++repeat)
        QTest::simulateEvent(rig.form.get(), true, Qt::Key_R, Qt::ControlModifier, QString(), true);
    QCOMPARE(refreshes.count(), 1);

    QTest::keyClick(rig.form.get(), Qt::Key_X, Qt::ControlModifier);
    QTRY_VERIFY(rig.form->closing());
    QVERIFY(!rig.form->isVisible());
}

void TestForm1::timerTicksEveryTwentyMillisecondsFromCreation()
{
    FormRig rig;
    QCOMPARE(rig.form->tim1().interval(), 20);
    QVERIFY(rig.form->tim1().isActive());
    const float start = rig.form->newsLeft();
    QTRY_VERIFY(rig.form->newsLeft() <= start - 100);
}

void TestForm1::imageListHoldsEveryKeyANodeCanUse()
{
    FormRig rig;
    const std::vector<QString> keys = rig.form->imageKeys();
    QCOMPARE(keys.size(), std::size_t{17});
    for (const char* key : {"CLOSE", "OPEN", "IE", "XML", "XML2", "DOC"})
        QVERIFY2(std::find(keys.begin(), keys.end(), QString::fromLatin1(key)) != keys.end(), key);
}

void TestForm1::loadPlacesTheWindowAndReadsTheFirstBoard()
{
    FormRig rig;
    {
        QFile board(rig.dir.path() + "/data/brd/a.brd");
        QVERIFY(board.open(QIODevice::WriteOnly));
        board.write("World,ROOT_FOLDER,r1,0\r\nHeadlines,http://127.0.0.1:9/a,CHILD_NODE,1\r\n");
    }
    rig.form->move(100, 100);

    rig.form->Form_Load();

    QCOMPARE(rig.form->geometry(), QRect(0, 0, 570, 30));
    QCOMPARE(rig.form->tvw1().Count(), std::int16_t{2});
    QCOMPARE(rig.form->state().FeedIndex, std::int16_t{1});
    QVERIFY(rig.errorBox.shown.empty());
}

void TestForm1::loadRemovesStaleTemporaryFilesOnly()
{
    FormRig rig;
    const QString log = rig.dir.path() + "/data/log/";
    auto write = [&](const QString& name, int ageSeconds) {
        QFile file(log + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("partial");
        file.flush();
        file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime);
    };
    write(".vantrel-0123abcd.tmp", 3600);
    write(".vantrel-4567ef01.tmp", 5);
    write("Old feed.xml", 3600);

    rig.form->Form_Load();

    QVERIFY(!QFile::exists(log + ".vantrel-0123abcd.tmp"));
    QVERIFY(QFile::exists(log + ".vantrel-4567ef01.tmp"));
    QVERIFY(QFile::exists(log + "Old feed.xml"));
}

void TestForm1::headlineKeepsMovingWhileAFetchWaits()
{
    SlowRig rig;
    QVERIFY(rig.exposed);
    // The click arrives inside a tick's own pending-events pass, which is how most clicks arrive.
    rig.form.clickInsideNextTick = true;
    QTRY_VERIFY(rig.transfer.depthAtStart >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(rig.transfer.leftAtEnd != 0, 5000);

    QVERIFY(rig.transfer.depthAtStart >= 1);
    // 400 ms at 20 twips per 20 ms tick is 400 twips; allow a loaded machine its slack.
    QVERIFY2(rig.transfer.leftAtEnd <= rig.transfer.leftAtStart - 100,
             qPrintable(QString("%1 -> %2").arg(rig.transfer.leftAtStart).arg(rig.transfer.leftAtEnd)));
    QTRY_COMPARE(rig.form.findChild<QLabel*>("lbNews")->text(), QStringLiteral("first[Alpha]"));
}

void TestForm1::exitWhileAFetchWaitsStopsTheRefresh()
{
    SlowRig rig;
    QVERIFY(rig.exposed);
    rig.transfer.waitMs = 5000;
    Form1& form = rig.form;
    QTimer::singleShot(100, &form, [&] { form.mnuPopup()->actions()[3]->trigger(); });
    QElapsedTimer elapsed;
    elapsed.start();
    form.mnuPopupRefresh_Click();

    QVERIFY(elapsed.elapsed() < 2000);
    QVERIFY(form.closing());
    QVERIFY(!form.tim1().isActive());
    QVERIFY(form.findChild<QLabel*>("lbNews")->text().endsWith(QStringLiteral("をダウンロードします。[12:34:56]")));
    QVERIFY(!QFile::exists(rig.base.dir.path() + "/data/log/Alpha.xml"));
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
