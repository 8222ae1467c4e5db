// Benchmarks of a grid redraw: a fresh 1920 x 1080 picture with every visible cell painted by
// GridPainter, beside a baseline measured in the same run that draws the same cells with a plain
// QPainter::drawText of a fresh QString each. Documents of 1 KiB and 1 GiB of random bytes, the
// large one scrolled to its middle, in ASCII and hex mode. The sprite cache is warm (one paint
// before the timing); redraw_cold builds a new painter, and so every sprite it shows, on each
// redraw.
//
// Run:  build/bench/redraw_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
// After the table it prints redraw / baseline for each document and mode (medians when repeated),
// from CPU time. The 1 GiB cases need about 1.1 GiB of memory; skip them with
// --benchmark_filter=1KiB.
#include <QApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QString>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bench/ratios.h"
#include "main/gridfont.h"
#include "main/gridpaint.h"
#include "textout/textout.h"

namespace {

using tessarin::DispMode;
using tessarin::GridPainter;
using tessarin::GridView;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::int32_t kCellW = 50;
constexpr std::int32_t kCellH = 20;
constexpr std::int32_t kCols = (kWidth - textout::kRightMargin) / kCellW;  // 38

// Random bytes from a xorshift64 generator, written a 64-bit word at a time.
std::vector<std::uint8_t> randombytes(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(bytes.data() + i, &state, 8);
    }
    for (; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    return bytes;
}

struct Doc {
    std::vector<std::uint8_t> bytes;
    std::int64_t topaddr;
};

// Allocated on first use, so that a filter leaving out the 1 GiB cases never allocates it.
const Doc& smalldoc() {
    static const Doc doc{randombytes(1024), 0};
    return doc;
}

const Doc& largedoc() {
    constexpr std::size_t kSize = std::size_t{1} << 30;
    constexpr std::int64_t kMiddle = std::int64_t{512} << 20;
    static const Doc doc{randombytes(kSize), kMiddle - kMiddle % kCols};
    return doc;
}

GridView viewof(const Doc& doc) {
    return {doc.topaddr, kCols, kCellW, kCellH};
}

// Labels drawn per redraw: the bytes in view and the end marker when it is in view.
textout::VisibleCells cellsof(const Doc& doc) {
    const std::int32_t count = textout::visiblecount(kHeight, kCellH, kCols);
    return textout::visiblecells(doc.topaddr, count, static_cast<std::int32_t>(doc.bytes.size()));
}

void countcells(benchmark::State& state, const Doc& doc) {
    const textout::VisibleCells cells = cellsof(doc);
    state.SetItemsProcessed(std::int64_t(state.iterations()) *
                            (cells.bytes + (cells.eofcell >= 0 ? 1 : 0)));
}

void redraw(benchmark::State& state, const Doc& (*getdoc)(), DispMode mode) {
    const Doc& doc = getdoc();
    const QFont font = tessarin::startfont();
    GridPainter painter;
    QImage warm = GridPainter::freshpicture(kWidth, kHeight, 1.0);
    painter.paint(warm, font, mode, doc.bytes, viewof(doc));
    for (auto _ : state) {
        QImage picture = GridPainter::freshpicture(kWidth, kHeight, 1.0);
        painter.paint(picture, font, mode, doc.bytes, viewof(doc));
        benchmark::DoNotOptimize(picture.constBits());
        benchmark::ClobberMemory();
    }
    countcells(state, doc);
}

void redrawcold(benchmark::State& state, const Doc& (*getdoc)(), DispMode mode) {
    const Doc& doc = getdoc();
    const QFont font = tessarin::startfont();
    for (auto _ : state) {
        GridPainter painter;
        QImage picture = GridPainter::freshpicture(kWidth, kHeight, 1.0);
        painter.paint(picture, font, mode, doc.bytes, viewof(doc));
        benchmark::DoNotOptimize(picture.constBits());
        benchmark::ClobberMemory();
    }
    countcells(state, doc);
}

// The same cells drawn the plain way: a white picture, then per cell the pen set to the byte's
// colour and drawText of a fresh QString, on an opaque white background, and the end marker the
// same way. The texts are the ones the grid draws (the half-width katakana included), copied into
// a new QString each time.
void baseline(benchmark::State& state, const Doc& (*getdoc)(), DispMode mode) {
    const Doc& doc = getdoc();
    const QFont font = tessarin::startfont();
    const qreal ascent = QFontMetricsF(font).ascent();
    std::vector<std::u16string> texts(256);
    std::vector<QColor> colours(256);
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        texts[b] = tessarin::celltext(byte, mode).toStdU16String();
        colours[b] = tessarin::classcolor(byte);
    }
    const textout::VisibleCells cells = cellsof(doc);
    const std::uint8_t* first = doc.bytes.data() + doc.topaddr;
    for (auto _ : state) {
        QImage picture(kWidth, kHeight, QImage::Format_RGB32);
        picture.fill(Qt::white);
        QPainter painter(&picture);
        painter.setFont(font);
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.setBackground(Qt::white);
        for (std::int32_t r = 0; r < cells.bytes; ++r) {
            const textout::Point at = textout::cellpos(r, kCols, kCellW, kCellH);
            const std::u16string& text = texts[first[r]];
            painter.setPen(colours[first[r]]);
            painter.drawText(QPointF(at.x, at.y + ascent),
                             QString::fromUtf16(text.data(), qsizetype(text.size())));
        }
        if (cells.eofcell >= 0) {
            const textout::Point at = textout::cellpos(cells.eofcell, kCols, kCellW, kCellH);
            painter.setPen(tessarin::kEofColor);
            painter.drawText(QPointF(at.x, at.y + ascent), QString::fromLatin1("[EOF]"));
        }
        painter.end();
        benchmark::DoNotOptimize(picture.constBits());
        benchmark::ClobberMemory();
    }
    countcells(state, doc);
}

void registerall() {
    struct Case {
        const char* name;
        const Doc& (*doc)();
        DispMode mode;
    };
    const Case cases[] = {
        {"ascii/1KiB", smalldoc, DispMode::ascii},
        {"ascii/1GiB", largedoc, DispMode::ascii},
        {"hex/1KiB", smalldoc, DispMode::hex},
        {"hex/1GiB", largedoc, DispMode::hex},
    };
    for (const Case& c : cases) {
        const std::string name = c.name;
        benchmark::RegisterBenchmark(("baseline/" + name).c_str(), baseline, c.doc, c.mode)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("redraw/" + name).c_str(), redraw, c.doc, c.mode)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("redraw_cold/ascii/1KiB", redrawcold, smalldoc, DispMode::ascii)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    registerall();
    benchratios::runwithratios(benchratios::Clock::cpu);
    return 0;
}
