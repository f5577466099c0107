// Building one release from a template against copying the same file.
//
// The template is this very program: it links the firmware container, so its file holds
// the key-word, two slots and the markers, like the real template. It is copied into a
// scratch directory (BUILD_BENCH_DIR, else TMPDIR, else /tmp) as W2KVQXXXX.EXE.
//
//   build_bench                      the timings (Google Benchmark options apply)
//   build_bench --rss-delta          peak resident memory before and after one build
#include "bench_main.h"
#include "quiet_ui.h"
#include "build_procedure.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Stage {
    fs::path dir;
    std::int64_t templateSize = 0;

    Stage()
    {
        const char* base = std::getenv("BUILD_BENCH_DIR");
        if (!base)
            base = std::getenv("TMPDIR");
        std::string pattern = std::string(base ? base : "/tmp") + "/build-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        dir = pattern;
        fs::copy_file("/proc/self/exe", dir / builder::kTemplateName);
        templateSize = static_cast<std::int64_t>(fs::file_size(dir / builder::kTemplateName));
        // Written in small pieces, so no large buffer raises the peak before it is measured.
        char piece[4096];
        for (const char* name : {"VQ8E.BIN", "VQ10.BIN"}) {
            std::ofstream file(dir / name, std::ios::binary);
            for (std::size_t at = 0; at < 262144; at += sizeof piece) {
                for (std::size_t i = 0; i < sizeof piece; ++i)
                    piece[i] = static_cast<char>((at + i) * 7 + name[3]);
                file.write(piece, sizeof piece);
            }
        }
    }
    ~Stage()
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    builder::BuildInputs inputs() const
    {
        return {"VQ8E.BIN", (dir / "VQ8E.BIN").string(), "VQ10.BIN", (dir / "VQ10.BIN").string()};
    }
};

Stage& stage()
{
    static Stage s;
    return s;
}

// The same file operations without the fsync before the rename, to show what it costs.
class NoSyncFileIo : public builder::FileIo {
public:
    int flush(int) override { return 0; }
};

bool buildOnce(builder::FileIo& io = builder::posixFileIo())
{
    QuietDialogs dialogs;
    QuietStatus status;
    ui::ProgressModel bar;
    builder::BuildProcedure procedure(stage().dir.string(), "/proc/self/exe", bar, status, dialogs, io);
    const bool ok = procedure.NewBuildFlashProgram(stage().inputs());
    if (!ok)
        std::fprintf(stderr, "build failed: %s\n", dialogs.lastMessage.c_str());
    return ok;
}

// What cp does for a regular file without reflinks: read and write in 128 KiB pieces
// into a file created or truncated under the new name.
bool copyLikeCp(const fs::path& from, const fs::path& to, bool sync = false)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0755);
    if (out < 0) {
        ::close(in);
        return false;
    }
    static std::vector<char> buffer(128 * 1024);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) {
            ok = false;
            break;
        }
    }
    ::close(in);
    if (sync && ::fsync(out) != 0)
        ok = false;
    return ::close(out) == 0 && ok;
}

void BM_BuildRelease(benchmark::State& state)
{
    for (auto _ : state) {
        if (!buildOnce()) {
            state.SkipWithError("build failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * stage().templateSize);
    state.counters["template_bytes"] = static_cast<double>(stage().templateSize);
}
BENCHMARK(BM_BuildRelease)->Unit(benchmark::kMillisecond);

void BM_BuildReleaseWithoutFsync(benchmark::State& state)
{
    NoSyncFileIo io;
    for (auto _ : state) {
        if (!buildOnce(io)) {
            state.SkipWithError("build failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * stage().templateSize);
}
BENCHMARK(BM_BuildReleaseWithoutFsync)->Unit(benchmark::kMillisecond);

void BM_CopyTemplate(benchmark::State& state)
{
    const fs::path from = stage().dir / builder::kTemplateName;
    const fs::path to = stage().dir / "copy.EXE";
    for (auto _ : state) {
        if (!copyLikeCp(from, to)) {
            state.SkipWithError("copy failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * stage().templateSize);
}
BENCHMARK(BM_CopyTemplate)->Unit(benchmark::kMillisecond);

// cp followed by sync: the copy made as durable as the build makes its program.
void BM_CopyTemplateWithFsync(benchmark::State& state)
{
    const fs::path from = stage().dir / builder::kTemplateName;
    const fs::path to = stage().dir / "copy.EXE";
    for (auto _ : state) {
        if (!copyLikeCp(from, to, true)) {
            state.SkipWithError("copy failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * stage().templateSize);
}
BENCHMARK(BM_CopyTemplateWithFsync)->Unit(benchmark::kMillisecond);

long peakRssKb()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int rssDelta()
{
    stage(); // the scratch files are made before the measurement starts
    const long before = peakRssKb();
    const bool ok = buildOnce();
    const long after = peakRssKb();
    std::printf("template %lld bytes, build %s; peak RSS before %ld KiB, after %ld KiB, delta %ld KiB "
                "(one slot buffer is 256 KiB)\n",
                static_cast<long long>(stage().templateSize), ok ? "ok" : "FAILED", before, after,
                after - before);
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--rss-delta") == 0)
            return rssDelta();
    return runBenchmarks(argc, argv);
}
