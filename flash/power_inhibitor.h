// Keeps the machine running and awake while the drive takes its new firmware: a drive that
// loses power, or a machine that suspends or shuts down, before the closing WRITE BUFFER has
// been answered can be left without working firmware. The system's side sits behind this
// seam; tests hand in a recording stand-in.
#pragma once

#include "texts.h"

#include <memory>
#include <string>

namespace flash {

// Why the flash asks; the desktop shows it, in the user's language, to a user who tries to
// shut down or suspend.
inline constexpr ui::Text kInhibitReason =
    UI_TEXT("Flash", "Writing new firmware to the drive; an interruption can leave it unusable");

// Held for as long as it lives.
class PowerLock {
public:
    virtual ~PowerLock() = default;
};

class PowerInhibitor {
public:
    virtual ~PowerInhibitor() = default;

    // Asks the system not to shut down, restart, suspend or go idle until the returned lock
    // is destroyed. Null when there was nobody to ask or the system refused: the
    // implementation has said why, and the flash goes on without the lock.
    virtual std::unique_ptr<PowerLock> hold(const std::string& why) = 0;
};

} // namespace flash
