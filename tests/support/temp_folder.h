// A fresh folder of its own under the system's temporary folder for one test, removed with
// all it holds when the test is done, also when an assertion ends the test early. Made
// with mkdtemp: private to the user (0700), and a name no other test process can also get.
#pragma once

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <system_error>
#include <vector>

namespace testsupport {

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "qvx-test")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a temporary folder like " + pattern);
        path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const { return path_ / name; }

    // The names of the entries in the folder, sorted.
    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    std::filesystem::path path_;
};

} // namespace testsupport
