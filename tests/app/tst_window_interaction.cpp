#include <iostream>
#include <sstream>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include "app/controls.h"
#include "app/tick_source.h"
#include "app_test_support.h"
#include "feeds/story_link.h"

using namespace vantrel;
using namespace vantrel::test;

namespace {

PictureBox* box(Form1& form, const char* name)
{
    return form.findChild<PictureBox*>(name);
}

// True when the button shows exactly the picture in the file (pictures are read anew, never cached).
bool shows(PictureBox* button, const QString& file)
{
    return button->picture().toImage() == QImage(file).convertToFormat(button->picture().toImage().format());
}

// Through the window, as the window system delivers them, so a pressed control keeps the pointer.
void mouse(const QString& event, QWidget* target, Qt::MouseButton button, const QPoint& at)
{
    QWindow* window = target->window()->windowHandle();
    const QPoint inWindow = target->mapTo(target->window(), at);
    if (event == "press")
        QTest::mousePress(window, button, {}, inWindow);
    else if (event == "move")
        QTest::mouseMove(window, inWindow);
    else
        QTest::mouseRelease(window, button, {}, inWindow);
}

// A point of the window's surface, between the strip and the refresh button.
const QPoint kSurface(450, 15);

// What is written on standard error while it lives.
struct CapturedErrors {
    std::ostringstream text;
    std::streambuf* const saved = std::cerr.rdbuf(text.rdbuf());
    ~CapturedErrors() { std::cerr.rdbuf(saved); }
};

// A board of two feeds, each served with two rows.
void serveTwoFeeds(FormRig& rig)
{
    rig.form->tvw1().Add(std::nullopt, "r1", "World", "CLOSE", "OPEN");
    for (const std::string feed : {"a", "b"}) {
        rig.form->tvw1().Add(std::string("r1"), "http://127.0.0.1:9/" + feed, "Feed " + feed, "XML");
        rig.transfer.serve("http://127.0.0.1:9/" + feed,
                           "<rss><channel><item><title>one</title><link>https://127.0.0.1:9/" + feed +
                               "/1</link></item><item><title>two</title><link>file:///etc/passwd</link></item>"
                               "</channel></rss>");
    }
    rig.form->state().FeedIndex = 2;
}

}  // namespace

class TestWindowInteraction : public QObject {
    Q_OBJECT

public slots:
    // Takes the addresses that QDesktopServices would hand to the desktop.
    void open(const QUrl& url) { m_opened << url.toString(); }

private slots:
    void init();
    void cleanup();

    void buttonsStartAlikeWithTheDefinitionsPicture();
    void pointerOverAButtonSwitchesItsPicture_data();
    void pointerOverAButtonSwitchesItsPicture();
    void releaseOverNextFeedChangesBothButtons();
    void menuRefreshNeverChangesAPicture();
    void pressedButtonKeepsTheMovesOutsideIt();
    void surfaceMoveResetsBothButtons();
    void missingPictureLeavesThePreviousOne();
    void buttonTakesThePictureDrawnForTheScreen_data();
    void buttonTakesThePictureDrawnForTheScreen();
    void onlyTheLeftButtonAloneStartsAMove_data();
    void onlyTheLeftButtonAloneStartsAMove();
    void popupOpensOnlyForTheRightButtonOverTheSurface_data();
    void popupOpensOnlyForTheRightButtonOverTheSurface();
    void alwaysOnTopFollowsTheCaption();
    void exitClosesTheWindow();
    void onlyAbsoluteWebLinksAreOpened_data();
    void onlyAbsoluteWebLinksAreOpened();
    void headlineOpensTheStoryOfTheRowItShows();
    void buttonsAreNamedButtonsToScreenReaders();

private:
    std::unique_ptr<FormRig> m_rig;
    QStringList m_opened;
};

void TestWindowInteraction::init()
{
    for (const char* scheme : {"http", "https", "file"})
        QDesktopServices::setUrlHandler(scheme, this, "open");
    m_opened.clear();
    m_rig = std::make_unique<FormRig>();
    m_rig->form->Form_Load();
    m_rig->form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_rig->form.get()));
}

void TestWindowInteraction::cleanup()
{
    if (QWidget* grabber = QWidget::mouseGrabber())
        grabber->releaseMouse();
    m_rig.reset();
    for (const char* scheme : {"http", "https", "file"})
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestWindowInteraction::buttonsStartAlikeWithTheDefinitionsPicture()
{
    Form1& form = *m_rig->form;
    QVERIFY(!box(form, "picRefresh")->picture().isNull());
    QCOMPARE(box(form, "picRefresh")->picture().toImage(), box(form, "picNextNews")->picture().toImage());
    QCOMPARE(box(form, "picRefresh")->picture().size(), QSize(30, 20));
}

void TestWindowInteraction::pointerOverAButtonSwitchesItsPicture_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("event");
    QTest::addColumn<int>("mouseButton");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QString>("picture");  // empty: unchanged

    // 1 px is 15 twips: (1, 2) gives 15 AND 30, (1, 16) gives 15 AND 240.
    QTest::newRow("press refresh") << "picRefresh"
                                   << "press" << int(Qt::LeftButton) << QPoint(1, 2) << "push.jpg";
    QTest::newRow("press refresh, right button") << "picRefresh"
                                                 << "press" << int(Qt::RightButton) << QPoint(1, 2) << "push.jpg";
    QTest::newRow("press refresh, gate closed") << "picRefresh"
                                                << "press" << int(Qt::LeftButton) << QPoint(1, 16) << "";
    QTest::newRow("press refresh, x zero") << "picRefresh"
                                           << "press" << int(Qt::LeftButton) << QPoint(0, 2) << "";
    QTest::newRow("move over refresh") << "picRefresh"
                                       << "move" << int(Qt::NoButton) << QPoint(1, 2) << "load.jpg";
    QTest::newRow("move over refresh, gate closed") << "picRefresh"
                                                    << "move" << int(Qt::NoButton) << QPoint(1, 16) << "";
    QTest::newRow("release over refresh") << "picRefresh"
                                          << "release" << int(Qt::LeftButton) << QPoint(1, 2) << "load.jpg";
    QTest::newRow("release over refresh, right button")
        << "picRefresh"
        << "release" << int(Qt::RightButton) << QPoint(1, 2) << "load.jpg";
    QTest::newRow("press next feed") << "picNextNews"
                                     << "press" << int(Qt::MiddleButton) << QPoint(1, 2) << "push.jpg";
    QTest::newRow("move over next feed") << "picNextNews"
                                         << "move" << int(Qt::NoButton) << QPoint(1, 2) << "next.jpg";
    QTest::newRow("move over next feed, y zero") << "picNextNews"
                                                 << "move" << int(Qt::NoButton) << QPoint(1, 0) << "";
}

void TestWindowInteraction::pointerOverAButtonSwitchesItsPicture()
{
    QFETCH(QString, button);
    QFETCH(QString, event);
    QFETCH(int, mouseButton);
    QFETCH(QPoint, at);
    QFETCH(QString, picture);
    PictureBox* target = box(*m_rig->form, qPrintable(button));
    const QImage before = target->picture().toImage();

    const auto qtButton = static_cast<Qt::MouseButton>(mouseButton);
    if (event == "release")
        mouse("press", target, qtButton, at);
    mouse(event, target, qtButton, at);

    if (picture.isEmpty())
        QCOMPARE(target->picture().toImage(), before);
    else
        QVERIFY(shows(target, m_rig->picture(qPrintable(picture))));
    if (event == "press")
        mouse("release", target, qtButton, QPoint(1, 16));
}

void TestWindowInteraction::releaseOverNextFeedChangesBothButtons()
{
    Form1& form = *m_rig->form;
    mouse("press", box(form, "picNextNews"), Qt::LeftButton, QPoint(1, 2));
    mouse("release", box(form, "picNextNews"), Qt::LeftButton, QPoint(1, 2));
    QVERIFY(shows(box(form, "picNextNews"), m_rig->picture("next.jpg")));
    QVERIFY(shows(box(form, "picRefresh"), m_rig->picture("load.jpg")));
}

void TestWindowInteraction::menuRefreshNeverChangesAPicture()
{
    Form1& form = *m_rig->form;
    const QImage before = box(form, "picRefresh")->picture().toImage();
    form.mnuPopup()->actions()[0]->trigger();
    QTest::keyClick(&form, Qt::Key_R, Qt::ControlModifier);
    QCOMPARE(box(form, "picRefresh")->picture().toImage(), before);
    QCOMPARE(box(form, "picNextNews")->picture().toImage(), before);
}

void TestWindowInteraction::pressedButtonKeepsTheMovesOutsideIt()
{
    Form1& form = *m_rig->form;
    PictureBox* refresh = box(form, "picRefresh");
    mouse("press", refresh, Qt::LeftButton, QPoint(1, 2));
    QVERIFY(shows(refresh, m_rig->picture("push.jpg")));

    // Over the surface but still the button's: (-46, 10) px is -690 AND 150 twips, which opens the gate.
    mouse("move", &form, Qt::NoButton, kSurface);

    QVERIFY(shows(refresh, m_rig->picture("load.jpg")));
    mouse("release", refresh, Qt::LeftButton, QPoint(1, 2));
}

void TestWindowInteraction::surfaceMoveResetsBothButtons()
{
    Form1& form = *m_rig->form;
    mouse("move", box(form, "picRefresh"), Qt::NoButton, QPoint(1, 2));
    mouse("move", box(form, "picNextNews"), Qt::NoButton, QPoint(1, 2));

    mouse("move", &form, Qt::NoButton, kSurface);

    QVERIFY(shows(box(form, "picRefresh"), m_rig->picture("normal.jpg")));
    QVERIFY(shows(box(form, "picNextNews"), m_rig->picture("normal.jpg")));
}

void TestWindowInteraction::missingPictureLeavesThePreviousOne()
{
    Form1& form = *m_rig->form;
    PictureBox* refresh = box(form, "picRefresh");
    mouse("press", refresh, Qt::LeftButton, QPoint(1, 2));
    mouse("release", refresh, Qt::LeftButton, QPoint(1, 16));
    QFile::remove(m_rig->picture("load.jpg"));
    QFile broken(m_rig->picture("normal.jpg"));
    QVERIFY(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("not a picture");
    broken.close();

    mouse("move", refresh, Qt::NoButton, QPoint(1, 2));
    mouse("move", &form, Qt::NoButton, kSurface);

    QVERIFY(shows(refresh, m_rig->picture("push.jpg")));
}

void TestWindowInteraction::buttonTakesThePictureDrawnForTheScreen_data()
{
    QTest::addColumn<bool>("sharpFiles");
    QTest::newRow("with name@2x") << true;
    QTest::newRow("without name@2x") << false;
}

// Also run at QT_SCALE_FACTOR=2 (tests/app/CMakeLists.txt).
void TestWindowInteraction::buttonTakesThePictureDrawnForTheScreen()
{
    QFETCH(bool, sharpFiles);
    if (!sharpFiles)
        QVERIFY(QFile::remove(m_rig->picture("next@2x.jpg")));
    Form1& form = *m_rig->form;
    PictureBox* next = box(form, "picNextNews");
    mouse("move", &form, Qt::NoButton, kSurface);
    mouse("move", next, Qt::NoButton, QPoint(1, 2));

    const bool sharp = sharpFiles && form.devicePixelRatio() > 1;
    QVERIFY(shows(next, m_rig->picture(sharp ? "next@2x.jpg" : "next.jpg")));
    QCOMPARE(next->picture().devicePixelRatio(), sharp ? 2.0 : 1.0);
}

void TestWindowInteraction::onlyTheLeftButtonAloneStartsAMove_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("moves");
    QTest::newRow("left") << 1 << true;
    QTest::newRow("right") << 2 << false;
    QTest::newRow("left and right") << 3 << false;
    QTest::newRow("middle") << 4 << false;
    QTest::newRow("none") << 0 << false;
}

void TestWindowInteraction::onlyTheLeftButtonAloneStartsAMove()
{
    QFETCH(int, button);
    QFETCH(bool, moves);
    Form1& form = *m_rig->form;
    const PointerArgs args{static_cast<std::int16_t>(button), 0, 6750, 225};

    // The offscreen platform refuses a system move, so a started move shows as the window taking the pointer.
    form.Form_MouseMove(args);
    QCOMPARE(QWidget::mouseGrabber() == &form, moves);
    // The release ends the move.
    mouse("release", &form, Qt::LeftButton, kSurface);
    QVERIFY(!QWidget::mouseGrabber());

    form.pic1_MouseMove(args);
    QCOMPARE(QWidget::mouseGrabber() == &form, moves);
}

void TestWindowInteraction::popupOpensOnlyForTheRightButtonOverTheSurface_data()
{
    QTest::addColumn<QString>("over");
    QTest::addColumn<int>("mouseButton");
    QTest::addColumn<bool>("opens");
    QTest::newRow("right over the surface") << "Form1" << int(Qt::RightButton) << true;
    QTest::newRow("left over the surface") << "Form1" << int(Qt::LeftButton) << false;
    QTest::newRow("middle over the surface") << "Form1" << int(Qt::MiddleButton) << false;
    QTest::newRow("right over the strip") << "pic1" << int(Qt::RightButton) << false;
    QTest::newRow("right over the headline") << "lbNews" << int(Qt::RightButton) << false;
    QTest::newRow("right over a button") << "picNextNews" << int(Qt::RightButton) << false;
}

void TestWindowInteraction::popupOpensOnlyForTheRightButtonOverTheSurface()
{
    QFETCH(QString, over);
    QFETCH(int, mouseButton);
    QFETCH(bool, opens);
    Form1& form = *m_rig->form;
    QMenu* menu = form.mnuPopup();
    int shown = 0;
    connect(menu, &QMenu::aboutToShow, this, [&] {
        ++shown;
        QTimer::singleShot(0, menu, &QMenu::close);
    });
    QWidget* target = over == "Form1" ? static_cast<QWidget*>(&form) : form.findChild<QWidget*>(over);
    const QPoint at = over == "Form1" ? kSurface : QPoint(1, 2);

    mouse("press", target, static_cast<Qt::MouseButton>(mouseButton), at);
    mouse("release", target, static_cast<Qt::MouseButton>(mouseButton), at);

    QCOMPARE(shown, opens ? 1 : 0);
    QVERIFY(!menu->isVisible());
}

void TestWindowInteraction::alwaysOnTopFollowsTheCaption()
{
    Form1& form = *m_rig->form;
    QAction* item = form.mnuPopup()->actions()[1];
    const QRect geometry = form.geometry();

    item->trigger();
    QCOMPARE(item->text(), Form1::kViewNormalCaption);
    QVERIFY(form.windowHandle()->flags() & Qt::WindowStaysOnTopHint);

    item->trigger();
    QCOMPARE(item->text(), Form1::kViewFrontCaption);
    QVERIFY(!(form.windowHandle()->flags() & Qt::WindowStaysOnTopHint));
    QVERIFY(form.isVisible());
    QCOMPARE(form.geometry(), geometry);
}

void TestWindowInteraction::exitClosesTheWindow()
{
    Form1& form = *m_rig->form;
    form.mnuPopup()->actions()[3]->trigger();
    QVERIFY(form.closing());
    QVERIFY(!form.isVisible());
    QVERIFY(!form.tim1().isActive());
}

void TestWindowInteraction::onlyAbsoluteWebLinksAreOpened_data()
{
    QTest::addColumn<QByteArray>("link");
    QTest::addColumn<bool>("opens");
    for (const char* link :
         {"HTTPS://Example.com:8443/a?b#c", "http://user@[::1]/a", "https://例え.jp/記事", "http://x/\xC2\xA0"})
        QTest::newRow(link) << QByteArray(link) << true;
    for (const char* link :
         {"file:///etc/passwd", "javascript:alert(1)", "\\\\host\\share\\a", "C:\\x\\a.html", "/news/1",
          "//example.com/a", "http:example.com", "http:\\\\example.com", "http://", "http://user@/a", "http://:80/",
          "http://[]/", "ftp://x/a", "http://x/\x01", "http://x/\x7F", "http://x/\xC2\x80"})
        QTest::newRow(link) << QByteArray(link) << false;
    QTest::newRow("2048 bytes") << "http://x/" + QByteArray(2039, 'a') << true;
    QTest::newRow("2049 bytes") << "http://x/" + QByteArray(2040, 'a') << false;
}

void TestWindowInteraction::onlyAbsoluteWebLinksAreOpened()
{
    QFETCH(QByteArray, link);
    QFETCH(bool, opens);
    QCOMPARE(StoryLinkRefusal(link.toStdString()).empty(), opens);
}

void TestWindowInteraction::headlineOpensTheStoryOfTheRowItShows()
{
    Form1& form = *m_rig->form;
    form.tim1().stop();
    serveTwoFeeds(*m_rig);
    auto* news = form.findChild<QLabel*>("lbNews");
    CapturedErrors errors;
    // What a click opens and the cursor shows, for what the headline shows now.
    auto opensOnClick = [&](const QStringList& opened, Qt::CursorShape cursor) {
        const QPoint middle = news->rect().center();
        mouse("press", news, Qt::LeftButton, middle);
        mouse("release", news, Qt::LeftButton, middle);
        return m_opened == opened && news->cursor().shape() == cursor;
    };
    const QStringList first{"https://127.0.0.1:9/a/1"};

    QVERIFY(opensOnClick({}, Qt::ArrowCursor));
    form.mnuPopupRefresh_Click();
    QVERIFY(opensOnClick(first, Qt::PointingHandCursor));
    // Past the drag distance and back is no click, and moves no window.
    mouse("press", news, Qt::LeftButton, news->rect().center());
    mouse("move", news, Qt::LeftButton, news->rect().center() + QPoint(QApplication::startDragDistance() + 1, 0));
    mouse("move", news, Qt::LeftButton, news->rect().center());
    QVERIFY(QWidget::mouseGrabber() != &form);
    mouse("release", news, Qt::LeftButton, news->rect().center());
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
        QTest::keyClick(&form, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    QTest::simulateEvent(&form, true, Qt::Key_Space, {}, QStringLiteral(" "), true);
    QCOMPARE(m_opened, QStringList(4, first[0]));

    // While the next feed downloads, the headline is a status text.
    m_opened.clear();
    bool statusOpens = true;
    m_rig->transfer.duringFetch = [&](const std::string&) { statusOpens = !opensOnClick({}, Qt::ArrowCursor); };
    form.picNextNews_MouseUp({1, 0, 0, 0});
    QVERIFY(!statusOpens);

    // The ticker shows the next row, whose link is a file's.
    form.setNewsLeft(-form.newsWidth());
    form.tim1_Timer();
    form.setNewsLeft(120);
    QVERIFY(opensOnClick({}, Qt::ArrowCursor));
    QCOMPARE(news->text(), QStringLiteral("two[Feed b]"));
    QCOMPARE(errors.text.str(),
             "vantrel: 記事のリンクを開きません。リンクが http か https の絶対アドレスではありません。\n");
}

void TestWindowInteraction::buttonsAreNamedButtonsToScreenReaders()
{
    serveTwoFeeds(*m_rig);
    const std::pair<const char*, QString> buttons[] = {{"picNextNews", QStringLiteral("次のフィードを読み込む")},
                                                       {"picRefresh", QStringLiteral("更新")}};
    for (const auto& [name, accessibleName] : buttons) {
        QAccessibleInterface* button = QAccessible::queryAccessibleInterface(box(*m_rig->form, name));
        QCOMPARE(button->role(), QAccessible::Button);
        QCOMPARE(button->text(QAccessible::Name), accessibleName);
        button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    }
    QCOMPARE(QAccessible::queryAccessibleInterface(box(*m_rig->form, "pic1"))->role(), QAccessible::Client);
    QCOMPARE(m_rig->transfer.fetched, (std::vector<std::string>{"http://127.0.0.1:9/b", "http://127.0.0.1:9/b"}));
}

QTEST_MAIN(TestWindowInteraction)
#include "tst_window_interaction.moc"
