// File masks of the firmware lists: ';'-separated wildcard patterns such as
// "VQ8?.BIN;VQ9?.BIN;". '?' stands for one character, '*' for any run of characters.
// Names match case-insensitively, as file masks always did for these lists: a firmware
// file copied from removable media as vq8e.bin is still offered.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace builder {

bool matchesFileMask(std::string_view fileName, std::string_view maskList);

// The regular files of a directory (not its subdirectories) whose names match the mask,
// sorted by name. An unreadable directory gives an empty list.
std::vector<std::string> listMatchingFiles(const std::string& directory, std::string_view maskList);

} // namespace builder
