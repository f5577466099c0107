// The program-wide texts and the texts that start-up shows. They are the program's own
// words and stay exactly as they stand, spelling included ("Buiding", "Can't found").
#pragma once

#include <string>

namespace app {

inline constexpr const char* kTitleWithVersion = "Korvane  Flash utility   V1.015 ";
inline constexpr const char* kTemplateFileName = "W2KVQXXXX.EXE";
inline constexpr const char* kModel = "QVX-5500";
inline constexpr const char* kFirmwareRange = "VQ00~VQ9Z";
// The name of the application as a whole (task bar, desktop entry); never part of a
// window caption.
inline constexpr const char* kApplicationTitle = "Korvane Flash utility for QVX5500 on Win2000 & NT";

inline constexpr const char* kBuildModeSuffix = " [Buiding]";
inline constexpr const char* kSelectDriveText = "Select drive you want to flash:";
inline constexpr const char* kSelectIbmKText = "Select IBM-K BIN file.";
inline constexpr const char* kSelectNonIbmKText = "Select NonIBM-K BIN file.";
inline constexpr const char* kIbmKListHint = "Select IBM-K BIN file.";
inline constexpr const char* kNonIbmKListHint = "Select Non IBM-K BIN file.";
inline constexpr const char* kFlashCaption = "Flash";
inline constexpr const char* kBuildCaption = "Build";
inline constexpr const char* kWrongSystemText = "O.S must be WinNT or Win2000.";

// Build mode: title-with-version + model + " [Buiding]".
std::string buildModeCaption();

// " [%6.6s]" over the own full path from 10 characters before its end. A path shorter
// than 10 characters is read from its start instead (never before it), so the suffix
// shows its first 6 characters, blank-padded on the left as %6.6s pads.
std::string captionSuffix(const std::string& ownPath);

// Flash mode: title-with-version + model + suffix.
std::string flashModeCaption(const std::string& ownPath);

// The start-up warning that the user must answer with Yes.
std::string startWarningText();

// The head of the no-drive error text; each detected but unsupported drive's label and
// a line feed follow it.
std::string noDriveErrorHead();

} // namespace app
