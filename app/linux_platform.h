// The Linux side of start-up's system interfaces.
#pragma once

#include "platform.h"

#include <functional>
#include <string>

namespace app {

// Linux gives every service this program relies on the way the NT family does (a
// pass-through to SCSI drives, privileges, restart), so a Linux kernel reports the NT
// platform. The record comes from uname(); anything else reports the 9x platform.
class LinuxOsIdentity : public OsIdentity {
public:
    bool version(OsVersion& out) const override;
};

// Turns uname()'s system name and release into the version record; pure, for tests.
OsVersion versionFromUname(const std::string& sysname, const std::string& release);

// The dynamic loader the running program names in its ELF headers (PT_INTERP), such as
// /lib64/ld-linux-x86-64.so.2; empty for a program linked statically.
std::string programInterpreter();

// The program's own file, and so its name, is decided here once, and everything that
// reads it takes it from here: the caption's suffix, the new revision of a flash and the
// file name in the builder's messages.
//
// It is the file the kernel runs, as /proc/self/exe names it, read once when the program
// starts:
// - a release started through a symbolic link (a menu's link, say) is the file the link
//   points at: that file's name carries the revisions, the link's name need not;
// - a template started from PATH (argv[0] a bare name) is found all the same;
// - a file replaced on disk while it runs loses the kernel's " (deleted)" mark.
// argv[0] stands in when the link cannot be read (no /proc), and when it names the dynamic
// loader: a program started as `/lib64/ld-linux-x86-64.so.2 ./W2KVQ8E10.EXE` (the way to
// run it from a medium mounted noexec) is the loader to the kernel, while argv[0] is the
// program as the loader was given it. argv[0] is made absolute against the current
// directory when it holds a slash, otherwise looked up in PATH as the shell did.
class ProcSelfExePath : public OwnPath {
public:
    // loader: the program interpreter this program names (programInterpreter()).
    explicit ProcSelfExePath(const std::string& argv0, const std::string& link = "/proc/self/exe",
                             const std::string& loader = programInterpreter());
    std::string ownPath() const override { return path_; }

private:
    std::string path_;
};

// argv[0] as a path, the way the shell found the program: pure, for tests.
// isProgramFile tells whether a candidate in a PATH folder is a program file there;
// an empty result means no folder of PATH holds one.
std::string pathFromArgv0(const std::string& argv0, const std::string& currentDirectory,
                          const std::string& searchPath,
                          const std::function<bool(const std::string&)>& isProgramFile);

class ProcessCurrentDirectory : public CurrentDirectory {
public:
    std::string currentDirectory() const override;
};

} // namespace app
