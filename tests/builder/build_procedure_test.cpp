#include "as_nobody.h"
#include "build_procedure.h"
#include "build_test_support.h"
#include "file_selection.h"
#include "scripted_ui.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace buildtest;
using builder::BuildInputs;
using builder::outputProgramName;
using Op = SpyFileIo::Op;

TEST(OutputName, CarriesBothRevisions)
{
    EXPECT_EQ("W2KVQ8E10.EXE", outputProgramName("VQ8E.BIN", "VQ10.BIN"));
    EXPECT_EQ("W2KVQ9Z7A.EXE", outputProgramName("VQ9Z.BIN", "VQ7A.BIN"));
}

TEST(OutputName, ShortNamesGiveWhatTheyHave)
{
    // An IBM-K name shorter than 4 characters before the dot lends the dot and more.
    EXPECT_EQ("W2KA.BI10.EXE", outputProgramName("A.BIN", "VQ10.BIN"));
    EXPECT_EQ("W2K10.EXE", outputProgramName("", "VQ10.BIN"));
    // The non-IBM-K name is read from its third character only when it has one.
    EXPECT_EQ("W2KVQ8E1.EXE", outputProgramName("VQ8E.BIN", "VQ1"));
    EXPECT_EQ("W2KVQ8E.EXE", outputProgramName("VQ8E.BIN", "VQ"));
    EXPECT_EQ("W2KVQ8E.EXE", outputProgramName("VQ8E.BIN", "V"));
    EXPECT_EQ("W2KVQ8E.EXE", outputProgramName("VQ8E.BIN", ""));
}

class Build : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFile(dir.path() / "VQ8E.BIN", ibmK);
        writeFile(dir.path() / "VQ10.BIN", nonIbmK);
        putTemplate(tmpl.bytes);
    }

    void putTemplate(const Bytes& bytes, mode_t mode = 0751)
    {
        const auto path = dir.path() / builder::kTemplateName;
        writeFile(path, bytes);
        ::chmod(path.c_str(), mode);
    }

    BuildInputs inputs() const
    {
        return {"VQ8E.BIN", (dir.path() / "VQ8E.BIN").string(), "VQ10.BIN", (dir.path() / "VQ10.BIN").string()};
    }

    builder::BuildProcedure procedure()
    {
        return builder::BuildProcedure(dir.path().string(), "/opt/tools/flashutil", bar, status, dialogs, io);
    }

    bool build(const BuildInputs& in)
    {
        auto p = procedure();
        const bool ok = p.NewBuildFlashProgram(in);
        outcome = p.lastOutcome();
        return ok;
    }
    bool build() { return build(inputs()); }

    fs::path output() const { return dir.path() / "W2KVQ8E10.EXE"; }

    // Only what the test put there: no output, no temporary file.
    void expectNothingLeftBehind() const
    {
        EXPECT_EQ((std::vector<std::string>{"VQ10.BIN", "VQ8E.BIN", "W2KVQXXXX.EXE"}), dir.names());
    }

    // The user saw the first caption and then this one message, and nothing else.
    void expectFailureShown(const std::string& message) const
    {
        EXPECT_EQ((std::vector<std::string>{"caption: Building W2KVQ8E10.EXE... ", "message: " + message}),
                  log.lines());
        EXPECT_EQ(message, outcome.message);
        EXPECT_FALSE(outcome.ok);
    }

    bool templateOpened() const
    {
        for (const auto& p : io.opened)
            if (p.find(builder::kTemplateName) != std::string::npos)
                return true;
        return false;
    }

    testsupport::TempFolder dir{"buildtest"};
    ui::UiLog log;
    ui::ScriptedDialogs dialogs{log};
    ui::RecordingStatusLine status{log};
    ui::ProgressModel bar;
    SpyFileIo io;
    Bytes ibmK = noise(kImage, 11);
    Bytes nonIbmK = noise(kImage, 12);
    Template tmpl = makeTemplate();
    builder::BuildOutcome outcome;
};

TEST_F(Build, WritesTheTemplateWithExactlyItsTwoSlotsReplaced)
{
    ASSERT_TRUE(build());
    EXPECT_EQ(expectedProgram(tmpl, ibmK, nonIbmK), readFile(output()));
    EXPECT_EQ(static_cast<std::int64_t>(tmpl.slot1) - 1, outcome.keywordEnd);
    EXPECT_EQ((std::vector<std::string>{"caption: Building W2KVQ8E10.EXE... ", "caption: Build W2KVQ8E10.EXE ok!"}),
              log.lines());
    EXPECT_EQ((std::vector<std::string>{"VQ10.BIN", "VQ8E.BIN", "W2KVQ8E10.EXE", "W2KVQXXXX.EXE"}), dir.names());
}

TEST_F(Build, NewProgramGetsTheTemplatesPermissionBits)
{
    putTemplate(tmpl.bytes, 0751);
    ASSERT_TRUE(build());
    EXPECT_EQ(fs::perms(0751), fs::status(output()).permissions());

    fs::remove(output());
    putTemplate(tmpl.bytes, 0644);
    ASSERT_TRUE(build());
    EXPECT_EQ(fs::perms(0644), fs::status(output()).permissions());

    // Less the umask, as a plain create: a template writable by all gives no such program.
    fs::remove(output());
    putTemplate(tmpl.bytes, 0777);
    const mode_t saved = ::umask(027);
    EXPECT_TRUE(build());
    ::umask(saved);
    EXPECT_EQ(fs::perms(0750), fs::status(output()).permissions());
}

TEST_F(Build, ProgressBarCountsTemplateBytesWithinRangeAndEndsAtZero)
{
    const auto n = static_cast<std::int64_t>(tmpl.bytes.size());
    std::vector<std::int64_t> positions;
    bar.setOnChange([&] { positions.push_back(bar.position()); });
    bar.setMax(10);
    bar.setPosition(7);
    positions.clear();

    ASSERT_TRUE(build());
    EXPECT_EQ(0, bar.min());
    EXPECT_EQ(n, bar.max());
    EXPECT_EQ(1024, bar.step());
    EXPECT_EQ(0, bar.position());
    ASSERT_GE(positions.size(), 5u);
    EXPECT_EQ(0, positions.back());
    // Min and Max leave the old Position alone until it is set to 0.
    EXPECT_EQ((std::vector<std::int64_t>{7, 7, 0, 0}), std::vector<std::int64_t>(positions.begin(), positions.begin() + 4));
    // During the copy the bar only moves forward, never past Max, and gets to the end.
    std::int64_t highest = 0;
    for (std::size_t i = 2; i + 1 < positions.size(); ++i) {
        EXPECT_GE(positions[i], highest) << "at change " << i;
        EXPECT_LE(positions[i], n);
        highest = std::max(highest, positions[i]);
    }
    EXPECT_GT(highest, n - 1024);
}

TEST_F(Build, KeywordIsFoundWhereverTheReadBlocksSplitIt)
{
    // Head sizes that put the key-word at the file start, across a block boundary and
    // with its NUL as a block's last byte.
    for (std::size_t head : {std::size_t{0}, std::size_t{1}, kImage - 15, kImage - 14, kImage - 7, kImage,
                             2 * kImage + 3}) {
        SCOPED_TRACE(head);
        tmpl = makeTemplate(head, 999);
        putTemplate(tmpl.bytes);
        ASSERT_TRUE(build());
        EXPECT_EQ(expectedProgram(tmpl, ibmK, nonIbmK), readFile(output()));
    }
}

TEST_F(Build, PartialKeywordsBeforeTheRealOneDoNotHideIt)
{
    for (const char* before : {"BIN-", "B", "BBIN-START", "BIN-START-ADD", "BIN-START-ADDR", "BIN-START-ADDRX\0",
                               "BIN-START-ADDR BIN-"}) {
        SCOPED_TRACE(before);
        tmpl = makeTemplate(5000, 5000, text(before));
        putTemplate(tmpl.bytes);
        ASSERT_TRUE(build());
        EXPECT_EQ(static_cast<std::int64_t>(tmpl.slot1) - 1, outcome.keywordEnd);
        EXPECT_EQ(expectedProgram(tmpl, ibmK, nonIbmK), readFile(output()));
    }
}

TEST_F(Build, TakesTheFirstOfTwoContainers)
{
    const Template second = makeTemplate(0, 0);
    tmpl.bytes += second.bytes;
    putTemplate(tmpl.bytes);
    ASSERT_TRUE(build());
    const Bytes out = readFile(output());
    EXPECT_EQ(expectedProgram(tmpl, ibmK, nonIbmK), out);
    // The second container is copied as it stood.
    ASSERT_GE(out.size(), second.bytes.size());
    EXPECT_TRUE(std::equal(second.bytes.begin(), second.bytes.end(), out.end() - static_cast<std::ptrdiff_t>(second.bytes.size())));
}

TEST_F(Build, TemplateWithoutTheKeywordLeavesNothing)
{
    Bytes t = noise(900000, 7);
    t += text("BIN-START-ADDRX"); // the text without its NUL is not the key-word
    t += noise(1000, 8);
    putTemplate(t);
    EXPECT_FALSE(build());
    expectFailureShown("Building fail: not found key-word in flashutil");
    expectNothingLeftBehind();
    // The bar went through the whole template without wrapping round.
    EXPECT_EQ(static_cast<std::int64_t>(t.size()), bar.position());
}

TEST_F(Build, TemplateEndingExactlyAfterSlotTwoIsEnoughOneByteLessIsNot)
{
    Bytes t = noise(3000, 9);
    t += text("BIN-START-ADDR", true);
    const std::size_t slot1 = t.size();
    t += noise(2 * kImage, 10);

    putTemplate(t);
    ASSERT_TRUE(build());
    Template exact{t, slot1};
    EXPECT_EQ(expectedProgram(exact, ibmK, nonIbmK), readFile(output()));
    fs::remove(output());
    log.clear();

    t.pop_back();
    putTemplate(t);
    EXPECT_FALSE(build());
    expectFailureShown("Building fail: some problem in flashutil");
    expectNothingLeftBehind();
}

TEST_F(Build, WrongSizedFirmwareIsRefusedBeforeTheTemplateIsOpened)
{
    struct Case {
        const char* file;
        std::size_t size;
        const char* message;
    };
    for (const Case& c : {Case{"VQ8E.BIN", kImage - 1, "VQ8E.BINfile size != 256K"},
                          Case{"VQ8E.BIN", kImage + 1, "VQ8E.BINfile size != 256K"},
                          Case{"VQ10.BIN", kImage - 1, "VQ10.BINfile size != 256K"},
                          Case{"VQ10.BIN", kImage + 1, "VQ10.BINfile size != 256K"},
                          Case{"VQ10.BIN", 0, "VQ10.BINfile size != 256K"}}) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.size));
        SetUp();
        writeFile(dir.path() / c.file, noise(c.size, 5));
        log.clear();
        io.opened.clear();
        EXPECT_FALSE(build());
        expectFailureShown(c.message);
        EXPECT_FALSE(templateOpened());
        expectNothingLeftBehind();
    }
}

TEST_F(Build, FilesThatWillNotOpen)
{
    // Missing firmware, a directory under a firmware name (what an unreadable file looks
    // like to a root process, which no mode bits stop), a missing template.
    fs::remove(dir.path() / "VQ8E.BIN");
    EXPECT_FALSE(build());
    expectFailureShown("Open VQ8E.BIN fail!");
    EXPECT_EQ(1u, io.opened.size());

    log.clear();
    fs::create_directory(dir.path() / "VQ8E.BIN");
    EXPECT_FALSE(build());
    expectFailureShown("Open VQ8E.BIN fail!");
    fs::remove(dir.path() / "VQ8E.BIN");
    writeFile(dir.path() / "VQ8E.BIN", ibmK);

    log.clear();
    fs::remove(dir.path() / "VQ10.BIN");
    EXPECT_FALSE(build());
    expectFailureShown("Open VQ10.BIN fail!");
    writeFile(dir.path() / "VQ10.BIN", nonIbmK);

    log.clear();
    fs::remove(dir.path() / builder::kTemplateName);
    EXPECT_FALSE(build());
    expectFailureShown("Open W2KVQXXXX.EXE fail!");
    EXPECT_EQ((std::vector<std::string>{"VQ10.BIN", "VQ8E.BIN"}), dir.names());
}

TEST_F(Build, OutputThatCannotBeCreated)
{
    io.failOn(Op::Create, 1, EACCES);
    EXPECT_FALSE(build());
    expectFailureShown("Create W2KVQ8E10.EXE Fail");
    expectNothingLeftBehind();
}

// The new program takes its name only where it could be written under it: a folder, a
// FIFO (one with a reader too), a device or a read-only file of that name refuses the
// build before anything is copied.
TEST_F(Build, ReleaseNameThatCannotBeWrittenIsRefusedBeforeTheCopy)
{
    fs::create_directory(output());
    EXPECT_FALSE(build());
    expectFailureShown("Create W2KVQ8E10.EXE Fail");
    EXPECT_EQ(0, bar.position());
    EXPECT_TRUE(fs::is_directory(output()));

    fs::remove(output());
    ASSERT_EQ(0, ::mkfifo(output().c_str(), 0644));
    const int reader = ::open(output().c_str(), O_RDONLY | O_NONBLOCK);
    log.clear();
    EXPECT_FALSE(build());
    ::close(reader);
    expectFailureShown("Create W2KVQ8E10.EXE Fail");
    EXPECT_TRUE(fs::is_fifo(output()));
    fs::remove(output());
    expectNothingLeftBehind();
    if (::mknod(output().c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) // as /dev/null
        GTEST_SKIP() << "no device node without CAP_MKNOD";
    log.clear();
    EXPECT_FALSE(build());
    expectFailureShown("Create W2KVQ8E10.EXE Fail");
}

TEST_F(Build, ReadOnlyOrOthersFileUnderTheReleaseNameIsLeftAlone)
{
    putTemplate(tmpl.bytes, 0644);
    writeFile(output(), text("an older release"));
    const auto readable = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
    for (const char* name : {"VQ8E.BIN", "VQ10.BIN", "W2KVQ8E10.EXE"})
        fs::permissions(dir.path() / name, readable);
    fs::permissions(dir.path(), fs::perms::all); // the folder would let a new file in
    const int code = testsupport::asNobody([&] {
        if (build())
            return 1;
        return outcome.message == "Create W2KVQ8E10.EXE Fail" ? 0 : 2;
    });
    EXPECT_EQ(0, code);
    EXPECT_EQ(text("an older release"), readFile(output()));
    EXPECT_EQ((std::vector<std::string>{"VQ10.BIN", "VQ8E.BIN", "W2KVQ8E10.EXE", "W2KVQXXXX.EXE"}), dir.names());

    // In a sticky folder one writable by all is still only its owner's to replace.
    if (::geteuid() != 0)
        GTEST_SKIP() << "a release of another user needs root";
    fs::permissions(output(), fs::perms(0666));
    ASSERT_EQ(0, ::chmod(dir.path().c_str(), 01777));
    EXPECT_EQ(0, testsupport::asNobody([&] {
        return !build() && outcome.message == "Create W2KVQ8E10.EXE Fail" && bar.position() == 0 ? 0 : 1;
    }));
}

// Another's release in a sticky folder is still the folder owner's to replace, and root's
// (CAP_FOWNER) in a sticky folder of another.
TEST_F(Build, StickyFoldersOwnerAndRootMayReplaceAnothersRelease)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a release of another user needs root";
    for (const char* name : {"VQ8E.BIN", "VQ10.BIN", builder::kTemplateName})
        fs::permissions(dir.path() / name, fs::perms(0644));
    writeFile(output(), text("root's release"));
    fs::permissions(output(), fs::perms(0666));
    ASSERT_EQ(0, ::chmod(dir.path().c_str(), 01777));
    ASSERT_EQ(0, ::chown(dir.path().c_str(), 65534, 65534));
    EXPECT_EQ(0, testsupport::asNobody([&] { return build() ? 0 : 1; })) << "the folder's owner";
    EXPECT_TRUE(build()) << "root, over nobody's release in nobody's folder";
}

TEST_F(Build, AppendOnlyFolderIsRefusedBeforeTheCopy)
{
    io.folderFlagsAnswer = FS_APPEND_FL; // the copy could be neither renamed nor removed there
    EXPECT_FALSE(build());
    expectFailureShown("Create W2KVQ8E10.EXE Fail");
}

TEST_F(Build, ExistingOutputIsReplacedOnlyOnSuccess)
{
    writeFile(output(), text("an older release"));
    io.failOn(Op::Write, 4, ENOSPC);
    EXPECT_FALSE(build());
    EXPECT_EQ(text("an older release"), readFile(output()));

    log.clear();
    io = SpyFileIo();
    ASSERT_TRUE(build());
    EXPECT_EQ(expectedProgram(tmpl, ibmK, nonIbmK), readFile(output()));
}

TEST_F(Build, LinkUnderTheOutputNameIsReplacedNotWrittenThrough)
{
    const fs::path victim = dir.path() / "elsewhere.dat";
    writeFile(victim, text("not yours"));
    fs::create_symlink(victim, output());
    ASSERT_TRUE(build());
    EXPECT_FALSE(fs::is_symlink(output()));
    EXPECT_EQ(expectedProgram(tmpl, ibmK, nonIbmK), readFile(output()));
    EXPECT_EQ(text("not yours"), readFile(victim));
}

TEST_F(Build, EveryFailedWriteFlushCloseOrRenameIsReported)
{
    struct Case {
        Op op;
        int nth;
        int error;
        const char* file;
        std::string message;
    };
    const std::string err = std::string(" (") + std::strerror(EIO) + ")";
    for (const Case& c : {Case{Op::Write, 1, ENOSPC, "", "Building fail: cannot write W2KVQ8E10.EXE (No space left on device)"},
                          Case{Op::Write, 3, EIO, "", "Building fail: cannot write W2KVQ8E10.EXE" + err},
                          Case{Op::Flush, 1, EIO, "", "Building fail: cannot flush W2KVQ8E10.EXE" + err},
                          Case{Op::Close, 1, EIO, "W2KVQ8E10", "Building fail: cannot close W2KVQ8E10.EXE" + err},
                          Case{Op::Rename, 1, EIO, "", "Building fail: cannot rename the new program to W2KVQ8E10.EXE" + err},
                          Case{Op::Read, 1, EIO, "VQ8E.BIN", "Building fail: cannot read VQ8E.BIN" + err},
                          Case{Op::Read, 1, EIO, "VQ10.BIN", "Building fail: cannot read VQ10.BIN" + err},
                          Case{Op::Read, 1, EIO, "W2KVQXXXX", "Building fail: cannot read W2KVQXXXX.EXE" + err},
                          Case{Op::Read, 2, EIO, "W2KVQXXXX", "Building fail: cannot read W2KVQXXXX.EXE" + err}}) {
        SCOPED_TRACE(c.message);
        io = SpyFileIo();
        io.failOn(c.op, c.nth, c.error, c.file);
        log.clear();
        EXPECT_FALSE(build());
        expectFailureShown(c.message);
        EXPECT_EQ(c.error, outcome.error);
        expectNothingLeftBehind();
    }
}

TEST_F(Build, ACloseThatFailsIsNotRepeated)
{
    // close(2) lets the descriptor go even when it fails; closing it again could close
    // a descriptor that another thread has opened under the same number meanwhile.
    io.failOn(Op::Close, 1, EIO, "W2KVQ8E10");
    EXPECT_FALSE(build());
    EXPECT_EQ(0, io.closesOfNothing);
}

TEST_F(Build, FirmwareFileThatEndsEarlyIsReported)
{
    // The size was right when it was checked; the file was cut short before it was read.
    io.endEarly("VQ10.BIN", 1000);
    EXPECT_FALSE(build());
    expectFailureShown("Building fail: cannot read VQ10.BIN (file ended early)");
    expectNothingLeftBehind();
}

TEST_F(Build, AWriteThatMovesNothingIsAFailureNotTheEndOfTheCopy)
{
    io.failOn(Op::Write, 2, 0);
    EXPECT_FALSE(build());
    expectFailureShown("Building fail: cannot write W2KVQ8E10.EXE (No space left on device)");
    expectNothingLeftBehind();
}

// A FIFO planted under a firmware name is refused without waiting for a writer. Should the
// open ever wait, the writer below lets it go on, so that fails the check instead of
// hanging the test.
TEST_F(Build, FifoUnderAFirmwareNameIsRefusedAtOnce)
{
    const fs::path fifo = dir.path() / "VQ8E.BIN";
    fs::remove(fifo);
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    std::thread writer([&] {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd >= 0)
            ::close(fd);
    });
    EXPECT_FALSE(build());
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); // frees the writer
    writer.join();
    ::close(reader);
    expectFailureShown("Open VQ8E.BIN fail!");
    EXPECT_EQ(std::vector<std::string>{}, io.openedToWait);
}

TEST_F(Build, ShortReadsAndWritesAndInterruptionsStillGiveTheWholeProgram)
{
    io.limitChunks(1000);
    io.failOn(Op::Read, 2, EINTR);
    io.failOn(Op::Write, 2, EINTR);
    ASSERT_TRUE(build());
    EXPECT_EQ(expectedProgram(tmpl, ibmK, nonIbmK), readFile(output()));
}

TEST_F(Build, DiskThatFillsUpMidBuild)
{
    // A file-size limit makes the kernel refuse writes past 600000 bytes, as a full disk
    // would; run in a child so the limit stays there.
    int pipeFds[2];
    ASSERT_EQ(0, ::pipe(pipeFds));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{600000, 600000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        builder::BuildProcedure p(dir.path().string(), "/opt/tools/flashutil", bar, status, dialogs);
        const bool ok = p.NewBuildFlashProgram(inputs());
        const std::string lines = [&] {
            std::string s;
            for (const auto& l : log.lines())
                s += l + "\n";
            return s;
        }();
        (void)!::write(pipeFds[1], lines.data(), lines.size());
        ::_exit(ok ? 1 : 0);
    }
    ::close(pipeFds[1]);
    std::string seen;
    char buf[512];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
        seen.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "the build reported success";
    EXPECT_EQ("caption: Building W2KVQ8E10.EXE... \nmessage: Building fail: cannot write W2KVQ8E10.EXE ("
                  + std::string(std::strerror(EFBIG)) + ")\n",
              seen);
    expectNothingLeftBehind();
}

TEST_F(Build, NextBuildFollowsARepickedFile)
{
    writeFile(dir.path() / "VQ9A.BIN", noise(kImage, 21));
    builder::FileSelection selection;
    selection.pickIbmK((dir.path() / "VQ8E.BIN").string(), false);
    selection.pickNonIbmK((dir.path() / "VQ10.BIN").string(), true);
    auto p = procedure();
    ASSERT_TRUE(p.NewBuildFlashProgram(selection));
    EXPECT_EQ("W2KVQ8E10.EXE", p.outputName());

    selection.pickIbmK((dir.path() / "VQ9A.BIN").string(), true);
    ASSERT_TRUE(p.NewBuildFlashProgram(selection));
    EXPECT_EQ("W2KVQ9A10.EXE", p.outputName());
    EXPECT_EQ(expectedProgram(tmpl, noise(kImage, 21), nonIbmK), readFile(dir.path() / "W2KVQ9A10.EXE"));
    EXPECT_EQ(expectedProgram(tmpl, ibmK, nonIbmK), readFile(output()));
}

} // namespace
