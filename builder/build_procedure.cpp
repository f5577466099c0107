#include "build_procedure.h"

#include "container.h"
#include "texts.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace builder {

std::string outputProgramName(std::string_view ibmKName, std::string_view nonIbmKName)
{
    // The second field skips the two-letter family prefix; a shorter name gives nothing.
    const std::string_view revisionTail = nonIbmKName.size() > 2 ? nonIbmKName.substr(2) : std::string_view{};
    std::string name = "W2K";
    name += ibmKName.substr(0, 4);
    name += revisionTail.substr(0, 2);
    name += ".EXE";
    return name;
}

// ---------------------------------------------------------------------------------------
// Plain POSIX file operations.

int FileIo::openForReading(const std::string& path)
{
    // O_NONBLOCK: a FIFO planted under a firmware name must not hang the window.
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

int FileIo::createUnique(std::string& pathPattern)
{
    return ::mkostemp(pathPattern.data(), O_CLOEXEC);
}

ssize_t FileIo::read(int fd, void* buffer, std::size_t size) { return ::read(fd, buffer, size); }
ssize_t FileIo::write(int fd, const void* buffer, std::size_t size) { return ::write(fd, buffer, size); }
int FileIo::flush(int fd) { return ::fsync(fd); }
int FileIo::close(int fd) { return ::close(fd); }
int FileIo::rename(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()); }
int FileIo::fileStatus(const std::string& path, struct stat& st) { return ::stat(path.c_str(), &st); }
int FileIo::linkStatus(const std::string& path, struct stat& st) { return ::lstat(path.c_str(), &st); }
int FileIo::mayAccess(const std::string& path, int mode) { return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS); }

int FileIo::openExistingForWriting(const std::string& path)
{
    // No O_CREAT, no O_TRUNC; O_NONBLOCK: a FIFO without a reader must not hang the window.
    return ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

bool FileIo::overridesStickyFolders()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    return ((data[CAP_FOWNER / 32].effective >> (CAP_FOWNER % 32)) & 1u) != 0;
}

int FileIo::folderFlags(const std::string& path, unsigned& flags)
{
    const os::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC));
    int value = 0; // the kernel reads and writes an int, whatever the request's declared type
    if (!fd.valid() || ::ioctl(fd.get(), FS_IOC_GETFLAGS, &value) != 0)
        return -1;
    flags = static_cast<unsigned>(value);
    return 0;
}

FileIo& posixFileIo()
{
    static FileIo io;
    return io;
}

BuildInputs BuildInputs::from(const FileSelection& selection)
{
    return {selection.ibmKName(), selection.ibmKPath(), selection.nonIbmKName(), selection.nonIbmKPath()};
}

// ---------------------------------------------------------------------------------------

namespace {

constexpr std::int64_t kImage = static_cast<std::int64_t>(flash::kImageSize);
constexpr std::int64_t kBarStep = 1024;

// The new program while it is written: a temporary file that is removed unless it was
// renamed into place.
class PendingOutput {
public:
    explicit PendingOutput(FileIo& io) : io_(io) {}
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    ~PendingOutput()
    {
        fd_.reset();
        if (!path_.empty() && !placed_)
            ::unlink(path_.c_str());
    }
    bool create(const std::string& pattern)
    {
        std::string path = pattern;
        fd_ = os::UniqueFd(io_.createUnique(path), &io_);
        if (fd_.valid())
            path_ = std::move(path);
        return fd_.valid();
    }
    int fd() const { return fd_.get(); }
    const std::string& path() const { return path_; }
    int close() { return fd_.close(); }
    void placed() { placed_ = true; }

private:
    FileIo& io_;
    os::UniqueFd fd_;
    std::string path_;
    bool placed_ = false;
};

// Reads until size bytes, end of file or an error. Returns the count read, -1 on error.
std::int64_t readFully(FileIo& io, int fd, std::uint8_t* buffer, std::int64_t size)
{
    errno = 0; // stays 0 when the file simply ends early
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t n = io.read(fd, buffer + done, static_cast<std::size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

bool writeFully(FileIo& io, int fd, const std::uint8_t* buffer, std::int64_t size)
{
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t n = io.write(fd, buffer + done, static_cast<std::size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

// Finds the first complete occurrence of a key-word in a stream handed in block by block.
// Unlike a matcher that simply starts over on a mismatch, it falls back to the longest
// part already matched, so "BIN-BIN-START-ADDR" is found at its second "BIN-".
class KeywordSearch {
public:
    explicit KeywordSearch(std::span<const std::uint8_t> keyword)
        : keyword_(keyword), fallback_(keyword.size(), 0)
    {
        for (std::size_t i = 1, k = 0; i < keyword_.size(); ++i) {
            while (k > 0 && keyword_[i] != keyword_[k])
                k = fallback_[k - 1];
            if (keyword_[i] == keyword_[k])
                ++k;
            fallback_[i] = k;
        }
    }

    // Index in block of the key-word's last byte, or -1 when it does not end in this block.
    std::int64_t feed(const std::uint8_t* block, std::size_t size)
    {
        if (keyword_.empty())
            return -1;
        std::size_t i = 0;
        while (i < size) {
            if (matched_ == 0) {
                // Most of a program holds no key-word byte at all: skip to the next first byte.
                const void* hit = std::memchr(block + i, keyword_[0], size - i);
                if (!hit)
                    return -1;
                i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - block);
            }
            const std::uint8_t b = block[i];
            while (matched_ > 0 && b != keyword_[matched_])
                matched_ = fallback_[matched_ - 1];
            if (b == keyword_[matched_])
                ++matched_;
            if (matched_ == keyword_.size())
                return static_cast<std::int64_t>(i);
            ++i;
        }
        return -1;
    }

private:
    std::span<const std::uint8_t> keyword_;
    std::vector<std::size_t> fallback_;
    std::size_t matched_ = 0;
};

// The bar steps once for every byte counter value i in [first, last] with i AND 1023 = 0.
std::int64_t barStepsIn(std::int64_t first, std::int64_t last)
{
    if (last < first || last < 0)
        return 0;
    first = std::max<std::int64_t>(first, 0);
    const std::int64_t firstMultiple = (first + kBarStep - 1) / kBarStep;
    const std::int64_t lastMultiple = last / kBarStep;
    return lastMultiple >= firstMultiple ? lastMultiple - firstMultiple + 1 : 0;
}

// The system's own words for an error (the session's language is the C library's);
// a file that ended early is the builder's own.
std::string reason(int error)
{
    return error == 0 ? ui::localized(UI_TEXT("Builder", "file ended early")) : std::string(std::strerror(error));
}

// A message of the builder about a file, whose name goes in as the bytes it is.
std::string text(ui::Text message, const std::string& fileName)
{
    return ui::localized(message, {ui::bytesText(fileName)});
}

constexpr ui::Text kOpenFail = UI_TEXT("Builder", "Open %1 fail!");
constexpr ui::Text kSizeFail = UI_TEXT("Builder", "%1file size != 256K");
constexpr ui::Text kCreateFail = UI_TEXT("Builder", "Create %1 Fail");

// Whether the new program may take this name. The copy is renamed onto it at the end, so
// this process must be allowed to replace the folder's entry: write and search on the
// folder and, in a sticky folder (a shared 1777 one, say), own the entry or the folder or
// hold CAP_FOWNER; and the folder must not be append-only. A regular file under the name
// must also open for writing, as a plain create under that name would: a read-only file or
// a release that is running is left alone. A link is replaced, never written through. A
// folder, a FIFO or a device: false.
// On false errno is set.
bool mayTakeName(FileIo& io, const std::string& folder, const std::string& path)
{
    struct stat entry {};
    const bool exists = io.linkStatus(path, entry) == 0;
    if (!exists && errno != ENOENT)
        return false;
    if (exists && !S_ISLNK(entry.st_mode) && !S_ISREG(entry.st_mode)) {
        errno = S_ISDIR(entry.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    struct stat dir {};
    if (io.mayAccess(folder, W_OK | X_OK) != 0 || io.fileStatus(folder, dir) != 0)
        return false;
    // In an append-only folder (chattr +a) the copy could be written but neither renamed
    // into place nor removed. An immutable one already refused the access above.
    unsigned flags = 0;
    if (io.folderFlags(folder, flags) == 0 && (flags & FS_APPEND_FL) != 0) {
        errno = EPERM;
        return false;
    }
    const uid_t me = ::geteuid();
    if (exists && (dir.st_mode & S_ISVTX) != 0 && entry.st_uid != me && dir.st_uid != me
        && !io.overridesStickyFolders()) {
        errno = EPERM;
        return false;
    }
    if (exists && S_ISREG(entry.st_mode) && !os::UniqueFd(io.openExistingForWriting(path), &io).valid())
        return false;
    return true;
}

// The process's umask, read without changing it: umask() can only be read by setting it,
// and another thread creating a file meanwhile would get the wrong mask.
mode_t currentUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
    const mode_t mask = ::umask(022); // no /proc: the only other way
    ::umask(mask);
    return mask;
}

std::string joinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

} // namespace

// ---------------------------------------------------------------------------------------

BuildProcedure::BuildProcedure(std::string workingDirectory, std::string ownProgramPath,
                               ui::ProgressModel& progress, ui::StatusLine& status,
                               ui::Dialogs& dialogs, FileIo& io)
    : BuildProcedure(std::move(workingDirectory), std::move(ownProgramPath), progress, status,
                     dialogs, flash::startKeyword(), io)
{
}

BuildProcedure::BuildProcedure(std::string workingDirectory, std::string ownProgramPath,
                               ui::ProgressModel& progress, ui::StatusLine& status,
                               ui::Dialogs& dialogs, std::span<const std::uint8_t> keyword,
                               FileIo& io)
    : workDir_(std::move(workingDirectory)),
      ownName_(fileNamePart(ownProgramPath)),
      progress_(progress),
      status_(status),
      dialogs_(dialogs),
      keyword_(keyword),
      io_(io)
{
}

// One build, from the first caption to the rename into place.
class BuildProcedure::Run {
public:
    Run(BuildProcedure& owner, const BuildInputs& in) : p_(owner), in_(in) {}

    bool go()
    {
        const std::string& name = p_.outputName_;

        os::UniqueFd ibmK = openRegular(in_.ibmKPath);
        if (!ibmK.valid())
            return fail(text(kOpenFail, in_.ibmKName));
        os::UniqueFd nonIbmK = openRegular(in_.nonIbmKPath);
        if (!nonIbmK.valid())
            return fail(text(kOpenFail, in_.nonIbmKName));
        if (sizeOf(ibmK.get()) != kImage)
            return fail(text(kSizeFail, in_.ibmKName));
        if (sizeOf(nonIbmK.get()) != kImage)
            return fail(text(kSizeFail, in_.nonIbmKName));

        os::UniqueFd templ = openRegular(joinPath(p_.workDir_, kTemplateName));
        struct stat templStat {};
        if (!templ.valid() || ::fstat(templ.get(), &templStat) != 0)
            return fail(text(kOpenFail, kTemplateName));
        const std::int64_t n = templStat.st_size;

        p_.progress_.setMin(0);
        p_.progress_.setMax(n);
        p_.progress_.setPosition(0);
        p_.progress_.setStep(kBarStep);

        const std::string finalPath = joinPath(p_.workDir_, name);
        if (!mayTakeName(p_.io_, p_.workDir_.empty() ? "." : p_.workDir_, finalPath)) {
            const int error = errno;
            return fail(text(kCreateFail, name), error);
        }
        PendingOutput out(p_.io_);
        if (!out.create(joinPath(p_.workDir_, "." + name + ".XXXXXX")))
            return fail(text(kCreateFail, name));
        // The new program must start like the template did, less what the umask takes
        // away: a template writable by all must not give a program writable by all.
        if (::fchmod(out.fd(), templStat.st_mode & 0777 & ~currentUmask()) != 0)
            return failBecause(text(UI_TEXT("Builder", "cannot set the permissions of %1"), name));

        // The one slot buffer: it also carries the blocks of the template copy.
        const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[flash::kImageSize]);

        // The part before the slots, up to and including the key-word's NUL.
        KeywordSearch search(p_.keyword_);
        std::int64_t keywordEnd = -1;
        for (std::int64_t offset = 0; offset < n && keywordEnd < 0;) {
            const std::int64_t want = std::min(kImage, n - offset);
            if (readFully(p_.io_, templ.get(), buffer.get(), want) != want)
                return failRead(kTemplateName);
            const std::int64_t hit = search.feed(buffer.get(), static_cast<std::size_t>(want));
            const std::int64_t count = hit >= 0 ? hit + 1 : want;
            if (!writeFully(p_.io_, out.fd(), buffer.get(), count))
                return failWrite();
            advanceBar(barStepsIn(offset, offset + count - 1));
            if (hit >= 0)
                keywordEnd = offset + hit;
            offset += count;
        }
        if (keywordEnd < 0)
            return fail(text(UI_TEXT("Builder", "Building fail: not found key-word in %1"), p_.ownName_));
        p_.outcome_.keywordEnd = keywordEnd;

        // The slots: the template's own slot bytes are skipped, the BIN files go in.
        const std::int64_t tailStart = keywordEnd + 1 + 2 * kImage;
        if (::lseek(templ.get(), std::min(tailStart, n), SEEK_SET) < 0)
            return failRead(kTemplateName);
        for (const auto* slot : {&ibmK, &nonIbmK}) {
            const std::string& slotName = slot == &ibmK ? in_.ibmKName : in_.nonIbmKName;
            if (readFully(p_.io_, slot->get(), buffer.get(), kImage) != kImage)
                return failRead(slotName);
            if (!writeFully(p_.io_, out.fd(), buffer.get(), kImage))
                return failWrite();
            advanceBar(kImage / kBarStep);
        }
        ibmK.reset();
        nonIbmK.reset();

        // The template ends before the end of slot 2.
        if (tailStart > n)
            return fail(text(UI_TEXT("Builder", "Building fail: some problem in %1"), p_.ownName_));

        // The tail: the end key-word, the markers and the rest of the program, unchanged.
        // The byte counter here runs one behind the template offset.
        for (std::int64_t offset = tailStart; offset < n;) {
            const std::int64_t want = std::min(kImage, n - offset);
            if (readFully(p_.io_, templ.get(), buffer.get(), want) != want)
                return failRead(kTemplateName);
            if (!writeFully(p_.io_, out.fd(), buffer.get(), want))
                return failWrite();
            advanceBar(barStepsIn(offset - 1, offset + want - 2));
            offset += want;
        }
        templ.reset();

        if (p_.io_.flush(out.fd()) != 0)
            return failBecause(text(UI_TEXT("Builder", "cannot flush %1"), name));
        if (out.close() != 0)
            return failBecause(text(UI_TEXT("Builder", "cannot close %1"), name));
        if (p_.io_.rename(out.path(), finalPath) != 0)
            return failBecause(text(UI_TEXT("Builder", "cannot rename the new program to %1"), name));
        out.placed();

        p_.status_.setCaption(text(UI_TEXT("Builder", "Build %1 ok!"), name));
        p_.progress_.setPosition(0);
        p_.outcome_.ok = true;
        return true;
    }

private:
    // An input file, closed on every way out. A failed close of a file that was only read
    // loses nothing, so it is not reported.
    os::UniqueFd openRegular(const std::string& path)
    {
        os::UniqueFd fd(p_.io_.openForReading(path), &p_.io_);
        // A directory or a device under a firmware name cannot be read as one.
        struct stat st {};
        if (fd.valid() && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
            fd.reset();
            errno = EINVAL;
        }
        return fd;
    }

    static std::int64_t sizeOf(int fd)
    {
        struct stat st {};
        return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
    }

    // StepIt as often as the byte loops would, never past Max: the bar is a picture of
    // the template bytes handled and must not wrap round to Min.
    void advanceBar(std::int64_t steps)
    {
        auto& bar = p_.progress_;
        for (; steps > 0; --steps) {
            if (bar.position() + bar.step() > bar.max()) {
                bar.setPosition(bar.max());
                return;
            }
            bar.stepIt();
        }
    }

    bool fail(const std::string& message, int error = 0)
    {
        p_.outcome_.message = message;
        p_.outcome_.error = error;
        p_.dialogs_.showMessage(message);
        return false;
    }

    bool failBecause(const std::string& what)
    {
        const int error = errno;
        return fail(ui::localized(UI_TEXT("Builder", "Building fail: %1 (%2)"), {what, reason(error)}), error);
    }

    bool failRead(const std::string& file) { return failBecause(text(UI_TEXT("Builder", "cannot read %1"), file)); }

    bool failWrite() { return failBecause(text(UI_TEXT("Builder", "cannot write %1"), p_.outputName_)); }

    BuildProcedure& p_;
    const BuildInputs& in_;
};

bool BuildProcedure::NewBuildFlashProgram(const BuildInputs& inputs)
{
    outcome_ = {};
    outputName_ = outputProgramName(inputs.ibmKName, inputs.nonIbmKName);
    status_.setCaption(text(UI_TEXT("Builder", "Building %1... "), outputName_));
    return Run(*this, inputs).go();
}

} // namespace builder
