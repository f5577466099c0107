// The folder form of the virtual drives: drive descriptions in text files, the saved
// firmware written back beside them.
#include "virtual_drive.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace scsi {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDescriptionFile = "drive";
constexpr const char* kFirmwareFile = "firmware.bin";

std::string trim(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool parseNumber(const std::string& text, unsigned long& value, int base = 10)
{
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    return ec == std::errc{} && ptr == end;
}

bool parseByte(const std::string& text, std::uint8_t& value, int base = 10)
{
    unsigned long v = 0;
    if (!parseNumber(text, v, base) || v > 255)
        return false;
    value = static_cast<std::uint8_t>(v);
    return true;
}

bool parseError(const std::string& text, int& error)
{
    unsigned long v = 0;
    if (!parseNumber(text, v) || v == 0 || v > 4095)
        return false;
    error = static_cast<int>(v);
    return true;
}

std::vector<std::string> split(const std::string& text, char sep)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto at = text.find(sep, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

// "<n>" or "<n>@<opcode hex>"
bool parseWhen(const std::string& text, Fault& fault)
{
    const auto parts = split(text, '@');
    unsigned long n = 0;
    if (parts.size() > 2 || !parseNumber(parts[0], n) || n == 0 || n > 1000000)
        return false;
    fault.atRequest = static_cast<unsigned>(n);
    if (parts.size() == 2) {
        std::uint8_t opcode = 0;
        if (!parseByte(parts[1], opcode, 16))
            return false;
        fault.opcode = opcode;
    }
    return true;
}

bool parseFault(const std::string& value, VirtualDriveDescription& d)
{
    const auto eq = value.find('=');
    const std::string name = value.substr(0, eq);
    const std::string arg = eq == std::string::npos ? std::string() : value.substr(eq + 1);
    if (name == "never-ready" && eq == std::string::npos) {
        d.config.neverReady = true;
        return true;
    }
    if (name == "disc-stays-in" && eq == std::string::npos) {
        d.config.discStaysIn = true;
        return true;
    }
    if (name == "open-error")
        return parseError(arg, d.config.openError);
    if (name == "inquiry-data-error")
        return parseError(arg, d.config.inquiryDataError);

    const auto colon = arg.find(':');
    const std::string when = arg.substr(0, colon);
    const std::string rest = colon == std::string::npos ? std::string() : arg.substr(colon + 1);
    const bool hasRest = colon != std::string::npos;
    Fault f;
    if (!parseWhen(when, f))
        return false;
    if (name == "vanish-at" && !hasRest) {
        f.kind = Fault::Kind::Vanish;
        f.error = kVanishedCallError;
    } else if (name == "timeout-at" && !hasRest) {
        f.kind = Fault::Kind::TimeOut;
        f.error = kTimedOutError;
    } else if (name == "refuse-at" && hasRest) {
        f.kind = Fault::Kind::Refused;
        if (!parseError(rest, f.error))
            return false;
    } else if (name == "check-at" && hasRest) {
        f.kind = Fault::Kind::CheckCondition;
        const auto codes = split(rest, '/');
        if (codes.size() != 3 || !parseByte(codes[0], f.sense.key, 16)
            || !parseByte(codes[1], f.sense.asc, 16) || !parseByte(codes[2], f.sense.ascq, 16))
            return false;
    } else if (name == "short-read-at" && hasRest) {
        f.kind = Fault::Kind::ShortRead;
        unsigned long missing = 0;
        if (!parseNumber(rest, missing) || missing == 0 || missing > 0xFFFFFF)
            return false;
        f.missingBytes = static_cast<std::uint32_t>(missing);
    } else if (name == "corrupt-read-at" && hasRest) {
        f.kind = Fault::Kind::CorruptRead;
        unsigned long offset = 0;
        if (!parseNumber(rest, offset) || offset > 0xFFFFFF)
            return false;
        f.corruptOffset = static_cast<std::uint32_t>(offset);
    } else {
        return false;
    }
    d.faults.push_back(f);
    return true;
}

bool parseType(const std::string& value, DriveType& type)
{
    static const std::pair<const char*, DriveType> kTypes[] = {
        {"cdrom", DriveType::CdRom},     {"fixed", DriveType::Fixed},
        {"removable", DriveType::Removable}, {"remote", DriveType::Remote},
        {"ramdisk", DriveType::RamDisk},
    };
    for (const auto& [name, t] : kTypes) {
        if (value == name) {
            type = t;
            return true;
        }
    }
    return false;
}

// Writes the saved firmware beside the description: to a temporary file first, so a full
// disk never leaves a cut-off firmware.bin behind.
bool saveFirmware(const fs::path& folder, std::span<const std::uint8_t> firmware)
{
    const fs::path target = folder / kFirmwareFile;
    const fs::path temporary = folder / (std::string(kFirmwareFile) + ".tmp");
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(firmware.data()),
                  static_cast<std::streamsize>(firmware.size()));
        out.flush();
        if (!out) {
            std::cerr << "virtual drive " << folder.string() << ": cannot write "
                      << temporary.string() << "\n";
            out.close();
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, target, ec);
    if (ec) {
        std::cerr << "virtual drive " << folder.string() << ": cannot write " << target.string()
                  << ": " << ec.message() << "\n";
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

} // namespace

VirtualDriveDescription parseVirtualDriveDescription(const std::string& text)
{
    VirtualDriveDescription d;
    std::istringstream in(text);
    std::string raw;
    int lineNumber = 0;
    while (std::getline(in, raw)) {
        ++lineNumber;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        const std::string line = trim(raw);
        if (line.empty() || line[0] == '#')
            continue;
        const auto eq = line.find('=');
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (eq == std::string::npos) {
            d.problems.push_back(where + "expected key=value");
            continue;
        }
        const std::string key = trim(line.substr(0, eq));
        // Field values keep inner and trailing blanks as written (the drive pads them anyway).
        const std::string value = raw.substr(raw.find('=') + 1);
        const std::string bare = trim(value);
        bool ok = true;
        if (key == "vendor") {
            ok = value.size() <= 8;
            d.config.vendor = value;
        } else if (key == "product") {
            ok = value.size() <= 16;
            d.config.product = value;
        } else if (key == "revision") {
            ok = value.size() <= 4;
            d.config.revision = value;
        } else if (key == "address") {
            const auto parts = split(bare, '-');
            ok = parts.size() == 3 && parseByte(parts[0], d.config.path)
                && parseByte(parts[1], d.config.target) && parseByte(parts[2], d.config.lun);
        } else if (key == "disc") {
            ok = bare == "yes" || bare == "no";
            d.config.discPresent = bare == "yes";
        } else if (key == "type") {
            ok = parseType(bare, d.type);
        } else if (key == "fault") {
            ok = parseFault(bare, d);
        } else {
            d.problems.push_back(where + "unknown key '" + key + "'");
            continue;
        }
        if (!ok)
            d.problems.push_back(where + "bad value for " + key + ": '" + value + "'");
    }
    return d;
}

FolderDrive loadVirtualDriveFolder(const std::string& folder)
{
    const fs::path dir(folder);
    VirtualDriveDescription d;
    std::ifstream in(dir / kDescriptionFile, std::ios::binary);
    if (!in) {
        d.problems.push_back(std::string("cannot read ") + kDescriptionFile);
    } else {
        std::ostringstream text;
        text << in.rdbuf();
        d = parseVirtualDriveDescription(text.str());
    }
    if (!d.problems.empty()) {
        for (const std::string& p : d.problems)
            std::cerr << "virtual drive " << dir.string() << ": " << p << "\n";
        // Listed, so the user sees it, but unusable until its description is mended.
        d.config.openError = EINVAL;
    }
    auto drive = std::make_shared<VirtualDrive>(d.config);
    for (const Fault& f : d.faults)
        drive->addFault(f);
    drive->setOnSave([dir](std::span<const std::uint8_t> firmware) { return saveFirmware(dir, firmware); });
    return FolderDrive{std::move(drive), d.type, d.problems.empty()};
}

std::string virtualDrivesFolder()
{
    const char* folder = std::getenv(kVirtualDrivesVariable);
    return folder != nullptr ? folder : "";
}

std::unique_ptr<DriveSystem> makeFolderDriveSystem(const std::string& folder)
{
    auto system = std::make_unique<VirtualDriveSystem>();
    std::error_code ec;
    std::vector<fs::path> drives;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_directory(ec))
            drives.push_back(it->path());
    }
    if (ec)
        std::cerr << "virtual drives: cannot read folder " << folder << ": " << ec.message() << "\n";
    std::sort(drives.begin(), drives.end());

    char letter = 'D';
    for (const fs::path& dir : drives) {
        if (letter > 'Z') {
            std::cerr << "virtual drives: no drive letter left for " << dir.string() << "\n";
            break;
        }
        FolderDrive loaded = loadVirtualDriveFolder(dir.string());
        system->addDrive(letter, loaded.type, std::move(loaded.drive), dir.string());
        ++letter;
    }
    return system;
}

} // namespace scsi
