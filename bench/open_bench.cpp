// Open on a 1 GiB file as the user waits for it, beside binio's own load of a file of that size
// in a fresh process, measured in the same run.
//
// The window's Open is timed from Enter in its Open dialog, the path typed into the name field
// beforehand, until the caption names the file, with the window holding a file of the same size
// (two files take turns, so that the caption changes every time). The baseline is `load_peak`,
// a fresh process that times binio::loadfile of the same file into an empty document. Both wait
// 3 s before each measurement, alike: a virtual machine may hand freed memory back to its host
// within a few seconds, and fresh memory is slower to touch than memory just freed. The files are
// written once per run under $TESSARIN_BENCH_DIR (else /var/tmp), which leaves them in the page
// cache, and removed at exit.
//
// Benchmarks are named KIND/1GiB: "open" against "baseline"; after the table the run prints
// open / baseline (medians when repeated; see bench/ratios.h). Run it on a real X server with a
// window manager, where the dialogs are shown and painted:
//   tests/x11/onx11.sh build/bench/open_bench --benchmark_repetitions=6
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "bench/ratios.h"
#include "main/tform1.h"
#include "tests/dialogs.h"

namespace {

constexpr qint64 kSize = qint64{1} << 30;
constexpr int kPauseMs = 3000;

// Writes `size` random bytes to `path`; false when it cannot.
bool writerandom(const QString& path, qint64 size, std::uint64_t seed) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return false;
    }
    std::mt19937_64 random(seed);
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

// Opens the file the window does not hold, of the two in `paths`.
void openwindow(benchmark::State& state, tessarin::TForm1* window, std::array<QString, 2>* paths) {
    for (auto _ : state) {
        std::swap((*paths)[0], (*paths)[1]);
        const QString path = (*paths)[0];
        QTest::qWait(kPauseMs);
        QElapsedTimer clock;
        qint64 named = -1;
        const QMetaObject::Connection caption =
            QObject::connect(window, &QWidget::windowTitleChanged, [&](const QString& title) {
                if (title.endsWith(path)) {
                    named = clock.nsecsElapsed();
                }
            });
        windowtest::answernext<QFileDialog>([&clock, path](QFileDialog* dialog) {
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (name == nullptr || !QTest::qWaitForWindowActive(dialog)) {
                return;
            }
            name->setText(path);
            clock.start();
            QTest::keyClick(dialog->windowHandle(), Qt::Key_Return);
        });
        window->Button1Click();
        QObject::disconnect(caption);
        if (named < 0) {
            state.SkipWithError("the window did not open the file");
            break;
        }
        state.SetIterationTime(double(named) / 1e9);
    }
}

void load(benchmark::State& state, const QString& program, const QString& path) {
    for (auto _ : state) {
        QTest::qWait(kPauseMs);
        QProcess child;
        child.start(program, {path});
        const bool ended = child.waitForFinished(-1);
        const auto match = QRegularExpression(QStringLiteral("in (\\d+) ns"))
                               .match(QString::fromLatin1(child.readAllStandardOutput()));
        if (!ended || child.exitCode() != 0 || !match.hasMatch()) {
            state.SkipWithError("load_peak did not load the file");
            break;
        }
        state.SetIterationTime(match.captured(1).toDouble() / 1e9);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessarin"));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const char* base = std::getenv("TESSARIN_BENCH_DIR");
    QTemporaryDir folder(QString::fromLocal8Bit(base && *base ? base : "/var/tmp") +
                         QStringLiteral("/open-bench-XXXXXX"));
    std::array<QString, 2> paths{folder.filePath(QStringLiteral("a.bin")),
                                 folder.filePath(QStringLiteral("b.bin"))};
    for (std::uint64_t seed : {0, 1}) {
        if (!folder.isValid() || !writerandom(paths[seed], kSize, 20261209 + seed)) {
            qCritical("open_bench: cannot write %s", qPrintable(paths[seed]));
            return 1;
        }
    }
    tessarin::TForm1 window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        qCritical("open_bench: the window was never shown");
        return 1;
    }
    // The window holds a file before the first timed Open, as after an earlier one.
    window.openfile(paths[0]);

    std::array<QString, 2> turns = paths;
    benchmark::RegisterBenchmark("open/1GiB", openwindow, &window, &turns)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark("baseline/1GiB", load, QStringLiteral(LOAD_PEAK_PROGRAM), paths[1])
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchratios::runwithratios(benchratios::Clock::real);
    return 0;
}
