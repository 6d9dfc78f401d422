#pragma once

#include <string>

namespace vantrel::bench {

// Records a figure measured outside a benchmark's timing loop (a count, a region, a flag).
void SetFigure(const std::string& name, double value);

// Runs the registered benchmarks with the console output as usual. With --figures=FILE it also writes
// every figure as a "name value" line: per benchmark its aggregates ("<name>.median", "<name>.min", time
// in the benchmark's unit) and its counters ("<name>.<counter>", the median over repetitions).
int RunBenchmarks(int argc, char** argv);

}  // namespace vantrel::bench
