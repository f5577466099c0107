// The process's capabilities as the kernel shows them in /proc/self/status.
#pragma once

#include <string>
#include <string_view>

namespace os {

// Whether the effective set ("CapEff:", a hexadecimal mask) of a /proc/<pid>/status text
// holds the capability with this bit number (CAP_SYS_RAWIO is 17, CAP_SYS_BOOT 22). A text
// without that line, or with a mask that cannot be read, holds none.
bool effectiveCapabilityHeld(std::string_view procStatus, unsigned capability);

// The text of this process's /proc/self/status; empty when it cannot be read.
std::string ownProcStatus();

} // namespace os
