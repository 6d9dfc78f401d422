// Benchmarks of the real window on the offscreen platform: the tick with Qt, the repaint it causes, the
// regions it repaints, and a refresh from a loopback server up to the first headline.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QPaintEvent>
#include <QRegion>
#include <QTimer>

#include "app/form1.h"
#include "app/tick_source.h"
#include "bench_data.h"
#include "bench_support.h"
#include "figures.h"
#include "floor/floor_window.h"
#include "loopback_server.h"
#include "platform/network_transfer.h"
#include "probe.h"

namespace vantrel::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kClickFeedBytes = 1024 * 1024;
constexpr int kClickFeedItems = 2'000;
const std::string kFeedName = "Bench feed";

double minimum(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

double maximum(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

void processEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Paint and move events of the window and its visible controls.
class PaintWatch : public QObject {
public:
    struct Seen {
        int paints = 0;
        int moves = 0;
        QRegion region;
    };

    void watch(QWidget* widget)
    {
        widget->installEventFilter(this);
        m_seen[widget];
    }
    Seen& of(QWidget* widget) { return m_seen[widget]; }
    void clear()
    {
        for (auto& [widget, seen] : m_seen)
            seen = Seen{};
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        const auto found = m_seen.find(static_cast<QWidget*>(object));
        if (found == m_seen.end())
            return false;
        if (event->type() == QEvent::Paint) {
            ++found->second.paints;
            found->second.region += static_cast<QPaintEvent*>(event)->region();
        } else if (event->type() == QEvent::Move) {
            ++found->second.moves;
        }
        return false;
    }

private:
    std::map<QWidget*, Seen> m_seen;
};

// The window on an application folder of its own, fetching over Qt Network from a loopback server.
struct WindowRig {
    test::LoopbackServer server;
    FixedClock clock;
    SilentErrorBox errorBox;
    NetworkTransfer transfer;
    std::unique_ptr<Form1> form;
    QWidget* strip = nullptr;
    QLabel* headline = nullptr;
    PaintWatch paints;
    std::string expectedHeadline = FirstRssTitle() + "[" + kFeedName + "]";

    WindowRig()
    {
        const fs::path appDir = fs::path(DataDir()) / "window";
        fs::create_directories(appDir / "data" / "brd");
        fs::create_directories(appDir / "data" / "log");
        fs::remove_all(appDir / "data" / "pic");
        fs::create_directories(appDir / "data" / "pic");
        fs::copy(fs::path(VANTREL_SOURCE_DIR) / "data" / "pic", appDir / "data" / "pic", fs::copy_options::recursive);
        server.setRoute("/feed.xml", test::ScriptedResponse::ok(MakeRssFeed(kClickFeedBytes, kClickFeedItems)));
        WriteFile((appDir / "data" / "brd" / "bench.brd").string(),
                  "Bench,ROOT_FOLDER,bench,0\r\n" + kFeedName + "," + server.url("/feed.xml") + ",CHILD_NODE,1\r\n");

        form = std::make_unique<Form1>(appDir.string(), transfer, errorBox, clock);
        form->onClosing = [this] { transfer.abort(); };
        form->Form_Load();
        form->show();
        strip = form->findChild<QWidget*>(QStringLiteral("pic1"));
        headline = form->findChild<QLabel*>(QStringLiteral("lbNews"));
        for (QWidget* widget : {static_cast<QWidget*>(form.get()), strip, static_cast<QWidget*>(headline),
                                form->findChild<QWidget*>(QStringLiteral("picRefresh")),
                                form->findChild<QWidget*>(QStringLiteral("picNextNews"))})
            paints.watch(widget);
        for (int pass = 0; pass < 20; ++pass)
            processEvents();
    }

    std::string caption() const { return headline->text().toStdString(); }
};

WindowRig* g_rig = nullptr;

// Refresh from the menu until the first headline stands on the label: fetch, cache file, extraction.
void BM_ClickToHeadline(benchmark::State& state)
{
    WindowRig& rig = *g_rig;
    // The headline keeps scrolling while the fetch waits, as it does for the user.
    rig.form->tim1().start();
    for (auto _ : state) {
        state.PauseTiming();
        rig.form->setCaption("waiting");
        processEvents();
        state.ResumeTiming();
        rig.form->mnuPopupRefresh_Click();
        state.PauseTiming();
        if (rig.caption() != rig.expectedHeadline)
            state.SkipWithError(("headline reads " + rig.caption()).c_str());
        state.ResumeTiming();
    }
    rig.form->tim1().stop();
    state.counters["rows"] = rig.form->lvw1().Count();
}
BENCHMARK(BM_ClickToHeadline)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(15)
    ->ComputeStatistics("min", minimum)
    ->ReportAggregatesOnly();

// The tick alone: the repaint of the previous step is done before the clock starts.
void BM_FormTick(benchmark::State& state)
{
    WindowRig& rig = *g_rig;
    std::vector<double> samples;
    for (auto _ : state) {
        processEvents();
        const Clock::time_point start = Clock::now();
        rig.form->tim1_Timer();
        const Clock::duration took = Clock::now() - start;
        state.SetIterationTime(seconds(took));
        samples.push_back(seconds(took) * 1e6);
    }
    state.counters["single_median_us"] = median(samples);
}
BENCHMARK(BM_FormTick)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(3000)
    ->Repetitions(10)
    ->ComputeStatistics("min", minimum)
    ->ReportAggregatesOnly();

// The repaint one tick causes, as the next pass of the event loop does it.
void BM_FormTickPaint(benchmark::State& state)
{
    WindowRig& rig = *g_rig;
    for (auto _ : state) {
        rig.form->tim1_Timer();
        const Clock::time_point start = Clock::now();
        processEvents();
        state.SetIterationTime(seconds(Clock::now() - start));
    }
}
BENCHMARK(BM_FormTickPaint)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(3000)
    ->Repetitions(10)
    ->ComputeStatistics("min", minimum)
    ->ReportAggregatesOnly();

// Allocations and opens of single ticks (re-entries apart) and of the repaint after each, and which
// widgets repaint which regions.
void inspectTicks(WindowRig& rig)
{
    std::vector<double> plainAllocations, plainOpens, counterAllocations, reentryAllocations, paintAllocations,
        paintOpens;
    bool reentered = false;
    int outsideHeadline = 0;
    int stripPaints = 0;
    double stripLargest = 0;
    const auto area = [](const QRect& rect) { return static_cast<double>(rect.width()) * rect.height(); };
    const auto regionArea = [](const QRegion& region) {
        double total = 0;
        for (const QRect& rect : region)
            total += static_cast<double>(rect.width()) * rect.height();
        return total;
    };
    processEvents();
    rig.paints.clear();
    QWidget* window = rig.form.get();
    QWidget* refresh = rig.form->findChild<QWidget*>(QStringLiteral("picRefresh"));
    QWidget* next = rig.form->findChild<QWidget*>(QStringLiteral("picNextNews"));
    int windowPaints = 0, buttonPaints = 0, headlinePaints = 0;
    constexpr int kTicks = 3000;
    for (int tick = 0; tick < kTicks; ++tick) {
        const std::int16_t newsIndex = rig.form->state().NewsIndex;
        const QRect before = rig.headline->geometry();
        ProbeCounts counts;
        {
            const Probe probe;
            rig.form->tim1_Timer();
            counts = probe.counts();
        }
        const QRect after = rig.headline->geometry();
        // The tick after a re-entry shows the new row number in the (hidden) counter.
        if (rig.form->state().NewsIndex != newsIndex) {
            reentryAllocations.push_back(static_cast<double>(counts.allocations));
        } else if (reentered) {
            counterAllocations.push_back(static_cast<double>(counts.allocations));
        } else {
            plainAllocations.push_back(static_cast<double>(counts.allocations));
            plainOpens.push_back(static_cast<double>(counts.opens));
        }
        reentered = rig.form->state().NewsIndex != newsIndex;

        rig.paints.clear();
        {
            const Probe probe;
            processEvents();
            counts = probe.counts();
        }
        paintAllocations.push_back(static_cast<double>(counts.allocations));
        paintOpens.push_back(static_cast<double>(counts.opens));
        windowPaints += rig.paints.of(window).paints;
        buttonPaints += rig.paints.of(refresh).paints + rig.paints.of(next).paints;
        headlinePaints += rig.paints.of(rig.headline).paints;
        const PaintWatch::Seen& strip = rig.paints.of(rig.strip);
        if (strip.paints > 0) {
            stripPaints += strip.paints;
            stripLargest = std::max(stripLargest, regionArea(strip.region));
            const QRegion covered = QRegion(before) | QRegion(after);
            if (!(strip.region - covered).isEmpty())
                ++outsideHeadline;
        }
    }
    SetFigure("form_tick.ticks", kTicks);
    SetFigure("form_tick.plain_allocations_max", maximum(plainAllocations));
    SetFigure("form_tick.plain_allocations_median", median(plainAllocations));
    SetFigure("form_tick.plain_opens_max", maximum(plainOpens));
    SetFigure("form_tick.counter_allocations_median", counterAllocations.empty() ? 0 : median(counterAllocations));
    SetFigure("form_tick.reentry_ticks", static_cast<double>(reentryAllocations.size()));
    SetFigure("form_tick.reentry_allocations_median", reentryAllocations.empty() ? 0 : median(reentryAllocations));
    SetFigure("form_paint.allocations_median", median(paintAllocations));
    SetFigure("form_paint.opens_max", maximum(paintOpens));
    SetFigure("paint.window_paints", windowPaints);
    SetFigure("paint.button_paints", buttonPaints);
    SetFigure("paint.headline_paints", headlinePaints);
    SetFigure("paint.strip_paints", stripPaints);
    SetFigure("paint.strip_outside_headline", outsideHeadline);
    SetFigure("paint.strip_largest_area", stripLargest);
    SetFigure("paint.strip_area", area(rig.strip->rect()));
    SetFigure("paint.headline_area", area(rig.headline->rect()));
}

// The program as it runs: timers, ticks and repaints from the event loop, counted per headline step.
void inspectRunning(WindowRig& rig, int milliseconds)
{
    processEvents();
    rig.paints.clear();
    rig.form->tim1().start();
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    ProbeCounts counts;
    {
        const Probe probe;
        loop.exec();
        counts = probe.counts();
    }
    rig.form->tim1().stop();
    const int steps = rig.paints.of(rig.headline).moves;
    SetFigure("running.steps", steps);
    SetFigure("running.allocations_per_step", steps ? static_cast<double>(counts.allocations) / steps : 0);
    SetFigure("running.opens", static_cast<double>(counts.opens));
    SetFigure("running.window_paints", rig.paints.of(rig.form.get()).paints);
}

// The same counts for the floor's window, in this process: what Qt itself costs per step.
void inspectFloor(int milliseconds)
{
    FloorWindow floor(QStringLiteral("Vantrel is ready..."), 100);
    PaintWatch paints;
    paints.watch(&floor.label());
    floor.show();
    for (int pass = 0; pass < 20; ++pass)
        processEvents();
    std::vector<double> stepAllocations, paintAllocations;
    for (int step = 0; step < 1000; ++step) {
        {
            const Probe probe;
            floor.step();
            stepAllocations.push_back(static_cast<double>(probe.counts().allocations));
        }
        const Probe probe;
        processEvents();
        paintAllocations.push_back(static_cast<double>(probe.counts().allocations));
    }
    SetFigure("floor_step.allocations_median", median(stepAllocations));
    SetFigure("floor_paint.allocations_median", median(paintAllocations));

    paints.clear();
    floor.start();
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    ProbeCounts counts;
    {
        const Probe probe;
        loop.exec();
        counts = probe.counts();
    }
    floor.stop();
    const int steps = paints.of(&floor.label()).moves;
    SetFigure("floor_running.steps", steps);
    SetFigure("floor_running.allocations_per_step", steps ? static_cast<double>(counts.allocations) / steps : 0);
}

}  // namespace
}  // namespace vantrel::bench

// --serve=FILE...: serves each FILE under its own name on loopback, prints their URLs in order, one a line, and
// runs until stdin closes; tools/bench uses it to give the running programs feeds of its choice.
int serve(const std::vector<std::string>& files)
{
    vantrel::test::LoopbackServer server;
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string path = "/" + std::filesystem::path(file).filename().string();
        server.setRoute(path, vantrel::test::ScriptedResponse::ok(body));
        std::cout << server.url(path) << '\n';
    }
    std::cout << std::flush;
    std::cin.ignore(std::numeric_limits<std::streamsize>::max());
    return 0;
}

int main(int argc, char** argv)
{
    using namespace vantrel::bench;
    std::vector<std::string> served;
    for (int arg = 1; arg < argc && std::string_view(argv[arg]).starts_with("--serve="); ++arg)
        served.emplace_back(argv[arg] + std::string_view("--serve=").size());
    if (!served.empty() && served.size() == static_cast<std::size_t>(argc - 1))
        return serve(served);
    // The feed of the click benchmark as a file, for tools/bench to serve to the running program.
    if (argc == 2 && std::string_view(argv[1]).starts_with("--write-click-feed=")) {
        try {
            WriteFile(argv[1] + std::string_view("--write-click-feed=").size(),
                      MakeRssFeed(kClickFeedBytes, kClickFeedItems));
            return 0;
        } catch (const std::exception& error) {
            std::cerr << error.what() << '\n';
            return 1;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!ProbeWorks()) {
        std::cerr << "the allocation probe is not in effect\n";
        return 1;
    }
    QApplication app(argc, argv);
    WindowRig rig;
    g_rig = &rig;
    // One refresh first, so the ticks below rotate a real list. Being the first, it also sets up Qt Network.
    const Clock::time_point start = Clock::now();
    rig.form->mnuPopupRefresh_Click();
    SetFigure("first_click.ms", seconds(Clock::now() - start) * 1e3);
    if (rig.caption() != rig.expectedHeadline) {
        std::cerr << "the refresh did not show the first headline: " << rig.caption() << '\n';
        return 1;
    }
    rig.form->tim1().stop();
    inspectTicks(rig);
    inspectRunning(rig, 3000);
    rig.form->tim1().stop();
    inspectFloor(3000);
    const int result = RunBenchmarks(argc, argv);
    g_rig = nullptr;
    return result;
}
