// Firmware revisions: the drive's current one from its INQUIRY data, the carried one
// from the program's own file name, and how the two are compared and put to the user.
#pragma once

#include "drive_table.h"

#include <string>
#include <string_view>

namespace flash {

// A revision is at most four characters ("VQ8E"); the first two are the family.
inline constexpr std::size_t kRevisionLength = 4;

// Turns the fourth character to upper case; only 'a'..'z' change, the first three
// characters are left as they are.
void upperFourth(std::string& revision);

// The drive's current revision: INQUIRY data bytes 32..35, cut at the first NUL,
// fourth character upper-cased.
std::string currentRevision(const std::array<std::uint8_t, scsi::kInquirySize>& inquiry);

// The IBM-K image (slot 1) serves drives whose revision has '8' or '9' as its third
// character; every other drive gets the non-IBM-K image (slot 2).
bool isIbmK(std::string_view revision);

// The revision of the image the program carries for a drive of that variant, read from
// the last ten characters of the program's full path, which the release builder names
// "W2K%4.4s%2.2s.EXE": IBM-K takes the four characters that start ten before the end,
// non-IBM-K the first two of them and the two that start six before the end. A path of
// fewer than ten characters carries no revision: the result is then empty (the user
// sees an empty revision in the confirmation and can decline).
std::string newRevision(std::string_view ownPath, bool ibmK);

// Byte-wise comparison of two revision texts as unsigned characters, as of two
// NUL-terminated strings, with the letters a..z counted as A..Z: negative, zero or positive.
int compareRevisions(std::string_view a, std::string_view b);

// The two confirmation texts.
std::string newerWarningText(const std::string& current, const std::string& carried);
std::string updateQuestionText(const std::string& current, const std::string& carried);

} // namespace flash
