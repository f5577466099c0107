#include "revisions.h"

#include "texts.h"

#include <algorithm>

namespace flash {
namespace {

// "%N.Ns" of a text: at most n characters, fewer when a NUL comes first.
std::string_view upTo(std::string_view text, std::size_t n)
{
    text = text.substr(0, std::min(n, text.size()));
    const auto nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

} // namespace

void upperFourth(std::string& revision)
{
    if (revision.size() >= kRevisionLength && revision[3] >= 'a' && revision[3] <= 'z')
        revision[3] = static_cast<char>(revision[3] - 'a' + 'A');
}

std::string currentRevision(const std::array<std::uint8_t, scsi::kInquirySize>& inquiry)
{
    const std::string_view field(reinterpret_cast<const char*>(inquiry.data()) + 32, kRevisionLength);
    std::string revision(upTo(field, kRevisionLength));
    upperFourth(revision);
    return revision;
}

bool isIbmK(std::string_view revision)
{
    return revision.size() >= 3 && (revision[2] == '8' || revision[2] == '9');
}

std::string newRevision(std::string_view ownPath, bool ibmK)
{
    // The name is read only as far as its first NUL, like any C string.
    ownPath = upTo(ownPath, ownPath.size());
    const std::size_t n = ownPath.size();
    if (n < 10)
        return {};
    std::string revision;
    if (ibmK) {
        revision = upTo(ownPath.substr(n - 10), 4);
    } else {
        revision = upTo(ownPath.substr(n - 10), 2);
        revision += upTo(ownPath.substr(n - 6), 2);
    }
    upperFourth(revision);
    return revision;
}

int compareRevisions(std::string_view a, std::string_view b)
{
    a = upTo(a, a.size());
    b = upTo(b, b.size());
    // Drives report revisions in capitals, but a release's name may carry them in lower
    // case ("W2Kvq8d05.EXE"): a letter counts the same in either case, or such a release
    // would take a VQ8Z drive back to VQ8D without the warning.
    const auto upper = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
    };
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = upper(a[i]);
        const unsigned char cb = upper(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    // The shorter text meets its NUL first, and NUL is the smallest byte.
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

std::string newerWarningText(const std::string& current, const std::string& carried)
{
    return ui::localized(
        UI_TEXT("Flash", "\nWARNING:\n\nCurrent FW:%1 is newer than FW:%2.\n\nContinue update FW:%1 to FW:%2 ?\n"),
        {ui::bytesText(current), ui::bytesText(carried)});
}

std::string updateQuestionText(const std::string& current, const std::string& carried)
{
    return ui::localized(UI_TEXT("Flash", "\nUpdate FW:%1 to FW:%2 ?\n"),
                         {ui::bytesText(current), ui::bytesText(carried)});
}

} // namespace flash
