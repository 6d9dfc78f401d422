#include "figures.h"

#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <vector>

#include <benchmark/benchmark.h>

namespace vantrel::bench {
namespace {

std::map<std::string, double>& figures()
{
    static std::map<std::string, double> values;
    return values;
}

class FigureReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const std::string& name = run.run_name.function_name;
            // A benchmark without repetitions has no aggregates; its one run stands for the median.
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            const std::string aggregate = single ? "median" : run.aggregate_name;
            if (aggregate != "median" && aggregate != "min" && aggregate != "max")
                continue;
            if (run.run_type == Run::RT_Aggregate || single)
                SetFigure(name + "." + aggregate, run.GetAdjustedRealTime());
            if (aggregate == "median") {
                for (const auto& [counter, value] : run.counters)
                    SetFigure(name + "." + counter, value.value);
            }
        }
    }
};

}  // namespace

void SetFigure(const std::string& name, double value)
{
    figures()[name] = value;
}

int RunBenchmarks(int argc, char** argv)
{
    std::string figuresPath;
    std::vector<char*> arguments;
    for (int index = 0; index < argc; ++index) {
        constexpr const char* kOption = "--figures=";
        if (std::strncmp(argv[index], kOption, std::strlen(kOption)) == 0)
            figuresPath = argv[index] + std::strlen(kOption);
        else
            arguments.push_back(argv[index]);
    }
    int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data()))
        return 2;
    FigureReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    if (figuresPath.empty())
        return 0;
    std::ofstream out(figuresPath, std::ios::trunc);
    out.precision(6);
    for (const auto& [name, value] : figures())
        out << name << ' ' << std::fixed << value << '\n';
    if (!out) {
        std::cerr << "cannot write " << figuresPath << '\n';
        return 1;
    }
    return 0;
}

}  // namespace vantrel::bench
