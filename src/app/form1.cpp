#include "app/form1.h"

#include <algorithm>
#include <iostream>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>

#include "app/controls.h"
#include "app/tick_source.h"
#include "app/twips.h"
#include "board/data_paths.h"
#include "board/startup.h"
#include "feeds/story_link.h"
#include "platform/atomic_file.h"
#include "platform/desktop.h"
#include "platform/window_ops.h"
#include "ticker/coordinate_gate.h"
#include "ticker/feed_rotation.h"
#include "ticker/news_ticker.h"

// The pictures live in a static library; nothing else would pull them into the program.
static void initResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace vantrel {
namespace {

const QString kNewsFont = QStringLiteral("ＭＳ Ｐゴシック");
// The menu's refresh item without its access key, which a screen reader would spell out.
const QString kRefreshName = QStringLiteral("更新");

const char* const kImageKeys[] = {"XML",     "XML2",    "FAV_CLOSE", "FAV_OPEN",   "CLOSE",    "OPEN",
                                  "IE",      "DOC",     "BACK",      "TAB_DELETE", "HOME",     "FORWARD",
                                  "TAB_ADD", "REFRESH", "STOP",      "FAV_ADD",    "FAV_ORDER"};

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

constexpr qreal kSharpRatio = 2;

// "name@2x.ext" for "name.ext": the same picture drawn at twice the resolution.
QString sharpName(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const qsizetype folder = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const qsizetype at = dot > folder ? dot : path.size();
    return path.left(at) + QStringLiteral("@2x") + path.mid(at);
}

// Every compiled-in picture is PNG. Told so, Qt decodes it itself instead of asking each image plugin first.
QImage readResource(const QString& name)
{
    QImageReader reader(QStringLiteral(":/vantrel/") + name, "png");
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// On a screen of more device pixels than pixels, the picture drawn at twice the resolution, so that it is not
// scaled up from 96 dpi.
QPixmap resourcePicture(const QString& name, qreal screenRatio)
{
    if (screenRatio > 1) {
        QImage sharp = readResource(sharpName(name));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(kSharpRatio);
            return QPixmap::fromImage(sharp);
        }
    }
    QImage image = readResource(name);
    image.setDevicePixelRatio(1);
    return QPixmap::fromImage(image);
}

// Both sizes, 48 and 96 pixels, for the window system to choose from.
QIcon programIcon()
{
    QIcon icon;
    for (const QString& name : {QStringLiteral("icon.png"), sharpName(QStringLiteral("icon.png"))}) {
        QImage image = readResource(name);
        image.setDevicePixelRatio(1);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

// Where the headline's font is missing, an installed Japanese proportional Gothic takes its place.
void registerFontSubstitutes()
{
    QFont::insertSubstitutions(kNewsFont, {QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
}

}  // namespace

Form1::Form1(std::string appDir, Transfer& transfer, ErrorBox& errorBox, const Clock& clock)
    : m_appDir(std::move(appDir)), m_transfer(transfer), m_errorBox(errorBox), m_clock(clock)
{
    initResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Vantrel"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowIcon(programIcon());
    setMouseTracking(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QApplication::palette("QMenu").color(QPalette::WindowText));
    setPalette(colours);
    const qreal screenRatio = devicePixelRatio();
    m_background = resourcePicture(QStringLiteral("background.png"), screenRatio);
    for (const char* key : kImageKeys) {
        QPixmap image = resourcePicture(QStringLiteral("imlst/%1.png").arg(QLatin1String(key)), screenRatio);
        if (image.isNull()) {
            image = QPixmap(16, 16);
            image.fill(Qt::transparent);
        }
        m_imlst.emplace_back(QString::fromLatin1(key), image);
    }

    buildControls();
    buildMenu();

    m_rotation =
        std::make_unique<FeedRotation>(m_tree, m_news, m_state, *this, m_transfer, DownloadSite{m_appDir, m_clock});
    m_ticker = std::make_unique<NewsTicker>(m_news, m_state, *this);
    m_tim1 = new TickSource(
        kTickIntervalMs, [this] { tim1_Timer(); }, this);
    m_tim1->start();
}

Form1::~Form1() = default;

void Form1::buildControls()
{
    // Created in tab order, which makes it the focus chain.
    m_pic1 = new PictureBox(this);
    m_pic1->setObjectName(QStringLiteral("pic1"));
    m_pic1->setGeometry(twipsRect(30, 50, 6375, 340));
    m_pic1->setBackground(QColor(0x40, 0x40, 0x40));
    m_pic1->setPicture(resourcePicture(QStringLiteral("strip.png"), devicePixelRatio()));
    m_pic1->onMove = [this](const PointerArgs& args) { pic1_MouseMove(args); };

    registerFontSubstitutes();
    m_lbNews = new NewsLabel(m_pic1);
    m_lbNews->setObjectName(QStringLiteral("lbNews"));
    QFont newsFont(kNewsFont);
    newsFont.setPointSizeF(9.75);
    newsFont.setWeight(QFont::Normal);
    m_lbNews->setFont(newsFont);
    m_lbNews->resize(0, twipsToPixels(195));
    m_lbNews->setTopTwips(60);
    m_lbNews->setLeftTwips(120);
    m_lbNews->setCaption(QStringLiteral("Vantrel is ready..."));
    m_lbNews->onClick = [this] { lbNews_Click(); };

    const QPixmap buttonPicture = resourcePicture(QStringLiteral("button.png"), devicePixelRatio());
    const QColor buttonBackground = QApplication::palette().color(QPalette::Base);
    m_picRefresh = new PictureBox(this);
    m_picRefresh->setObjectName(QStringLiteral("picRefresh"));
    m_picRefresh->setGeometry(twipsRect(7440, 80, 450, 300));
    m_picNextNews = new PictureBox(this);
    m_picNextNews->setObjectName(QStringLiteral("picNextNews"));
    m_picNextNews->setGeometry(twipsRect(7960, 80, 450, 300));
    m_picRefresh->setAccessibleName(kRefreshName);
    m_picNextNews->setAccessibleName(QStringLiteral("次のフィードを読み込む"));
    for (PictureBox* button : {m_picRefresh, m_picNextNews}) {
        button->setBackground(buttonBackground);
        button->setPicture(buttonPicture);
    }
    m_picRefresh->onPress = [this](const PointerArgs& args) { picRefresh_MouseDown(args); };
    m_picRefresh->onMove = [this](const PointerArgs& args) { picRefresh_MouseMove(args); };
    m_picRefresh->onRelease = [this](const PointerArgs& args) { picRefresh_MouseUp(args); };
    m_picNextNews->onPress = [this](const PointerArgs& args) { picNextNews_MouseDown(args); };
    m_picNextNews->onMove = [this](const PointerArgs& args) { picNextNews_MouseMove(args); };
    m_picNextNews->onRelease = [this](const PointerArgs& args) { picNextNews_MouseUp(args); };

    // Below the window's bottom edge and hidden: the counters are written but never seen.
    m_frame1 = new CaptionFrame(QStringLiteral("設定"), this);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setGeometry(twipsRect(6480, 720, 1935, 4335));
    QFont labelFont = font();
    labelFont.setPointSizeF(9);
    auto addLabel = [&](const char* name, const QString& caption, int left, int top) {
        auto* label = new AutoSizeLabel(caption, m_frame1);
        label->setObjectName(QString::fromLatin1(name));
        label->setFont(labelFont);
        label->setGeometry(twipsToPixels(left), twipsToPixels(top), 0, twipsToPixels(180));
        label->setCaption(caption);
        return label;
    };
    m_lbNumber = addLabel("lbNumber", QStringLiteral("0"), 1680, 360);
    addLabel("Label1", QStringLiteral("ニュースの個数"), 0, 360);
    addLabel("Label2", QStringLiteral("今のニュース"), 0, 720);
    m_lbNowNumber = addLabel("lbNowNumber", QStringLiteral("0"), 1680, 720);
    addLabel("Label3", QStringLiteral("ニュースリスト番号"), 0, 1080);
    m_lbNewsNumber = addLabel("lbNewsNumber", QStringLiteral("0"), 1680, 1080);
    m_frame1->hide();
}

void Form1::buildMenu()
{
    m_mnuPopup = new QMenu(QStringLiteral("ポップアップ"), this);
    m_mnuPopup->setObjectName(QStringLiteral("mnuPopup"));
    m_mnuPopupRefresh = m_mnuPopup->addAction(kRefreshName + QStringLiteral("(&R)"));
    m_mnuPopupRefresh->setObjectName(QStringLiteral("mnuPopupRefresh"));
    m_mnuPopupRefresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    // A held key asks once: its repeats would queue one fetch each.
    m_mnuPopupRefresh->setAutoRepeat(false);
    m_mnuPopupViewFront = m_mnuPopup->addAction(kViewFrontCaption);
    m_mnuPopupViewFront->setObjectName(QStringLiteral("mnuPopupViewFront"));
    m_mnuPopup->addSeparator()->setObjectName(QStringLiteral("vbmnuPopupLine1"));
    m_mnuPopupExit = m_mnuPopup->addAction(QStringLiteral("終了(&X)"));
    m_mnuPopupExit->setObjectName(QStringLiteral("mnuPopupExit"));
    m_mnuPopupExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    // Also on the window, so the shortcuts work whenever it is active, menu closed.
    addAction(m_mnuPopupRefresh);
    addAction(m_mnuPopupExit);
    connect(m_mnuPopupRefresh, &QAction::triggered, this, [this] { mnuPopupRefresh_Click(); });
    connect(m_mnuPopupViewFront, &QAction::triggered, this, [this] { mnuPopupViewFront_Click(); });
    connect(m_mnuPopupExit, &QAction::triggered, this, [this] { mnuPopupExit_Click(); });
}

void Form1::Form_Load()
{
    setGeometry(twipsRect(0, 0, 8550, 450));
    LoadFirstBoard(m_appDir, m_tree, m_errorBox, m_state.FeedIndex);
    // A process killed while writing a cache file leaves its temporary file behind.
    RemoveStaleTemporaryFiles(DataFolderPath(m_appDir, DataFolder::Cache));
}

std::vector<QString> Form1::imageKeys() const
{
    std::vector<QString> keys;
    for (const auto& entry : m_imlst)
        keys.push_back(entry.first);
    return keys;
}

void Form1::setCaption(const std::string& text)
{
    m_lbNews->setCaption(QString::fromStdString(text));
    showsRow(nullptr);
}

void Form1::setHeadline(const std::string& title, const std::string& source)
{
    m_lbNews->setHeadline(title, source);
    // The rotation and the ticker point NewsIndex at a row before they show it.
    const NewsItem* row =
        m_state.NewsIndex >= 1 && m_state.NewsIndex <= m_news.Count() ? &m_news.Item(m_state.NewsIndex) : nullptr;
    const bool shown = row && row->columns[NewsItem::Title] == title && row->columns[NewsItem::Source] == source;
    showsRow(shown ? row : nullptr);
}

void Form1::showsRow(const NewsItem* row)
{
    bool opens = false;
    if (row) {
        const std::string& link = row->columns[NewsItem::Link];
        m_shownLink = link;
        opens = StoryLinkRefusal(link).empty();
    } else {
        m_shownLink.reset();
    }
    // The cursor is touched only when it changes.
    if (opens == m_lbNews->testAttribute(Qt::WA_SetCursor))
        return;
    if (opens)
        m_lbNews->setCursor(Qt::PointingHandCursor);
    else
        m_lbNews->unsetCursor();
}

void Form1::processPendingEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

float Form1::newsLeft() const
{
    return m_lbNews->leftTwips();
}

void Form1::setNewsLeft(float twips)
{
    m_lbNews->setLeftTwips(twips);
}

float Form1::newsWidth() const
{
    return pixelsToTwips(m_lbNews->width());
}

float Form1::stripWidth() const
{
    return pixelsToTwips(m_pic1->width());
}

void Form1::setCounter(Counter counter, std::int32_t value)
{
    const auto index = static_cast<std::size_t>(counter);
    // The label already reads this value; skip the text allocation a tick would otherwise make.
    if (m_counterValues[index] == value)
        return;
    m_counterValues[index] = value;
    AutoSizeLabel* labels[] = {m_lbNewsNumber, m_lbNumber, m_lbNowNumber};
    labels[index]->setCaption(QString::number(value));
}

void Form1::setButtonPicture(PictureButton button, const std::string& path)
{
    // Read anew every time; a missing or broken file leaves the previous picture. A screen of more device
    // pixels than pixels takes name@2x where the folder has it.
    const QString file = QString::fromStdString(path);
    QImage image;
    if (devicePixelRatio() > 1 && image.load(sharpName(file)))
        image.setDevicePixelRatio(kSharpRatio);
    else if (image.load(file))
        image.setDevicePixelRatio(1);
    else
        return;
    PictureBox* box = button == PictureButton::Refresh ? m_picRefresh : m_picNextNews;
    box->setPicture(QPixmap::fromImage(image));
}

std::string Form1::picturePath(const char* fileName) const
{
    return DataFilePath(m_appDir, DataFolder::Pictures, fileName);
}

void Form1::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_background.devicePixelRatio() > 1);
    painter.drawPixmap(0, 0, m_background);
}

void Form1::mouseMoveEvent(QMouseEvent* event)
{
    Form_MouseMove(moveArgs(*event));
}

void Form1::mouseReleaseEvent(QMouseEvent* event)
{
    Form_MouseUp(pressArgs(*event));
}

void Form1::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const bool opens = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
    if (!opens || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    // A held key opens the story once.
    if (!event->isAutoRepeat())
        lbNews_Click();
}

void Form1::closeEvent(QCloseEvent* event)
{
    m_closing = true;
    m_tim1->stop();
    if (onClosing)
        onClosing();
    QWidget::closeEvent(event);
}

void Form1::Form_MouseMove(const PointerArgs& args)
{
    setButtonPicture(PictureButton::Refresh, picturePath("normal.jpg"));
    setButtonPicture(PictureButton::NextNews, picturePath("normal.jpg"));
    BeginWindowDrag(*this, args.button);
}

void Form1::Form_MouseUp(const PointerArgs& args)
{
    if (args.button == 2)
        m_mnuPopup->exec(QCursor::pos());
}

void Form1::pic1_MouseMove(const PointerArgs& args)
{
    BeginWindowDrag(*this, args.button);
}

void Form1::picRefresh_MouseDown(const PointerArgs& args)
{
    if (CoordinateGate(args.x, args.y))
        setButtonPicture(PictureButton::Refresh, picturePath("push.jpg"));
}

void Form1::picRefresh_MouseMove(const PointerArgs& args)
{
    if (CoordinateGate(args.x, args.y))
        setButtonPicture(PictureButton::Refresh, picturePath("load.jpg"));
}

void Form1::picRefresh_MouseUp(const PointerArgs& args)
{
    m_rotation->picRefresh_MouseUp(args.button, args.shift, args.x, args.y);
}

void Form1::picNextNews_MouseDown(const PointerArgs& args)
{
    if (CoordinateGate(args.x, args.y))
        setButtonPicture(PictureButton::NextNews, picturePath("push.jpg"));
}

void Form1::picNextNews_MouseMove(const PointerArgs& args)
{
    if (CoordinateGate(args.x, args.y))
        setButtonPicture(PictureButton::NextNews, picturePath("next.jpg"));
}

void Form1::picNextNews_MouseUp(const PointerArgs& args)
{
    m_rotation->picNextNews_MouseUp(args.button, args.shift, args.x, args.y);
}

void Form1::lbNews_Click()
{
    if (!m_shownLink)
        return;
    if (const std::string_view refusal = StoryLinkRefusal(*m_shownLink); !refusal.empty()) {
        std::cerr << "vantrel: 記事のリンクを開きません。" << refusal << '\n';
        return;
    }
    if (!OpenInBrowser(*m_shownLink))
        std::cerr << "vantrel: 記事のリンクをブラウザーで開けませんでした。\n";
}

void Form1::mnuPopupRefresh_Click()
{
    m_rotation->mnuPopupRefresh_Click();
}

void Form1::mnuPopupViewFront_Click()
{
    // The caption alone holds the state; the window system is never asked.
    if (m_mnuPopupViewFront->text() == kViewFrontCaption) {
        m_mnuPopupViewFront->setText(kViewNormalCaption);
        SetWindowTopmost(*this, true);
    } else {
        m_mnuPopupViewFront->setText(kViewFrontCaption);
        SetWindowTopmost(*this, false);
    }
}

void Form1::mnuPopupExit_Click()
{
    close();
}

void Form1::tim1_Timer()
{
    m_ticker->tim1_Timer();
}

}  // namespace vantrel
