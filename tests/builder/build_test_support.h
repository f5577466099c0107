// Shared pieces of the builder tests: template and firmware makers and a file-operation
// seam that can fail one chosen call.
#pragma once

#include "build_procedure.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace buildtest {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kImage = 262144;

inline Bytes text(const std::string& s, bool withNul = false)
{
    Bytes b(s.begin(), s.end());
    if (withNul)
        b.push_back(0);
    return b;
}

inline Bytes& operator+=(Bytes& a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Bytes that look like nothing in particular and hold no key-word.
inline Bytes noise(std::size_t size, std::uint32_t seed)
{
    Bytes b(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = static_cast<std::uint8_t>(x);
    }
    return b;
}

// A template program: head | container with "QORM01" in slot 1 | tail.
struct Template {
    Bytes bytes;
    std::size_t slot1 = 0; // offset of slot 1
};

inline Template makeTemplate(std::size_t headSize = 70000, std::size_t tailSize = 50001,
                             const Bytes& beforeKeyword = {})
{
    Template t;
    t.bytes = noise(headSize, 1);
    t.bytes += beforeKeyword;
    t.bytes += text("BIN-START-ADDR", true);
    t.slot1 = t.bytes.size();
    Bytes slots = noise(2 * kImage, 2);
    const Bytes marker = text("QORM01");
    std::copy(marker.begin(), marker.end(), slots.begin());
    t.bytes += slots;
    t.bytes += text("BIN-END-ADDR", true);
    t.bytes += text("QORM01", true);
    t.bytes += text("QORM02", true);
    t.bytes += noise(tailSize, 3);
    return t;
}

// What a correct build gives: the template with exactly its two slots replaced.
inline Bytes expectedProgram(const Template& t, const Bytes& ibmK, const Bytes& nonIbmK)
{
    Bytes out = t.bytes;
    std::copy(ibmK.begin(), ibmK.end(), out.begin() + static_cast<std::ptrdiff_t>(t.slot1));
    std::copy(nonIbmK.begin(), nonIbmK.end(), out.begin() + static_cast<std::ptrdiff_t>(t.slot1 + kImage));
    return out;
}

inline void writeFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readFile(const fs::path& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// POSIX file operations that record what was opened and can misbehave on request.
class SpyFileIo : public builder::FileIo {
public:
    enum class Op { Read, Write, Flush, Close, Rename, Create };

    // The nth call (from 1) of op on a descriptor of a file whose path contains
    // filePart (any file when empty) fails with error; a read or write with error 0
    // moves nothing and returns 0 instead.
    void failOn(Op op, int nth, int error, std::string filePart = {});
    // Reads stop early (report end of file) after this many bytes of a file.
    void endEarly(std::string filePart, std::int64_t afterBytes);
    // Hand out at most this many bytes per read and write call.
    void limitChunks(std::size_t chunk) { chunk_ = chunk; }

    std::vector<std::string> opened; // every path opened for reading, in order
    std::vector<std::string> openedToWait; // those whose descriptor would wait (no O_NONBLOCK)
    int closesOfNothing = 0; // closes of a descriptor that was not open (a second close, say)
    std::optional<unsigned> folderFlagsAnswer; // reported instead of a folder's own inode flags

    int openForReading(const std::string& path) override;
    int createUnique(std::string& pathPattern) override;
    ssize_t read(int fd, void* buffer, std::size_t size) override;
    ssize_t write(int fd, const void* buffer, std::size_t size) override;
    int flush(int fd) override;
    int close(int fd) override;
    int rename(const std::string& from, const std::string& to) override;
    int folderFlags(const std::string& path, unsigned& flags) override
    {
        return folderFlagsAnswer ? (flags = *folderFlagsAnswer, 0) : FileIo::folderFlags(path, flags);
    }

private:
    bool shouldFail(Op op, const std::string& file);

    struct Fault {
        Op op;
        int nth;
        int error;
        std::string part;
        int seen = 0;
    };
    std::vector<Fault> faults_;
    std::map<int, std::string> fdNames_;
    std::map<std::string, std::int64_t> endEarly_;
    std::map<int, std::int64_t> readSoFar_;
    std::size_t chunk_ = 0;
};

} // namespace buildtest
