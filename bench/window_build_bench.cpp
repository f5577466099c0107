// Building one release from the real window against the builder alone, on the same
// template, side by side in one run: the stripped template (the program the package
// installs) and the unstripped one this build tree makes.
//
// Each iteration builds W2KVQ8E10.EXE twice in a scratch directory (BUILD_BENCH_DIR, else
// TMPDIR, else /tmp): once with the builder alone (a bare progress model and status line),
// and once the way a user does, by clicking Build in the window in build mode with the two
// BIN files picked in its lists. The window's figure runs from the click, delivered by the
// event loop, to the moment the window has painted "Build W2KVQ8E10.EXE ok!".
//
// Counters, per build, the median of the iterations: window_ms and builder_ms; limit_ms is
// 1.5 times builder_ms plus one frame (16 ms); worst_window_ms the slowest window build;
// bar_paints how often the bar was painted during a window build. QT_QPA_PLATFORM picks
// the display (offscreen without one); the figures that matter are on an X server (Xvfb).
#include "window_bench_main.h"
#include "quiet_ui.h"
#include "build_procedure.h"

#include "drive_search.h"
#include "flash_application.h"
#include "linux_platform.h"
#include "main_form.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kOutput = "W2KVQ8E10.EXE";
constexpr const char* kFinalCaption = "Build W2KVQ8E10.EXE ok!";

// A scratch directory holding the template under its name and the two BIN files; the
// process works in it while the benchmark runs, as the program works in its own.
class Stage {
public:
    explicit Stage(const fs::path& templateFile)
    {
        const char* base = std::getenv("BUILD_BENCH_DIR");
        if (!base)
            base = std::getenv("TMPDIR");
        std::string pattern = std::string(base ? base : "/tmp") + "/window-build-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        dir_ = pattern;
        fs::copy_file(templateFile, dir_ / builder::kTemplateName);
        templateSize_ = static_cast<std::int64_t>(fs::file_size(dir_ / builder::kTemplateName));
        for (const char* name : {"VQ8E.BIN", "VQ10.BIN"}) {
            std::vector<char> bytes(262144);
            for (std::size_t i = 0; i < bytes.size(); ++i)
                bytes[i] = static_cast<char>(i * 7 + name[3]);
            std::ofstream(dir_ / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        previous_ = fs::current_path();
        fs::current_path(dir_);
    }
    ~Stage()
    {
        std::error_code ec;
        fs::current_path(previous_, ec);
        fs::remove_all(dir_, ec);
    }
    std::int64_t templateSize() const { return templateSize_; }
    builder::BuildInputs inputs() const
    {
        return {"VQ8E.BIN", (dir_ / "VQ8E.BIN").string(), "VQ10.BIN", (dir_ / "VQ10.BIN").string()};
    }

private:
    fs::path dir_;
    fs::path previous_;
    std::int64_t templateSize_ = 0;
};

// Counts the bar's paints and notices the status line painted with the final caption.
class PaintWatch : public QObject {
public:
    PaintWatch(QGroupBox* box, QProgressBar* bar) : box_(box), bar_(bar)
    {
        box_->installEventFilter(this);
        bar_->installEventFilter(this);
    }
    void arm(QEventLoop* loop)
    {
        loop_ = loop;
        started = false;
        ended = false;
        barPaints = 0;
    }
    bool started = false; // the build has begun: a paint of the final caption now is this build's
    bool ended = false;   // the final caption has been painted
    int barPaints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || loop_ == nullptr || !started)
            return false;
        if (watched == bar_)
            ++barPaints;
        if (watched == box_ && !ended && box_->title() == QLatin1String(kFinalCaption)) {
            // Quit once this paint (and the bar's with it) has gone to the display.
            ended = true;
            QMetaObject::invokeMethod(loop_, &QEventLoop::quit, Qt::QueuedConnection);
        }
        return false;
    }

private:
    QGroupBox* box_;
    QProgressBar* bar_;
    QEventLoop* loop_ = nullptr;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void BM_BuildWindowVsBuilder(benchmark::State& state, const char* templateFile)
{
    if (!fs::exists(templateFile)) {
        state.SkipWithError((std::string("no template at ") + templateFile).c_str());
        return;
    }
    Stage stage(templateFile);

    // The builder alone.
    QuietDialogs quietDialogs;
    QuietStatus quietStatus;
    ui::ProgressModel quietBar;
    builder::BuildProcedure alone(".", "/opt/korvane/W2KVQXXXX.EXE", quietBar, quietStatus, quietDialogs);

    // The window in build mode, wired as the program wires it.
    QuietDialogs dialogs;
    app::ProgramState programState;
    app::TMainForm form(programState);
    app::QtQuitRequest quit;
    const app::LinuxOsIdentity os;
    const app::ProcSelfExePath ownPath("");
    const app::ProcessCurrentDirectory currentDirectory;
    const std::array<std::uint8_t, 6> marker{'Q', 'O', 'R', 'M', '0', '1'};
    if (form.FormCreate({dialogs, quit, os, ownPath, currentDirectory, app::makeDriveSearch()}, marker, marker)
        != app::StartupOutcome::BuildMode) {
        state.SkipWithError("the window did not start in build mode");
        return;
    }
    builder::BuildProcedure build(".", "/opt/korvane/W2KVQXXXX.EXE", programState.progress,
                                  form.statusLine(), dialogs);
    auto* box = form.findChild<QGroupBox*>(QStringLiteral("GroupBox2"));
    auto* bar = form.findChild<QProgressBar*>(QStringLiteral("ProgressBar"));
    auto* button = form.findChild<QPushButton*>(QStringLiteral("FlashButton"));
    auto* list1 = form.findChild<QListWidget*>(QStringLiteral("FileListBox1"));
    auto* list2 = form.findChild<QListWidget*>(QStringLiteral("FileListBox2"));
    if (!box || !bar || !button || !list1 || !list2 || list1->count() != 1 || list2->count() != 1) {
        state.SkipWithError("the window does not list the two BIN files");
        return;
    }
    PaintWatch watch(box, bar);
    form.buildAction = [&] {
        watch.started = true;
        build.NewBuildFlashProgram(programState.fileSelection);
        programState.outputProgramName = build.outputName();
    };
    list1->setCurrentRow(0);
    list2->setCurrentRow(0);
    form.show();

    // The window stands painted on the screen before the user clicks.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();

    std::vector<double> windowMs;
    std::vector<double> builderMs;
    std::vector<double> barPaints;
    const auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    for (auto _ : state) {
        const Clock::time_point a0 = Clock::now();
        const bool aloneOk = alone.NewBuildFlashProgram(stage.inputs());
        const Clock::time_point a1 = Clock::now();
        if (!aloneOk) {
            state.SkipWithError(("the builder failed: " + quietDialogs.lastMessage).c_str());
            return;
        }

        QEventLoop loop;
        watch.arm(&loop);
        // A guard against a build that never paints its end.
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        const Clock::time_point w0 = Clock::now();
        QTimer::singleShot(0, button, &QPushButton::click);
        loop.exec();
        const Clock::time_point w1 = Clock::now();
        if (box->title() != QLatin1String(kFinalCaption) || !fs::exists(kOutput)) {
            state.SkipWithError(("the window's build failed: " + dialogs.lastMessage).c_str());
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(w1 - w0).count());
        windowMs.push_back(ms(w1 - w0));
        builderMs.push_back(ms(a1 - a0));
        barPaints.push_back(watch.barPaints);
        watch.arm(nullptr);
    }
    const double builder = median(builderMs);
    state.counters["window_ms"] = median(windowMs);
    state.counters["builder_ms"] = builder;
    state.counters["limit_ms"] = 1.5 * builder + 16;
    state.counters["worst_window_ms"] = *std::max_element(windowMs.begin(), windowMs.end());
    state.counters["bar_paints"] = median(barPaints);
    state.counters["template_bytes"] = static_cast<double>(stage.templateSize());
}
BENCHMARK_CAPTURE(BM_BuildWindowVsBuilder, stripped, STRIPPED_TEMPLATE)
    ->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();
BENCHMARK_CAPTURE(BM_BuildWindowVsBuilder, unstripped, UNSTRIPPED_TEMPLATE)
    ->Unit(benchmark::kMillisecond)->Iterations(10)->UseManualTime();

} // namespace

int main(int argc, char** argv)
{
    return runWindowBenchmarks(argc, argv);
}
