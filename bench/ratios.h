// The console table of a benchmark run, followed by each measurement over its baseline. A
// benchmark is named KIND/CASE: "baseline/CASE" is the baseline of CASE, and every other kind of
// the same case is printed as a ratio to it (medians when the run is repeated, the single run
// otherwise). Lone times mean little on a shared machine; the ratios are what to compare.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace benchratios {

enum class Clock { real, cpu };

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // In colour only on a terminal, so that a table saved to a file reads plainly.
    explicit RatioReporter(Clock clock)
        : ConsoleReporter(::isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular), clock_(clock) {}

    void ReportRuns(const std::vector<Run>& reports) override {
        ConsoleReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.error_occurred) {
                continue;
            }
            const std::string& name = run.run_name.function_name;
            const auto slash = name.find('/');
            const std::string kind = name.substr(0, slash);
            const std::string rest = name.substr(slash + 1);
            // Keep the median when there are aggregates, the single run otherwise.
            const bool aggregate = run.run_type == Run::RT_Aggregate;
            if (aggregate && run.aggregate_name != "median") {
                continue;
            }
            Entry& entry = times_[rest][kind];
            if (aggregate || !entry.fromaggregate) {
                const double time =
                    clock_ == Clock::cpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
                entry = {time, aggregate};
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%s-time ratios (lower is faster):\n", clock_ == Clock::cpu ? "CPU" : "Real");
        for (const auto& [rest, kinds] : times_) {
            const auto base = kinds.find("baseline");
            if (base == kinds.end() || base->second.time <= 0) {
                continue;
            }
            for (const auto& [kind, entry] : kinds) {
                if (kind != "baseline") {
                    std::printf("  %-12s / baseline  %-16s %.3f\n", kind.c_str(), rest.c_str(),
                                entry.time / base->second.time);
                }
            }
        }
        std::fflush(stdout);
    }

private:
    struct Entry {
        double time = 0;
        bool fromaggregate = false;
    };
    Clock clock_;
    std::map<std::string, std::map<std::string, Entry>> times_;
};

// Runs the benchmarks the command line selected, printing the ratios after the table.
inline void runwithratios(Clock clock) {
    RatioReporter reporter(clock);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}

}  // namespace benchratios
