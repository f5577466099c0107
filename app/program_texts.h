// The program-wide texts and the texts that start-up shows. They are the program's own
// words and stay exactly as they stand in English, spelling included ("Buiding", "Can't
// found"); a translation words them in its own language. The names (the program's title
// and version, the model, the firmware range, the template's file name) are never
// translated.
#pragma once

#include "texts.h"

#include <string>

namespace app {

inline constexpr const char* kTitleWithVersion = "Korvane  Flash utility   V1.015 ";
inline constexpr const char* kTemplateFileName = "W2KVQXXXX.EXE";
inline constexpr const char* kModel = "QVX-5500";
inline constexpr const char* kFirmwareRange = "VQ00~VQ9Z";
// The name of the application as a whole (task bar, desktop entry); never part of a
// window caption.
inline constexpr const char* kApplicationTitle = "Korvane Flash utility for QVX5500 on Win2000 & NT";

inline constexpr ui::Text kBuildModeSuffix = UI_TEXT("MainForm", " [Buiding]");
inline constexpr ui::Text kSelectDriveText = UI_TEXT("MainForm", "Select drive you want to flash:");
inline constexpr ui::Text kSelectIbmKText = UI_TEXT("MainForm", "Select IBM-K BIN file.");
inline constexpr ui::Text kSelectNonIbmKText = UI_TEXT("MainForm", "Select NonIBM-K BIN file.");
inline constexpr ui::Text kIbmKListHint = UI_TEXT("MainForm", "Select IBM-K BIN file.");
inline constexpr ui::Text kNonIbmKListHint = UI_TEXT("MainForm", "Select Non IBM-K BIN file.");
inline constexpr ui::Text kFlashCaption = UI_TEXT("MainForm", "Flash");
inline constexpr ui::Text kBuildCaption = UI_TEXT("MainForm", "Build");
inline constexpr ui::Text kWrongSystemText = UI_TEXT("MainForm", "O.S must be WinNT or Win2000.");

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
