// Writing a new flash program: a copy of the template "W2KVQXXXX.EXE" from the working
// directory with its two image slots filled by the picked IBM-K and non-IBM-K BIN files,
// named after the two revisions ("W2K%4.4s%2.2s.EXE").
//
// The copy goes to a temporary file beside the final name and is renamed into place only
// when every read, write, flush and close has succeeded, so a failed build never leaves
// a broken program under the finished name and never writes through a link of that name.
// A name the program could not be written under (a folder, a read-only file, a running
// release, another user's file in a sticky folder, any name in an append-only folder) is
// refused with "Create <name> Fail" before anything is copied. The new program takes the
// template's mode bits less the umask, as a plain create would.
#pragma once

#include "file_selection.h"
#include "progress_model.h"
#include "ui_ports.h"
#include "unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace builder {

inline constexpr const char* kTemplateName = "W2KVQXXXX.EXE";

// "W2K" + the IBM-K short name cut to 4 characters + the non-IBM-K short name from its
// third character on, cut to 2 characters + ".EXE". VQ8E.BIN and VQ10.BIN give W2KVQ8E10.EXE.
std::string outputProgramName(std::string_view ibmKName, std::string_view nonIbmKName);

// The file operations of a build. The default one is plain POSIX; a test derives from it
// to make one chosen call fail the way a disk or a file system can. The build's
// descriptors close through it as well.
class FileIo : public os::DescriptorCloser {
public:
    // A descriptor for reading, or -1 with errno set. Never blocks on a FIFO.
    virtual int openForReading(const std::string& path);
    // Creates a new file from a mkstemp pattern (the X's are replaced in place);
    // a descriptor, or -1 with errno set.
    virtual int createUnique(std::string& pathPattern);
    virtual ssize_t read(int fd, void* buffer, std::size_t size);
    virtual ssize_t write(int fd, const void* buffer, std::size_t size);
    virtual int flush(int fd); // fsync
    int close(int fd) override;
    virtual int rename(const std::string& from, const std::string& to);

    // What the check before the copy asks: whether the rename at the end may replace the
    // entry under the release name. Each is 0, or -1 with errno set.
    virtual int fileStatus(const std::string& path, struct stat& st); // follows a link
    virtual int linkStatus(const std::string& path, struct stat& st); // the entry itself
    // faccessat with the effective ids (W_OK | X_OK on a folder, say).
    virtual int mayAccess(const std::string& path, int mode);
    // A descriptor of an existing regular file opened for writing, changing nothing of it;
    // refused as a plain create under that name would be (read-only file, running program).
    virtual int openExistingForWriting(const std::string& path);
    // Whether this process may replace others' entries in a sticky folder (CAP_FOWNER).
    virtual bool overridesStickyFolders();
    // The folder's inode flags (FS_IOC_GETFLAGS: FS_APPEND_FL...); 0, or -1 with errno set
    // where its file system keeps none.
    virtual int folderFlags(const std::string& path, unsigned& flags);
};

FileIo& posixFileIo();

// The input of one build: the two picks, by short name and by full path.
struct BuildInputs {
    std::string ibmKName;
    std::string ibmKPath;
    std::string nonIbmKName;
    std::string nonIbmKPath;

    static BuildInputs from(const FileSelection& selection);
};

// Where a build stopped, for logs and tests; the user sees the message only.
struct BuildOutcome {
    bool ok = false;
    std::string message;     // what the user was shown ("" on success)
    int error = 0;           // errno of the failed call, 0 if none
    std::int64_t keywordEnd = -1; // template offset of the key-word's NUL, -1 if not found
};

class BuildProcedure {
public:
    // workingDirectory: where the template is opened and the new program written.
    // ownProgramPath: the running program's own file (only its file-name part is shown,
    // in the two "Building fail" messages). keyword: the 15 search bytes, the running program's own container
    // key-word (flash::startKeyword()) unless a test hands in others.
    BuildProcedure(std::string workingDirectory, std::string ownProgramPath,
                   ui::ProgressModel& progress, ui::StatusLine& status, ui::Dialogs& dialogs,
                   FileIo& io = posixFileIo());
    BuildProcedure(std::string workingDirectory, std::string ownProgramPath,
                   ui::ProgressModel& progress, ui::StatusLine& status, ui::Dialogs& dialogs,
                   std::span<const std::uint8_t> keyword, FileIo& io = posixFileIo());

    // True when the new program was written completely and renamed into place; every
    // failure has been shown to the user when it returns false.
    bool NewBuildFlashProgram(const BuildInputs& inputs);
    bool NewBuildFlashProgram(const FileSelection& selection)
    {
        return NewBuildFlashProgram(BuildInputs::from(selection));
    }

    // The output program name of the last build (kept after it, like the caption).
    const std::string& outputName() const { return outputName_; }
    const BuildOutcome& lastOutcome() const { return outcome_; }

private:
    class Run;

    std::string workDir_;
    std::string ownName_;
    ui::ProgressModel& progress_;
    ui::StatusLine& status_;
    ui::Dialogs& dialogs_;
    std::span<const std::uint8_t> keyword_;
    FileIo& io_;
    std::string outputName_;
    BuildOutcome outcome_;
};

} // namespace builder
