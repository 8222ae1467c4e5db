// Speed of the document file I/O, each operation beside a plain baseline measured in the same run.
// A 256 MiB file of random bytes is made once per run in a fresh folder (under
// $TESSARIN_BENCH_DIR, else /var/tmp; it should be on the file system that matters) and removed
// at exit. Saves need a new name every time: each iteration writes a fresh name, and the file is
// deleted and the file system synced outside the timed part. Compare the pairs by their ratio,
// not by their absolute times. Typical run:
//   build-bench/bench/binio_bench --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
// The text exports write 512 MiB (hex), 768 MiB (decimal) and 2 GiB (binary) per iteration.
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
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "binio/binio.h"

namespace {

constexpr std::size_t kFileSize = std::size_t{256} << 20;
constexpr std::size_t kBlockSize = std::size_t{1} << 20;

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

// The folder of one run: the random input file, the same bytes in memory, and fresh names for
// outputs.
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
        input_ = folder_ + "/input.bin";

        document_.resize(kFileSize);
        std::mt19937_64 random(20240611);
        for (std::size_t i = 0; i < kFileSize; i += 8) {
            std::uint64_t word = random();
            std::memcpy(document_.data() + i, &word, 8);
        }
        Descriptor file(::open(input_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (file.get() < 0) {
            fail("open " + input_);
        }
        writeall(file.get(), document_.data(), document_.size());
        if (::fdatasync(file.get()) != 0 || !file.close()) {
            fail("write " + input_);
        }
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    ~Workspace() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    const std::string& input() const { return input_; }
    const std::vector<std::uint8_t>& document() const { return document_; }

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
    std::string input_;
    std::vector<std::uint8_t> document_;
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

// Runs one save per iteration to a fresh name, timing only the save itself.
template <typename Save>
void saves(benchmark::State& state, std::size_t outputbytes, Save&& save) {
    for (auto _ : state) {
        std::string path = workspace->freshname();
        try {
            state.SetIterationTime(timed([&] { save(path); }));
        } catch (const std::exception& e) {
            workspace->discard(path);
            state.SkipWithError(e.what());
            break;
        }
        workspace->discard(path);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * outputbytes));
}

// --- Load: binio::loadfile against a plain read() loop of 1 MiB blocks into a vector of the
// file's size allocated in the timed part. The input is in the page cache for both.

void loadfile(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<std::uint8_t> document;
        binio::loadfile(workspace->input(), document);
        benchmark::DoNotOptimize(document.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}

void baselineread(benchmark::State& state) {
    for (auto _ : state) {
        Descriptor file(::open(workspace->input().c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (file.get() < 0 || ::fstat(file.get(), &st) != 0) {
            state.SkipWithError("open input");
            break;
        }
        std::vector<std::uint8_t> content(static_cast<std::size_t>(st.st_size));
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
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}

// --- Raw save: binio::savebin against open(O_CREAT|O_EXCL), a write() loop of 1 MiB blocks,
// fdatasync and close.

void savebin(benchmark::State& state) {
    saves(state, kFileSize,
          [](const std::string& path) { binio::savebin(path, workspace->document()); });
}

void baselinewrite(benchmark::State& state) {
    saves(state, kFileSize, [](const std::string& path) {
        Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (file.get() < 0) {
            fail("open " + path);
        }
        const auto& document = workspace->document();
        writeall(file.get(), document.data(), document.size());
        if (::fdatasync(file.get()) != 0 || !file.close()) {
            fail("fdatasync " + path);
        }
    });
}

// --- Hex and binary export: binio::savetext against coreutils basenc encoding the input file
// the same way and syncing its output, run through the shell and timed whole. Both write the
// same text (upper-case hex digits, or eight bits per byte, most significant first, with no line
// breaks).

void savetext(benchmark::State& state, std::uint8_t radix, std::size_t width) {
    saves(state, kFileSize * width, [radix](const std::string& path) {
        binio::savetext(path, workspace->document(), radix);
    });
}

void basenc(benchmark::State& state, const char* encoding, std::size_t width) {
    saves(state, kFileSize * width, [encoding](const std::string& path) {
        std::string command = std::string("basenc ") + encoding + " -w0 '" + workspace->input() +
                              "' > '" + path + "' && sync '" + path + "'";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("failed: " + command);
        }
    });
}

void registerall() {
    auto load = [](const char* name, void (*fn)(benchmark::State&)) {
        benchmark::RegisterBenchmark(name, fn)->UseRealTime()->MinWarmUpTime(0.5)->Unit(
            benchmark::kMillisecond);
    };
    load("Load/loadfile", loadfile);
    load("Load/baseline_read", baselineread);

    auto save = [](const char* name, auto fn, int iterations) {
        benchmark::RegisterBenchmark(name, fn)
            ->UseManualTime()
            ->Iterations(iterations)
            ->Unit(benchmark::kMillisecond);
    };
    save("SaveRaw/savebin", savebin, 3);
    save("SaveRaw/baseline_write_fdatasync", baselinewrite, 3);

    save(
        "SaveHex/savetext_16", [](benchmark::State& s) { savetext(s, 16, 2); }, 3);
    save(
        "SaveHex/basenc_base16_sync", [](benchmark::State& s) { basenc(s, "--base16", 2); }, 3);

    save(
        "SaveBinary/savetext_2", [](benchmark::State& s) { savetext(s, 2, 8); }, 2);
    save(
        "SaveBinary/basenc_base2msbf_sync",
        [](benchmark::State& s) { basenc(s, "--base2msbf", 8); }, 2);

    // --- Decimal export against hex export, per output byte (bytes_per_second counts output
    // bytes): decimal writes three bytes per byte, hex two.
    save(
        "SaveDecimal/savetext_10", [](benchmark::State& s) { savetext(s, 10, 3); }, 3);
    save(
        "SaveDecimal/savetext_16", [](benchmark::State& s) { savetext(s, 16, 2); }, 3);
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
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        workspace = nullptr;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "binio_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
