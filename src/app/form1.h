#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QPixmap>
#include <QWidget>

#include "board/feed_tree.h"
#include "feeds/news_list.h"
#include "ticker/shared_state.h"
#include "ticker/ticker_window.h"

class QAction;
class QMenu;

namespace vantrel {

class AutoSizeLabel;
class CaptionFrame;
class Clock;
class ErrorBox;
class FeedRotation;
class NewsLabel;
class NewsTicker;
class PictureBox;
class TickSource;
class Transfer;
struct PointerArgs;

// The one window: a borderless strip with the scrolling headline and two picture buttons.
class Form1 : public QWidget, public TickerWindow {
    Q_OBJECT

public:
    static constexpr int kTickIntervalMs = 20;
    static inline const QString kViewFrontCaption = QStringLiteral("常に手前表示する(&A)");
    static inline const QString kViewNormalCaption = QStringLiteral("通常表示する(&A)");

    Form1(std::string appDir, Transfer& transfer, ErrorBox& errorBox, const Clock& clock);
    ~Form1() override;

    // The window-load step: place and size the window, read the first board.
    void Form_Load();

    // TickerWindow
    void setCaption(const std::string& text) override;
    void setHeadline(const std::string& title, const std::string& source) override;
    void processPendingEvents() override;
    float newsLeft() const override;
    void setNewsLeft(float twips) override;
    float newsWidth() const override;
    float stripWidth() const override;
    void setCounter(Counter counter, std::int32_t value) override;
    void setButtonPicture(PictureButton button, const std::string& path) override;
    bool closing() const override { return m_closing; }

    // Handlers, named after their control and event.
    void Form_MouseMove(const PointerArgs& args);
    void Form_MouseUp(const PointerArgs& args);
    void pic1_MouseMove(const PointerArgs& args);
    void picRefresh_MouseDown(const PointerArgs& args);
    void picRefresh_MouseMove(const PointerArgs& args);
    void picRefresh_MouseUp(const PointerArgs& args);
    void picNextNews_MouseDown(const PointerArgs& args);
    void picNextNews_MouseMove(const PointerArgs& args);
    void picNextNews_MouseUp(const PointerArgs& args);
    // Opens the link of the row the headline shows; nothing while it shows a status text.
    void lbNews_Click();
    void mnuPopupRefresh_Click();
    void mnuPopupViewFront_Click();
    void mnuPopupExit_Click();
    void tim1_Timer();

    // The models behind the hidden controls, and the shared state.
    FeedTree& tvw1() { return m_tree; }
    NewsList& lvw1() { return m_news; }
    SharedState& state() { return m_state; }
    QMenu* mnuPopup() const { return m_mnuPopup; }
    TickSource& tim1() const { return *m_tim1; }
    // Image keys of the (never shown) image list, in order.
    std::vector<QString> imageKeys() const;

    // Runs when the window closes, before anything else unwinds (aborts a fetch under way).
    std::function<void()> onClosing;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenu();
    // The headline now shows this row, or (nullptr) a text of its own.
    void showsRow(const NewsItem* row);
    std::string picturePath(const char* fileName) const;

    std::string m_appDir;
    Transfer& m_transfer;
    ErrorBox& m_errorBox;
    const Clock& m_clock;
    bool m_closing = false;
    // The link of the row on the headline, copied: a fetch may replace the rows while the headline stays.
    std::optional<std::string> m_shownLink;

    FeedTree m_tree;
    NewsList m_news;
    SharedState m_state;
    std::vector<std::pair<QString, QPixmap>> m_imlst;
    QPixmap m_background;

    PictureBox* m_pic1 = nullptr;
    NewsLabel* m_lbNews = nullptr;
    PictureBox* m_picRefresh = nullptr;
    PictureBox* m_picNextNews = nullptr;
    CaptionFrame* m_frame1 = nullptr;
    AutoSizeLabel* m_lbNumber = nullptr;
    AutoSizeLabel* m_lbNowNumber = nullptr;
    AutoSizeLabel* m_lbNewsNumber = nullptr;
    std::array<std::int32_t, 3> m_counterValues{};
    QMenu* m_mnuPopup = nullptr;
    QAction* m_mnuPopupRefresh = nullptr;
    QAction* m_mnuPopupViewFront = nullptr;
    QAction* m_mnuPopupExit = nullptr;

    std::unique_ptr<FeedRotation> m_rotation;
    std::unique_ptr<NewsTicker> m_ticker;
    TickSource* m_tim1 = nullptr;
};

}  // namespace vantrel
