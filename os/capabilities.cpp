#include "capabilities.h"

#include <charconv>
#include <cstdint>
#include <fstream>
#include <sstream>

namespace os {

bool effectiveCapabilityHeld(std::string_view procStatus, unsigned capability)
{
    constexpr std::string_view key = "CapEff:";
    while (!procStatus.empty()) {
        const std::size_t end = procStatus.find('\n');
        std::string_view line = procStatus.substr(0, end);
        procStatus.remove_prefix(end == std::string_view::npos ? procStatus.size() : end + 1);
        if (!line.starts_with(key))
            continue;
        line.remove_prefix(key.size());
        while (!line.empty() && (line.front() == '\t' || line.front() == ' '))
            line.remove_prefix(1);
        std::uint64_t mask = 0;
        const auto parsed = std::from_chars(line.data(), line.data() + line.size(), mask, 16);
        // The first such line decides; one that cannot be read grants nothing.
        if (parsed.ec != std::errc{} || capability >= 64)
            return false;
        return ((mask >> capability) & 1u) != 0;
    }
    return false;
}

std::string ownProcStatus()
{
    std::ifstream file("/proc/self/status");
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace os
