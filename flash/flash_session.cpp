#include "flash_session.h"

namespace flash {

FlashSession::FlashSession(FlashWindow window, FlashState state, Waiter& waiter, RestartSystem& restart,
                           PowerInhibitor& inhibitor, ImageSlot slot1, ImageSlot slot2)
    : window_(std::move(window)),
      drives_(state.drives, waiter),
      requests_(state.access, state.progress, window_.dialogs),
      offer_(window_.dialogs, window_.status, window_.cursor, restart, &waiter),
      procedure_(FlashParts{
          .driveTable = state.driveTable,
          .selectedIndex = window_.selectedIndex,
          .access = state.access,
          .drives = drives_,
          .requests = requests_,
          .progress = state.progress,
          .dialogs = window_.dialogs,
          .status = window_.status,
          .cursor = window_.cursor,
          .waiter = waiter,
          .restartOffer = offer_,
          .inhibitor = inhibitor,
          .ownPath = std::move(state.ownPath),
          .slot1 = slot1,
          .slot2 = slot2,
      })
{
}

FlashReport FlashSession::click()
{
    if (procedure_.inProgress())
        return {};
    struct Enable {
        const std::function<void(bool)>& set;
        explicit Enable(const std::function<void(bool)>& s) : set(s)
        {
            if (set)
                set(false);
        }
        ~Enable()
        {
            if (set)
                set(true);
        }
    } button(window_.setButtonEnabled);
    return procedure_.run();
}

} // namespace flash
