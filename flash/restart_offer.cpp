#include "restart_offer.h"

namespace flash {

RestartOutcome RestartOffer::run()
{
    RestartOutcome outcome = RestartOutcome::Declined;
    const ui::Button answer = dialogs_.messageDialog(
        kRestartQuestion, ui::DialogKind::Confirmation, {ui::Button::Yes, ui::Button::No});
    if (answer == ui::Button::Yes) {
        if (!system_.openSession().ok) {
            dialogs_.messageBox(kExitError, kOpenSessionFailed);
            outcome = RestartOutcome::OpenSessionFailed;
        } else if (!system_.lookupRebootRight().ok) {
            dialogs_.messageBox(kExitError, kLookupRightFailed);
            outcome = RestartOutcome::LookupFailed;
        } else if (!system_.enableRebootRight().ok) {
            dialogs_.messageBox(kExitError, kEnableRightFailed);
            outcome = RestartOutcome::EnableFailed;
        } else {
            cursor_.setBusy(false);
            // The program does not close itself; the system ends it as it goes down.
            system_.reboot();
            outcome = RestartOutcome::RebootRequested;
        }
    }
    status_.setCaption("");
    return outcome;
}

} // namespace flash
