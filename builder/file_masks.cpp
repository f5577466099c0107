#include "file_masks.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace builder {
namespace {

char fold(char c)
{
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool matchesPattern(std::string_view name, std::string_view pattern)
{
    // Iterative wildcard match with one back-tracking point for the last '*'.
    std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    // A '*' in the pattern is always the wildcard, also where the name holds a '*' itself.
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
            ++n;
            ++p;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool matchesFileMask(std::string_view fileName, std::string_view maskList)
{
    while (!maskList.empty()) {
        const auto end = maskList.find(';');
        const auto pattern = maskList.substr(0, end);
        if (!pattern.empty() && matchesPattern(fileName, pattern))
            return true;
        if (end == std::string_view::npos)
            break;
        maskList.remove_prefix(end + 1);
    }
    return false;
}

std::vector<std::string> listMatchingFiles(const std::string& directory, std::string_view maskList)
{
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(directory, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        auto name = it->path().filename().string();
        if (matchesFileMask(name, maskList))
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace builder
