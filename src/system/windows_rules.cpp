#include "system/windows_rules.hpp"

#include <algorithm>
#include <cwctype>

namespace {

std::wstring upper(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towupper(static_cast<std::wint_t>(c)));
    return text;
}

bool startsWith(const std::wstring& text, const wchar_t* start) { return text.rfind(start, 0) == 0; }

} // namespace

bool refusesReparseTag(std::uint32_t tag)
{
    constexpr std::uint32_t nameSurrogate = 0x20000000; // IsReparseTagNameSurrogate
    constexpr std::uint32_t wslSpecial[] = {0x80000023, 0x80000024, 0x80000025, 0x80000026}; // AF_UNIX, LX_FIFO, LX_CHR, LX_BLK
    return (tag & nameSurrogate) != 0 || std::find(std::begin(wslSpecial), std::end(wslSpecial), tag) != std::end(wslSpecial);
}

bool fileIdKnown(const std::string& id)
{
    return !id.empty() && id != std::string(id.size(), '\0') && id != std::string(id.size(), '\xFF');
}

bool sameFile(const FileIdentity& a, const FileIdentity& b)
{
    if (fileIdKnown(a.id) && fileIdKnown(b.id) && a.id.size() == b.id.size())
        return a.volume == b.volume && a.id == b.id;
    if (!a.finalPath.empty() && !b.finalPath.empty() && a.links == 1 && b.links == 1)
        return a.finalPath == b.finalPath;
    return true;
}

std::wstring folderOf(const std::wstring& full)
{
    const std::size_t cut = full.rfind(L'\\');
    if (cut == std::wstring::npos)
        return full;
    const std::wstring bare = full.substr(0, cut);
    std::wstring share; // what follows a network path's start: server\share\...
    if (startsWith(upper(bare), L"\\\\?\\UNC\\"))
        share = bare.substr(8);
    else if (startsWith(bare, L"\\\\") && !startsWith(bare, L"\\\\?\\") && !startsWith(bare, L"\\\\.\\"))
        share = bare.substr(2);
    const bool root = (!bare.empty() && bare.back() == L':') ||
                      (!share.empty() && std::count(share.begin(), share.end(), L'\\') == 1);
    return root ? bare + L'\\' : bare;
}

bool standsIn(const std::wstring& folderFinalPath, const std::wstring& fileFinalPath)
{
    if (folderFinalPath.empty() || fileFinalPath.empty())
        return true;
    // A drive's root is given with its backslash (\\?\C:\), any other folder without.
    const std::wstring folder =
        folderFinalPath.back() == L'\\' ? folderFinalPath.substr(0, folderFinalPath.size() - 1) : folderFinalPath;
    const std::size_t cut = fileFinalPath.rfind(L'\\');
    return cut == folder.size() && fileFinalPath.compare(0, cut, folder) == 0;
}

bool takesNoBestFit(unsigned codePage)
{
    // Code pages that take no flags at all, or only WC_ERR_INVALID_CHARS (UTF-8, GB18030).
    const unsigned none[] = {42, 50220, 50221, 50222, 50225, 50227, 50229, 54936, 65000, 65001};
    return !(codePage >= 57002 && codePage <= 57011) && std::find(std::begin(none), std::end(none), codePage) == std::end(none);
}

unsigned pipedNameCodePage(unsigned ansi, unsigned oem, const std::function<bool(unsigned codePage)>& namesFile)
{
    return oem == ansi || namesFile(ansi) || !namesFile(oem) ? ansi : oem;
}

bool keepsDaclOfInput(bool hasDacl, bool isProtected, const std::vector<unsigned char>& aceFlags)
{
    constexpr unsigned char inherited = 0x10; // INHERITED_ACE
    // An empty DACL shuts out everyone but the owner: private too.
    return hasDacl && (isProtected || aceFlags.empty() ||
                       std::any_of(aceFlags.begin(), aceFlags.end(), [](unsigned char f) { return (f & inherited) == 0; }));
}

bool isDevicePath(const std::wstring& full)
{
    std::wstring rest;
    if (startsWith(full, L"\\\\.\\") || startsWith(full, L"\\\\?\\")) {
        rest = full.substr(4);
        const bool drivePath = rest.size() > 3 && std::iswalpha(static_cast<std::wint_t>(rest[0])) && rest[1] == L':' &&
                               rest[2] == L'\\';
        const bool volumePath = startsWith(upper(rest), L"VOLUME{") && rest.find(L"}\\") != std::wstring::npos;
        if (drivePath || volumePath)
            return false;
        if (!startsWith(upper(rest), L"UNC\\"))
            return true;
        rest = rest.substr(4);
    } else if (startsWith(full, L"\\\\")) {
        rest = full.substr(2);
    } else {
        return false;
    }
    // \\server\share\...: a share named so is the server's pipes or mailslots.
    const std::size_t share = rest.find(L'\\');
    if (share == std::wstring::npos)
        return false;
    const std::wstring name = upper(rest.substr(share + 1, rest.find(L'\\', share + 1) - share - 1));
    return name == L"PIPE" || name == L"MAILSLOT";
}

bool namesStream(const std::wstring& full)
{
    std::wstring rest = full;
    if (startsWith(rest, L"\\\\?\\") || startsWith(rest, L"\\\\.\\"))
        rest = rest.substr(4);
    else if (startsWith(rest, L"\\\\"))
        rest = L"UNC\\" + rest.substr(2);
    std::size_t root = std::wstring::npos;
    if (startsWith(upper(rest), L"UNC\\")) { // server and share
        root = rest.find(L'\\', 4);
        root = root == std::wstring::npos ? root : rest.find(L'\\', root + 1);
    } else if (rest.size() >= 2 && rest[1] == L':') { // C:
        root = 2;
    } else { // Volume{GUID}
        root = rest.find(L'\\');
    }
    return root != std::wstring::npos && rest.find(L':', root) != std::wstring::npos;
}

namespace {

constexpr unsigned long encrypted = 0x4000; // FILE_ATTRIBUTE_ENCRYPTED
constexpr unsigned long normal = 0x80;      // FILE_ATTRIBUTE_NORMAL

} // namespace

unsigned long newCopyAttributes(unsigned long inputAttributes)
{
    return (inputAttributes & encrypted) != 0 ? encrypted : normal;
}

bool keepsEncryption(unsigned long inputAttributes, unsigned long copyAttributes)
{
    return (inputAttributes & encrypted) == 0 || (copyAttributes & encrypted) != 0;
}

unsigned long carriedAttributes(unsigned long inputAttributes)
{
    constexpr unsigned long readOnly = 0x1; // FILE_ATTRIBUTE_READONLY
    return inputAttributes & readOnly;
}

unsigned messagesCodePage(unsigned consoleOutput, unsigned ansi) { return consoleOutput != 0 ? consoleOutput : ansi; }

bool opensOnlyByExactPath(const std::wstring& leaf) { return !leaf.empty() && (leaf.back() == L'.' || leaf.back() == L' '); }

std::vector<CommandWord> commandLineWords(const std::string& line)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t at = 0;
    // The program's name runs to the first blank outside quotes; a backslash is a backslash there.
    for (bool quoted = false; at < line.size() && (quoted || !blank(line[at])); ++at)
        quoted = line[at] == '"' ? !quoted : quoted;
    std::vector<CommandWord> words;
    for (;;) {
        while (at < line.size() && blank(line[at]))
            ++at;
        if (at == line.size())
            return words;
        CommandWord word;
        for (bool quoted = false; at < line.size() && (quoted || !blank(line[at]));) {
            std::size_t slashes = 0;
            for (; at < line.size() && line[at] == '\\'; ++at)
                ++slashes;
            if (at < line.size() && line[at] == '"') {
                // 2n backslashes and a quote: n backslashes, and the quote opens or closes;
                // 2n+1: n and a quote. In quotes, two quotes are one.
                word.text.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    word.text += '"';
                } else if (quoted && at + 1 < line.size() && line[at + 1] == '"') {
                    word.text += '"';
                    ++at;
                } else {
                    quoted = !quoted;
                }
                ++at;
            } else if (slashes > 0) {
                word.text.append(slashes, '\\');
            } else {
                word.quotedWildcard = word.quotedWildcard || (quoted && (line[at] == '*' || line[at] == '?'));
                word.text += line[at++];
            }
        }
        words.push_back(word);
    }
}

bool waitsForEnter(const Start& start)
{
    return start.namesGiven && start.consoleProcesses == 1 && start.stationVisible && start.hasWindow &&
           !start.startedHidden && start.inputIsConsole && start.outputIsConsole;
}
