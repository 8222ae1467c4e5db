// Speed of the document file I/O, each operation beside a plain baseline measured in the same run,
// on documents of 256 MiB and 1 GiB of random bytes. The input files are made once per run in a
// fresh folder (under $TESSARIN_BENCH_DIR, else /var/tmp; it should be on the file system that
// matters), left in the page cache by writing them, and removed at exit.
// Saves need a new name every time: each iteration writes a fresh name, and the file is deleted
// and the file system synced outside the timed part.
//
// Benchmarks are named KIND/CASE/SIZE, and after the table the run prints each kind over the
// baseline of its case and size (see bench/ratios.h):
//   load/     loadfile      against a 1 MiB read() loop into a freshly sized std::vector
//   unsized/  loadfile reading to the end (as for a file whose size tells nothing, "toend")
//                           against loadfile of the same file by its size
//   raw/      savebin       against a 1 MiB write() loop + fdatasync of the same bytes
//   hex/      savetext 16   against the same loop writing as many bytes as the text: 2 per byte
//   decimal/  savetext 10   the same, 3 bytes per byte
//   binary/   savetext 2    the same, 8 bytes per byte
// Typical run (about 130 GiB written; --benchmark_filter=256MiB keeps to the small document):
//   build/bench/binio_bench --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true
//       --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "bench/ratios.h"
#include "binio/binio.h"
#include "binio/load.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kBlockSize = kMiB;
constexpr std::size_t kSizesMiB[] = {256, 1024};

// Owns a file descriptor of the baselines, which use no binio code.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now; false when close() failed.
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void writeall(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, std::min(kBlockSize, size));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fail("write");
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// The baseline of every save: `copies` times the document written to a new file in 1 MiB blocks,
// then fdatasync and close.
void plainwrite(const std::string& path, const Bytes& document, std::size_t copies) {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file.get() < 0) {
        fail("open " + path);
    }
    for (std::size_t i = 0; i < copies; ++i) {
        writeall(file.get(), document.data(), document.size());
    }
    if (::fdatasync(file.get()) != 0 || !file.close()) {
        fail("fdatasync " + path);
    }
}

// One document size: the random bytes in memory and the same bytes in a file.
struct Sample {
    std::string input;
    Bytes document;
};

// The folder of one run: a sample per document size, made when first needed, and fresh names
// for outputs.
class Workspace {
public:
    Workspace() {
        const char* base = std::getenv("TESSARIN_BENCH_DIR");
        std::string pattern =
            std::string(base && *base ? base : "/var/tmp") + "/binio-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            fail("mkdtemp " + pattern);
        }
        folder_ = pattern;
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    ~Workspace() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    const Sample& sample(std::size_t mib) {
        Sample& sample = samples_[mib];
        if (sample.input.empty()) {
            sample.document.resize(mib * kMiB);
            std::mt19937_64 random(20240611 + mib);
            for (std::size_t i = 0; i < sample.document.size(); i += 8) {
                std::uint64_t word = random();
                std::memcpy(sample.document.data() + i, &word, 8);
            }
            const std::string input = folder_ + "/input" + std::to_string(mib);
            plainwrite(input, sample.document, 1);
            sample.input = input;
        }
        return sample;
    }

    std::string freshname() { return folder_ + "/out" + std::to_string(++outputs_); }

    // Removes an output and settles the file system, so that freeing its blocks is not charged
    // to the next iteration.
    void discard(const std::string& path) const {
        ::unlink(path.c_str());
        Descriptor folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() >= 0) {
            ::syncfs(folder.get());
        }
    }

private:
    std::string folder_;
    std::map<std::size_t, Sample> samples_;
    unsigned outputs_ = 0;
};

Workspace* workspace = nullptr;

// Seconds taken by f().
template <typename F>
double timed(F&& f) {
    auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// --- Loads: binio::loadfile against a plain read() loop of 1 MiB blocks into a vector of the
// file's size allocated in the timed part. The input is in the page cache for both.

void load(benchmark::State& state, std::size_t mib, bool toend) {
    const Sample& sample = workspace->sample(mib);
    binio::LoadSettings settings;
    settings.readtoend = toend;
    for (auto _ : state) {
        Bytes document;
        binio::loadfile(sample.input, document, binio::Progress(), settings);
        benchmark::DoNotOptimize(document.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mib * kMiB));
}

void loadfile(benchmark::State& state, std::size_t mib) {
    load(state, mib, false);
}

void loadtoend(benchmark::State& state, std::size_t mib) {
    load(state, mib, true);
}

void baselineread(benchmark::State& state, std::size_t mib) {
    const Sample& sample = workspace->sample(mib);
    for (auto _ : state) {
        Descriptor file(::open(sample.input.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (file.get() < 0 || ::fstat(file.get(), &st) != 0) {
            state.SkipWithError("open input");
            break;
        }
        Bytes content(static_cast<std::size_t>(st.st_size));
        std::size_t done = 0;
        while (done < content.size()) {
            ssize_t n = ::read(file.get(), content.data() + done,
                               std::min(kBlockSize, content.size() - done));
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        if (done != content.size()) {
            state.SkipWithError("short read");
            break;
        }
        benchmark::DoNotOptimize(content.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mib * kMiB));
}

// --- Saves: one per iteration to a fresh name, timing only the save itself. `width` is the
// number of output bytes per document byte.

// Runs `write(path, document)` once per iteration, each time to a fresh name removed afterwards.
template <typename Write>
void timedwrites(benchmark::State& state, std::size_t mib, std::size_t width, const Write& write) {
    const Sample& sample = workspace->sample(mib);
    for (auto _ : state) {
        std::string path = workspace->freshname();
        try {
            state.SetIterationTime(timed([&] { write(path, sample.document); }));
        } catch (const std::exception& e) {
            workspace->discard(path);
            state.SkipWithError(e.what());
            break;
        }
        workspace->discard(path);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * mib * kMiB * width));
}

// binio's save: savebin for radix 0, else savetext in that radix.
void save(benchmark::State& state, std::size_t mib, int radix, std::size_t width) {
    timedwrites(state, mib, width, [radix](const std::string& path, const Bytes& document) {
        if (radix == 0) {
            binio::savebin(path, document);
        } else {
            binio::savetext(path, document, static_cast<std::uint8_t>(radix));
        }
    });
}

void baselinewrite(benchmark::State& state, std::size_t mib, std::size_t width) {
    timedwrites(state, mib, width, [width](const std::string& path, const Bytes& document) {
        plainwrite(path, document, width);
    });
}

void registerall() {
    struct Export {
        const char* name;
        int radix;  // 0: raw
        std::size_t width;
    };
    const Export exports[] = {{"raw", 0, 1}, {"hex", 16, 2}, {"decimal", 10, 3}, {"binary", 2, 8}};
    for (std::size_t mib : kSizesMiB) {
        const std::string size = "/" + std::to_string(mib).append("MiB");
        struct Load {
            const char* kind;
            void (*fn)(benchmark::State&, std::size_t);
        };
        for (const Load& l :
             {Load{"loadfile/load", loadfile}, Load{"baseline/load", baselineread},
              Load{"toend/unsized", loadtoend}, Load{"baseline/unsized", loadfile}}) {
            benchmark::RegisterBenchmark((std::string(l.kind) + size).c_str(), l.fn, mib)
                ->UseRealTime()
                ->MinWarmUpTime(0.5)
                ->Unit(benchmark::kMillisecond);
        }
        // Large saves take seconds each; the repetitions give their spread.
        const int iterations = mib < 1024 ? 2 : 1;
        for (const Export& e : exports) {
            const std::string kind = e.radix == 0 ? "savebin" : "savetext";
            benchmark::RegisterBenchmark((kind + "/" + e.name + size).c_str(), save, mib, e.radix,
                                         e.width)
                ->UseManualTime()
                ->Iterations(iterations)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((std::string("baseline/") + e.name + size).c_str(),
                                         baselinewrite, mib, e.width)
                ->UseManualTime()
                ->Iterations(iterations)
                ->Unit(benchmark::kMillisecond);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    try {
        Workspace work;
        workspace = &work;
        registerall();
        benchratios::runwithratios(benchratios::Clock::real);
        workspace = nullptr;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "binio_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
