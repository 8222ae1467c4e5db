// Confirming Open on a 1 GiB file until the window shows it, beside binio's own load of the same
// file, measured in the same run. The window's Open is timed from the moment its dialog is
// accepted (answered the way the widget tests answer it) until the command has ended and the
// window has handled the events it left (the grid's repaint), with the window holding the previous
// load of the file; the baseline is loadfile into a document that holds it too. The file is
// written once per run under $TESSARIN_BENCH_DIR (else /var/tmp), which leaves it in the page
// cache, and removed at exit.
//
// Benchmarks are named KIND/1GiB: "open" against "baseline"; after the table the run prints
// open / baseline (medians when repeated; see bench/ratios.h). Run it on a real X server with a
// window manager, where the progress dialog is shown and painted:
//   tests/x11/onx11.sh build/bench/open_bench --benchmark_repetitions=7
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "bench/ratios.h"
#include "binio/binio.h"
#include "main/tform1.h"
#include "tests/dialogs.h"

namespace {

constexpr qint64 kSize = qint64{1} << 30;

// Writes `size` random bytes to `path`; false when it cannot.
bool writerandom(const QString& path, qint64 size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return false;
    }
    std::mt19937_64 random(20261208);
    std::vector<std::uint64_t> block(std::size_t{1} << 17);  // 1 MiB
    for (qint64 done = 0; done < size; done += qint64(block.size() * 8)) {
        for (std::uint64_t& word : block) {
            word = random();
        }
        if (file.write(reinterpret_cast<const char*>(block.data()), qint64(block.size() * 8)) !=
            qint64(block.size() * 8)) {
            return false;
        }
    }
    return true;
}

void openwindow(benchmark::State& state, tessarin::TForm1* window, const QString& path) {
    for (auto _ : state) {
        QElapsedTimer clock;
        windowtest::answernext<QFileDialog>([&clock, path](QFileDialog* dialog) {
            clock.start();
            windowtest::answerfiledialog(dialog, path);
        });
        window->Button1Click();
        QCoreApplication::processEvents();
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
        if (window->bindata().size() != std::size_t(kSize)) {
            state.SkipWithError("the window did not load the file");
            break;
        }
    }
}

void load(benchmark::State& state, const QString& path) {
    const std::string name = QFile::encodeName(path).toStdString();
    std::vector<std::uint8_t> document;
    binio::loadfile(name, document);
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        binio::loadfile(name, document, [](std::uint64_t, std::uint64_t) { return true; });
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const char* base = std::getenv("TESSARIN_BENCH_DIR");
    QTemporaryDir folder(QString::fromLocal8Bit(base && *base ? base : "/var/tmp") +
                         QStringLiteral("/open-bench-XXXXXX"));
    const QString path = folder.filePath(QStringLiteral("1GiB.bin"));
    if (!folder.isValid() || !writerandom(path, kSize)) {
        qCritical("open_bench: cannot write %s", qPrintable(path));
        return 1;
    }
    tessarin::TForm1 window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        qCritical("open_bench: the window was never shown");
        return 1;
    }
    // The window holds the file before the first timed Open, as the baseline's document does.
    windowtest::choosefile(path);
    window.Button1Click();

    benchmark::RegisterBenchmark("open/1GiB", openwindow, &window, path)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::RegisterBenchmark("baseline/1GiB", load, path)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchratios::runwithratios(benchratios::Clock::real);
    return 0;
}
