// Runs a piece of a test in a child process as user and group "nobody" when the test runs
// as root, whom no mode bits stop; otherwise in a child as the user the test runs as.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// f returns the child's exit code (0..249); 250 means the child could not become nobody,
// 251 that it did not exit normally.
template <typename F>
int asNobody(F f)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(250);
        ::_exit(f());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 251;
}

} // namespace testsupport
