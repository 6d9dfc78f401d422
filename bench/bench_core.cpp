// Benchmarks of the core: extraction against a bare libxml2 parse, board load, the tick against a window
// that costs nothing.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include "bench_data.h"
#include "bench_support.h"
#include "board/feed_tree.h"
#include "board/startup.h"
#include "feeds/feed_items.h"
#include "feeds/news_list.h"
#include "figures.h"
#include "probe.h"
#include "ticker/news_ticker.h"
#include "ticker/shared_state.h"
#include "ticker/ticker_window.h"

extern char** environ;

namespace vantrel::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 15;

double minimum(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

double maximum(const std::vector<double>& values)
{
    return *std::max_element(values.begin(), values.end());
}

const std::string& feedPath()
{
    static const std::string path = [] {
        const std::string file = (fs::path(DataDir()) / "feed-5mib.xml").string();
        WriteFile(file, MakeRssFeed(kFeedBytes, kFeedItems));
        return file;
    }();
    return path;
}

// An application folder whose data/brd holds one board of kBoardNodes nodes.
std::string boardAppDir(bool utf8)
{
    const fs::path appDir = fs::path(DataDir()) / (utf8 ? "board-utf8" : "board-cp932");
    fs::create_directories(appDir / "data" / "brd");
    const fs::path board = appDir / "data" / "brd" / "bench.brd";
    if (!fs::exists(board))
        WriteFile(board.string(), MakeBoard(kBoardNodes, utf8));
    return appDir.string();
}

void BM_ParseFeedItems(benchmark::State& state)
{
    const std::string& path = feedPath();
    const FixedClock clock;
    NoEvents events;
    const std::string label = "[Bench]";
    std::int32_t rows = 0;
    for (auto _ : state) {
        NewsList list;
        const std::int32_t result = ParseFeedItems(path, list, label, events, clock);
        state.PauseTiming();
        rows = list.Count();
        if (result != 0 || rows != kFeedItems)
            state.SkipWithError("extraction did not yield every item");
        list.Clear();
        state.ResumeTiming();
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_ParseFeedItems)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRuns)
    ->ComputeStatistics("min", minimum)
    ->ReportAggregatesOnly();

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM"), 0 when it cannot be read.
double statusKib(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string name;
    double value = 0;
    while (status >> name) {
        if (name == field + ":" && status >> value)
            return value;
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return 0;
}

// The extraction's peak resident memory above what the process held before it, the rows it keeps included:
// measured first thing in the process, with the peak reset to the current size just before.
void measureExtractionPeak()
{
    const std::string& path = feedPath();
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const double before = statusKib("VmRSS");
    const FixedClock clock;
    NoEvents events;
    NewsList list;
    const std::int32_t result = ParseFeedItems(path, list, "[Bench]", events, clock);
    const double peak = statusKib("VmHWM");
    if (result == 0 && list.Count() == kFeedItems && before > 0 && peak >= before)
        SetFigure("extraction.peak_mib", (peak - before) / 1024);
}

// The whole command, process start included, as a user would time it.
void BM_XmllintNoout(benchmark::State& state)
{
    const std::string& path = feedPath();
    std::array<char*, 4> arguments = {const_cast<char*>("xmllint"), const_cast<char*>("--noout"),
                                      const_cast<char*>(path.c_str()), nullptr};
    for (auto _ : state) {
        pid_t child = 0;
        if (posix_spawnp(&child, "xmllint", nullptr, nullptr, arguments.data(), environ) != 0) {
            state.SkipWithError("xmllint not found (Debian: libxml2-utils)");
            break;
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("xmllint failed");
            break;
        }
    }
}
BENCHMARK(BM_XmllintNoout)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRuns)
    ->ComputeStatistics("min", minimum)
    ->ReportAggregatesOnly();

// What xmllint --noout does without its process: read the file into a tree and free it.
void BM_LibxmlReadFile(benchmark::State& state)
{
    const std::string& path = feedPath();
    xmlInitParser();
    for (auto _ : state) {
        // By descriptor: the extraction has turned libxml2's loader of external files off for the process.
        const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        xmlDocPtr document = file < 0 ? nullptr : xmlReadFd(file, path.c_str(), nullptr, 0);
        if (file >= 0)
            close(file);
        if (!document) {
            state.SkipWithError("libxml2 did not parse the feed");
            break;
        }
        xmlFreeDoc(document);
    }
}
BENCHMARK(BM_LibxmlReadFile)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRuns)
    ->ComputeStatistics("min", minimum)
    ->ReportAggregatesOnly();

void loadBoard(benchmark::State& state, bool utf8)
{
    const std::string appDir = boardAppDir(utf8);
    std::int16_t count = 0;
    for (auto _ : state) {
        FeedTree tree;
        SilentErrorBox box;
        std::int16_t feedIndex = 0;
        LoadFirstBoard(appDir, tree, box, feedIndex);
        state.PauseTiming();
        count = tree.Count();
        if (box.shown != 0 || count != kBoardNodes || feedIndex != 1)
            state.SkipWithError("the board did not load whole");
        tree = FeedTree();
        state.ResumeTiming();
    }
    state.counters["nodes"] = count;
}

// Start-up's board step: list data/brd, read, decode and add every node.
void BM_LoadBoard(benchmark::State& state)
{
    loadBoard(state, false);
}
BENCHMARK(BM_LoadBoard)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRuns)
    ->ComputeStatistics("min", minimum)
    ->ReportAggregatesOnly();

void BM_LoadBoardUtf8(benchmark::State& state)
{
    loadBoard(state, true);
}
BENCHMARK(BM_LoadBoardUtf8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(kRuns)
    ->ComputeStatistics("min", minimum)
    ->ReportAggregatesOnly();

// A window that costs nothing: what is left of a tick is the ticker's own work.
class BareWindow : public TickerWindow {
public:
    static constexpr float kTwipsPerByte = 75;

    BareWindow() { m_caption.reserve(4096); }

    void setCaption(const std::string& text) override { m_caption.assign(text); }
    void processPendingEvents() override {}
    float newsLeft() const override { return m_left; }
    void setNewsLeft(float twips) override { m_left = twips; }
    float newsWidth() const override { return static_cast<float>(m_caption.size()) * kTwipsPerByte; }
    float stripWidth() const override { return 6375; }
    void setCounter(Counter counter, std::int32_t value) override
    {
        m_counters[static_cast<std::size_t>(counter)] = value;
    }
    void setButtonPicture(PictureButton /*button*/, const std::string& /*path*/) override {}
    bool closing() const override { return false; }

    float m_left = 120;

private:
    std::string m_caption = "Vantrel is ready...";
    std::array<std::int32_t, 3> m_counters{};
};

// Twelve headlines of a typical feed, as an extraction leaves them.
void fillNews(NewsList& list)
{
    for (int row = 1; row <= 12; ++row) {
        NewsItem& item = list.Add(std::to_string(row));
        item.SubItem(NewsItem::Title) = "東京市場 午前の取引で続伸 エネルギー関連が上昇 " + std::to_string(row);
        item.SubItem(NewsItem::Source) = "[NHKニュース 主要]";
    }
}

struct TickRig {
    NewsList list;
    SharedState state;
    BareWindow window;
    NewsTicker ticker{list, state, window};

    TickRig()
    {
        fillNews(list);
        state.FeedIndex = 1;
        state.NewsIndex = 1;
    }
};

// Steady scrolling: mostly plain steps, a re-entry every few hundred.
void BM_Tick(benchmark::State& state)
{
    TickRig rig;
    for (auto _ : state)
        rig.ticker.tim1_Timer();
    benchmark::DoNotOptimize(rig.state.NewsIndex);
}
BENCHMARK(BM_Tick)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(20)
    ->ComputeStatistics("min", minimum)
    ->ReportAggregatesOnly();

// Every tick a re-entry: the next headline's caption is built and set.
void BM_TickReentry(benchmark::State& state)
{
    TickRig rig;
    for (auto _ : state) {
        rig.window.m_left = -rig.window.newsWidth();
        rig.ticker.tim1_Timer();
    }
    benchmark::DoNotOptimize(rig.state.NewsIndex);
}
BENCHMARK(BM_TickReentry)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(20)
    ->ComputeStatistics("min", minimum)
    ->ReportAggregatesOnly();

// Heap allocations and file opens of single ticks, plain steps and re-entries apart.
void countTickWork()
{
    TickRig rig;
    std::vector<double> plainAllocations, plainOpens, reentryAllocations;
    for (int tick = 0; tick < 20'000; ++tick) {
        const std::int16_t before = rig.state.NewsIndex;
        const Probe probe;
        rig.ticker.tim1_Timer();
        const ProbeCounts counts = probe.counts();
        if (rig.state.NewsIndex != before) {
            reentryAllocations.push_back(static_cast<double>(counts.allocations));
        } else {
            plainAllocations.push_back(static_cast<double>(counts.allocations));
            plainOpens.push_back(static_cast<double>(counts.opens));
        }
    }
    SetFigure("core_tick.plain_ticks", static_cast<double>(plainAllocations.size()));
    SetFigure("core_tick.plain_allocations_max", maximum(plainAllocations));
    SetFigure("core_tick.plain_opens_max", maximum(plainOpens));
    SetFigure("core_tick.reentry_ticks", static_cast<double>(reentryAllocations.size()));
    SetFigure("core_tick.reentry_allocations_max", reentryAllocations.empty() ? 0 : maximum(reentryAllocations));
}

}  // namespace
}  // namespace vantrel::bench

int main(int argc, char** argv)
{
    using namespace vantrel::bench;
    if (!ProbeWorks()) {
        std::cerr << "the allocation probe is not in effect\n";
        return 1;
    }
    measureExtractionPeak();
    countTickWork();
    return RunBenchmarks(argc, argv);
}
