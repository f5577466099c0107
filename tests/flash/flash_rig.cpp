#include "flash_rig.h"

#include <algorithm>
#include <stdexcept>

namespace flashtest {
namespace {

std::array<std::uint8_t, flash::kImageSize> makeImage(std::uint32_t seed)
{
    std::array<std::uint8_t, flash::kImageSize> image{};
    std::uint32_t x = seed;
    for (auto& b : image) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return image;
}

// Notes its release when it goes.
class RecordedLock : public flash::PowerLock {
public:
    explicit RecordedLock(std::function<void()> released) : released_(std::move(released)) {}
    ~RecordedLock() override { released_(); }

private:
    std::function<void()> released_;
};

} // namespace

std::unique_ptr<flash::PowerLock> RecordingInhibitor::hold(const std::string& reason)
{
    why = reason;
    events.push_back(note_("taken"));
    return std::make_unique<RecordedLock>([this] { events.push_back(note_("released")); });
}

std::string RecordingInhibitor::describe(const char* what, std::size_t requests, std::size_t lines)
{
    return std::string(what) + " after " + std::to_string(requests) + " requests, " + std::to_string(lines)
        + " lines";
}

const std::array<std::uint8_t, flash::kImageSize>& ibmKImage()
{
    static const auto image = makeImage(0x8E);
    return image;
}

const std::array<std::uint8_t, flash::kImageSize>& otherImage()
{
    static const auto image = makeImage(0x10);
    return image;
}

FlashRig::FlashRig(RigOptions options)
{
    drive = std::make_shared<scsi::VirtualDrive>(options.drive);
    system.addDrive('E', drive);

    // The entry as identification leaves it.
    ui::UiLog quietLog;
    ui::ScriptedDialogs quietDialogs(quietLog);
    ui::RecordingQuit quit(quietLog);
    auto& entry = table.entries[0];
    entry.letter = 'E';
    const int openError = drive->config().openError;
    drive->config().openError = 0;
    if (!scsi::CheckInquiry(entry, access, system, quietDialogs, quit))
        throw std::runtime_error("the virtual drive was not identified as a supported one");
    drive->config().openError = openError;
    drive->clearRequests();
    opensAtStart = system.opens();

    flash::Waiter& usedWaiter = options.waiter ? *options.waiter : waiter;
    scsi::DriveSystem* drives = &system;
    if (options.throughWaitingSystem) {
        waitingSystem.emplace(system, usedWaiter);
        drives = &*waitingSystem;
    }
    procedure = std::make_unique<flash::FlashProcedure>(flash::FlashParts{
        .driveTable = table,
        .selectedIndex = [this] { return selected; },
        .access = access,
        .drives = *drives,
        .requests = requests,
        .progress = progress,
        .dialogs = dialogs,
        .status = status,
        .cursor = cursor,
        .waiter = usedWaiter,
        .restartOffer = offer,
        .inhibitor = options.inhibitor ? *options.inhibitor : inhibitor,
        .ownPath = options.ownPath,
        .slot1 = flash::ImageSlot(ibmKImage()),
        .slot2 = flash::ImageSlot(otherImage()),
    });
    dialogs.inProgress = [this] { return procedure->inProgress(); };
}

std::vector<std::uint8_t> FlashRig::opcodes() const
{
    std::vector<std::uint8_t> out;
    for (const auto& r : drive->requests())
        out.push_back(r.opcode());
    return out;
}

int FlashRig::count(std::uint8_t opcode) const
{
    const auto all = opcodes();
    return static_cast<int>(std::count(all.begin(), all.end(), opcode));
}

} // namespace flashtest
