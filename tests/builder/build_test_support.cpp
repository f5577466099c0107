#include "build_test_support.h"

#include <algorithm>
#include <cstdlib>

#include <fcntl.h>

namespace buildtest {

void SpyFileIo::failOn(Op op, int nth, int error, std::string filePart)
{
    faults_.push_back({op, nth, error, std::move(filePart)});
}

void SpyFileIo::endEarly(std::string filePart, std::int64_t afterBytes)
{
    endEarly_[std::move(filePart)] = afterBytes;
}

bool SpyFileIo::shouldFail(Op op, const std::string& file)
{
    for (auto& f : faults_) {
        if (f.op != op)
            continue;
        if (file.find(f.part) == std::string::npos)
            continue;
        if (++f.seen == f.nth) {
            errno = f.error;
            return true;
        }
    }
    return false;
}

int SpyFileIo::openForReading(const std::string& path)
{
    opened.push_back(path);
    const int fd = FileIo::openForReading(path);
    if (fd >= 0) {
        fdNames_[fd] = path;
        readSoFar_[fd] = 0;
        if ((::fcntl(fd, F_GETFL) & O_NONBLOCK) == 0)
            openedToWait.push_back(path);
    }
    return fd;
}

int SpyFileIo::createUnique(std::string& pathPattern)
{
    if (shouldFail(Op::Create, pathPattern))
        return -1;
    const int fd = FileIo::createUnique(pathPattern);
    if (fd >= 0)
        fdNames_[fd] = pathPattern;
    return fd;
}

ssize_t SpyFileIo::read(int fd, void* buffer, std::size_t size)
{
    const std::string& name = fdNames_[fd];
    if (shouldFail(Op::Read, name))
        return errno == 0 ? 0 : -1;
    if (chunk_)
        size = std::min(size, chunk_);
    for (const auto& [part, limit] : endEarly_) {
        if (name.find(part) != std::string::npos)
            size = static_cast<std::size_t>(std::clamp<std::int64_t>(limit - readSoFar_[fd], 0, static_cast<std::int64_t>(size)));
    }
    const ssize_t n = FileIo::read(fd, buffer, size);
    if (n > 0)
        readSoFar_[fd] += n;
    return n;
}

ssize_t SpyFileIo::write(int fd, const void* buffer, std::size_t size)
{
    if (shouldFail(Op::Write, fdNames_[fd]))
        return errno == 0 ? 0 : -1;
    if (chunk_)
        size = std::min(size, chunk_);
    return FileIo::write(fd, buffer, size);
}

int SpyFileIo::flush(int fd)
{
    if (shouldFail(Op::Flush, fdNames_[fd]))
        return -1;
    return FileIo::flush(fd);
}

int SpyFileIo::close(int fd)
{
    const std::string name = fdNames_[fd];
    fdNames_.erase(fd);
    const int rc = FileIo::close(fd);
    if (rc != 0 && errno == EBADF)
        ++closesOfNothing;
    if (shouldFail(Op::Close, name))
        return -1; // closed all the same, as close(2) leaves it
    return rc;
}

int SpyFileIo::rename(const std::string& from, const std::string& to)
{
    if (shouldFail(Op::Rename, to))
        return -1;
    return FileIo::rename(from, to);
}

} // namespace buildtest
