// Windows: names typed at a console or given as arguments arrive as UTF-16 and
// are kept as UTF-8, so that files in any script open and show as typed. Names
// through a pipe or a file are read as their list was saved: after a UTF-8 or
// UTF-16 mark in that encoding, else each word in UTF-8 where it is valid UTF-8
// and in the ANSI code page otherwise, as scripts have always fed them (in the
// OEM one where only that names a file, as cmd's own commands write them).
// Files are handles, read and written as they are, without the C runtime's text
// mode, whose stop at a Ctrl-Z byte would lose the rest of a file.

#include "system/system.hpp"

#include "console/progress.hpp"
#include "console/terminal_text.hpp"
#include "copy/name.hpp"
#include "names/utf8.hpp"
#include "system/long_path.hpp"
#include "system/pending_name.hpp"
#include "system/windows_rules.hpp"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <cstring>
#include <streambuf>
#include <utility>
#include <vector>

namespace sys {

const Style& hostStyle() { return Style::windows; }

namespace {

std::wstring widen(const std::string& text, UINT codePage)
{
    const int size = static_cast<int>(text.size());
    // UTF-8 takes any bytes, so a name is never shown as nothing.
    for (const UINT page : {codePage, UINT{CP_UTF8}}) {
        const int length = size == 0 ? 0 : MultiByteToWideChar(page, 0, text.data(), size, nullptr, 0);
        if (length > 0) {
            std::wstring wide(static_cast<std::size_t>(length), L'\0');
            MultiByteToWideChar(page, 0, text.data(), size, &wide[0], length);
            return wide;
        }
    }
    return std::wstring();
}

std::string narrow(const wchar_t* text, std::size_t length, UINT codePage)
{
    const int size = static_cast<int>(length);
    const UINT page = codePage == CP_ACP ? GetACP() : codePage;
    // A character the code page lacks becomes "?", not a look-alike that names another
    // file, where the code page takes that flag; failing that, plainly, and last in
    // UTF-8: a message is never left empty.
    const std::pair<UINT, DWORD> tries[] = {
        {page, takesNoBestFit(page) ? WC_NO_BEST_FIT_CHARS : 0}, {page, 0}, {CP_UTF8, 0}};
    for (const auto& [into, flags] : tries) {
        const int bytes = size == 0 ? 0 : WideCharToMultiByte(into, flags, text, size, nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            std::string narrowed(static_cast<std::size_t>(bytes), '\0');
            WideCharToMultiByte(into, flags, text, size, &narrowed[0], bytes, nullptr, nullptr);
            return narrowed;
        }
    }
    return std::string();
}

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// What a person types at the console, read as UTF-16 and handed out as UTF-8.
// Ctrl-Z ends the input where it stands, as it always has at a Windows console.
class ConsoleInput : public Bytes {
protected:
    int_type underflow() override
    {
        while (!ended_) {
            wchar_t typed[1024];
            const DWORD room = static_cast<DWORD>(sizeof typed / sizeof typed[0]) - 1;
            DWORD got = 0;
            typed[0] = held_;
            const DWORD start = held_ != 0 ? 1 : 0;
            if (!ReadConsoleW(GetStdHandle(STD_INPUT_HANDLE), typed + start, room - start, &got, nullptr) || got == 0) {
                ended_ = true;
                break;
            }
            got += start;
            held_ = 0;
            // Half of a character beyond U+FFFF waits for its other half.
            if (typed[got - 1] >= 0xD800 && typed[got - 1] <= 0xDBFF)
                held_ = typed[--got];
            std::wstring line;
            for (DWORD i = 0; i < got && !ended_; ++i) {
                if (typed[i] == 0x1A)
                    ended_ = true;
                else if (typed[i] != L'\r')
                    line += typed[i];
            }
            text_ = narrow(line.data(), line.size(), CP_UTF8);
            if (!text_.empty()) {
                setg(&text_[0], &text_[0], &text_[0] + text_.size());
                return traits_type::to_int_type(text_[0]);
            }
        }
        return traits_type::eof();
    }

private:
    std::string text_;
    wchar_t held_ = 0;
    bool ended_ = false;
};

// The command line's words, as the C runtime splits them.
std::vector<CommandWord> commandWords()
{
    const wchar_t* line = GetCommandLineW();
    return commandLineWords(narrow(line, wcslen(line), CP_UTF8));
}

} // namespace

namespace {

// The cells of the progress line on the console now, for a stop to blank them.
std::atomic<std::size_t> lineCells{0};
// Set while a copy takes its name: cleared of its mark for deletion, not yet renamed.
std::atomic<bool> publishing{false};

// Ctrl-C, Ctrl-Break, a closed window, a logoff: the progress line goes before the
// tool does, as the handlers after this one end it, and a copy taking its name
// takes it first (it takes a moment).
BOOL WINAPI stopping(DWORD)
{
    while (publishing)
        Sleep(1);
    const std::size_t cells = lineCells.exchange(0);
    if (cells > 0) {
        const std::wstring blank = L"\r" + std::wstring(cells, L' ') + L"\r";
        DWORD written = 0;
        WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), blank.data(), static_cast<DWORD>(blank.size()), &written, nullptr);
    }
    return FALSE;
}

} // namespace

std::vector<Argument> startUp(int, char**)
{
    SetConsoleCtrlHandler(stopping, TRUE);
    std::vector<Argument> arguments;
    // A quoted wildcard is taken as it stands, as by the C runtime's own expansion.
    for (const CommandWord& word : commandWords())
        arguments.push_back({word.text, word.text.find_first_of("*?") != std::string::npos && !word.quotedWildcard});
    return arguments;
}

// A write to a closed pipe fails on Windows, and ends nothing.
void goOnWithoutReader() {}

namespace {

// The 32-bit build on 64-bit Windows: System32 means System32, not SysWOW64, while it lives.
class Unredirected {
public:
    Unredirected() : off_(Wow64DisableWow64FsRedirection(&old_) != 0) {}
    ~Unredirected()
    {
        if (off_)
            Wow64RevertWow64FsRedirection(old_);
    }
    Unredirected(const Unredirected&) = delete;
    Unredirected& operator=(const Unredirected&) = delete;

private:
    PVOID old_ = nullptr;
    bool off_;
};

std::wstring fullPath(const std::wstring& name)
{
    const DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetFullPathNameW(name.c_str(), size, &full[0], nullptr);
    full.resize(length < size ? length : 0);
    return full;
}

// The name as the system opens it: its full path after \\?\ when it is long. Empty for a
// name in the device namespace, which is never opened: opening a serial port resets what
// hangs on it, opening a pipe connects to it.
std::wstring systemName(const std::string& name, UINT codePage)
{
    const std::wstring wide = widen(name, codePage);
    const std::wstring full = fullPath(wide);
    return full.empty() || isDevicePath(full) ? std::wstring() : pathToOpen(wide, full);
}

// The code page that a name from a list without a byte-order mark, not UTF-8,
// names a file in, and the name in UTF-8.
UINT takePipedName(std::string& name)
{
    const UINT console = GetConsoleOutputCP();
    const UINT page = pipedNameCodePage(GetACP(), console != 0 ? console : GetOEMCP(), [&name](unsigned page) {
        const std::wstring path = systemName(name, page);
        Unredirected unredirected;
        return !path.empty() && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    });
    const std::wstring wide = widen(name, page);
    name = narrow(wide.data(), wide.size(), CP_UTF8);
    return page;
}

std::vector<std::string> filesMatching(const std::string& name)
{
    const std::wstring wide = widen(name, CP_UTF8);
    const std::size_t cut = wide.find_last_of(L"\\/:");
    const std::wstring folder = cut == std::wstring::npos ? L"" : wide.substr(0, cut + 1);
    const std::wstring copies = widen(copySuffix, CP_UTF8);
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    const std::wstring pattern = systemName(name, CP_UTF8);
    Unredirected unredirected;
    const HANDLE search = pattern.empty() ? INVALID_HANDLE_VALUE
                                          : FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                                             FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring leaf = entry.cFileName;
            const bool copy = leaf.size() >= copies.size() &&
                              CompareStringOrdinal(leaf.c_str() + leaf.size() - copies.size(), -1, copies.c_str(), -1,
                                                   TRUE) == CSTR_EQUAL;
            // What the system's search finds, as Windows programs take it (*.* takes README too).
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && !copy)
                found.push_back(leaf);
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    std::sort(found.begin(), found.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
    });
    std::vector<std::string> files;
    for (const std::wstring& leaf : found) {
        std::wstring path = folder + leaf;
        if (opensOnlyByExactPath(leaf)) {
            std::wstring base = fullPath(folder.empty() ? L".\\" : folder);
            if (!base.empty() && base.back() != L'\\')
                base += L'\\';
            path = extendedPath(base + leaf);
        }
        files.push_back(narrow(path.data(), path.size(), CP_UTF8));
    }
    return files;
}

} // namespace

std::vector<std::string> filesNamed(const std::vector<Argument>& names)
{
    std::vector<std::string> files;
    for (const Argument& name : names) {
        const std::vector<std::string> found = name.pattern ? filesMatching(name.text) : std::vector<std::string>();
        if (found.empty())
            files.push_back(name.text);
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

void keepWindowOpen(bool namesGiven)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD processes[2];
    USEROBJECTFLAGS station{};
    STARTUPINFOW started{};
    GetStartupInfoW(&started);
    Start start;
    start.namesGiven = namesGiven;
    start.consoleProcesses = GetConsoleProcessList(processes, 2);
    start.stationVisible = GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &station, sizeof station,
                                                     nullptr) &&
                           (station.dwFlags & WSF_VISIBLE) != 0;
    start.hasWindow = GetConsoleWindow() != nullptr;
    start.startedHidden = (started.dwFlags & STARTF_USESHOWWINDOW) != 0 && started.wShowWindow == SW_HIDE;
    start.inputIsConsole = isConsole(input);
    start.outputIsConsole = isConsole(GetStdHandle(STD_OUTPUT_HANDLE));
    if (!waitsForEnter(start))
        return;
    show(stdout, "Press Enter to close this window.", argumentsEncoding);
    wchar_t typed[256];
    DWORD got = 0;
    while (ReadConsoleW(input, typed, 256, &got, nullptr) && got > 0 && typed[got - 1] != L'\n') {
    }
}

bool terminalReadsUtf8() { return true; } // a console is written in UTF-16

bool namesTypedAtTerminal() { return isConsole(GetStdHandle(STD_INPUT_HANDLE)); }

// A console shows what is typed only while the tool reads it, so after the prompt.
bool prompt(const std::string& text)
{
    show(stdout, text, argumentsEncoding);
    return false;
}

bool isTerminal(std::FILE* stream)
{
    return isConsole(GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE));
}

const Encoding argumentsEncoding{messagesCodePage(GetConsoleOutputCP(), GetACP())};

namespace {

// Standard input's bytes from a pipe or a file, read as they are: no text mode,
// so that a UTF-16 list arrives whole.
class PipedInput : public Bytes {
protected:
    int_type underflow() override
    {
        for (;;) {
            DWORD got = 0;
            const bool read = ReadFile(GetStdHandle(STD_INPUT_HANDLE), bytes_, sizeof bytes_, &got, nullptr) != 0;
            if (read && got > 0) {
                setg(bytes_, bytes_, bytes_ + got);
                return traits_type::to_int_type(bytes_[0]);
            }
            const DWORD error = read ? ERROR_HANDLE_EOF : GetLastError();
            // A pipe left in PIPE_NOWAIT mode by whoever started the tool: nothing yet is no end.
            if (error != ERROR_NO_DATA) {
                failed_ = error != ERROR_HANDLE_EOF && error != ERROR_BROKEN_PIPE;
                return traits_type::eof();
            }
            Sleep(10);
        }
    }

private:
    char bytes_[4096];
};

} // namespace

Bytes& standardInput()
{
    if (isConsole(GetStdHandle(STD_INPUT_HANDLE))) {
        static ConsoleInput console;
        return console;
    }
    static PipedInput piped;
    return piped;
}

HeldName takeName(std::string read, NamesMark mark, bool typed)
{
    // Typed at the console, and after a mark, a name is UTF-8 by now. Without a mark each name
    // tells: text in an ANSI code page with letters beyond ASCII is almost never valid UTF-8.
    if (typed)
        return {std::move(read), argumentsEncoding};
    if (mark != NamesMark::none || isUtf8BeyondAscii(read))
        return {std::move(read), Encoding{CP_UTF8}};
    const unsigned page = takePipedName(read);
    return {std::move(read), Encoding{page}};
}

void show(std::FILE* stream, const std::string& text, Encoding encoding)
{
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (isConsole(handle)) {
        std::fflush(stream);
        const std::wstring wide = widen(text, CP_UTF8);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    if (encoding.codePage == CP_UTF8) {
        std::fputs(text.c_str(), stream);
    } else {
        const std::wstring wide = widen(text, CP_UTF8);
        std::fputs(narrow(wide.data(), wide.size(), encoding.codePage).c_str(), stream);
    }
    // Messages on stdout and stderr keep their order in one file or pipe.
    std::fflush(stream);
}

namespace {

HANDLE native(const File& file) { return reinterpret_cast<HANDLE>(file.handle()); }

// Others may go on reading and writing the files, as with the C runtime's files.
const DWORD shared = FILE_SHARE_READ | FILE_SHARE_WRITE;

File fromHandle(HANDLE handle)
{
    return File(handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle));
}

// A file on a disk: not a device (NUL, CON, COM1, ...), a pipe or a folder.
bool onDisk(const File& file)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileType(native(file)) == FILE_TYPE_DISK && GetFileInformationByHandle(native(file), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The 128-bit file ID where the system has one (ReFS needs all of it), else the file index;
// the final path, for file systems that give neither; and how many names the file has.
FileIdentity identity(const File& file)
{
    FileIdentity who;
    FILE_ID_INFO id;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandleEx(native(file), FileIdInfo, &id, sizeof id)) {
        who.volume = id.VolumeSerialNumber;
        who.id.assign(reinterpret_cast<const char*>(&id.FileId), sizeof id.FileId);
    }
    if (GetFileInformationByHandle(native(file), &info)) {
        who.links = info.nNumberOfLinks;
        const std::uint64_t index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
        if (!fileIdKnown(who.id)) {
            who.volume = info.dwVolumeSerialNumber;
            who.id.assign(reinterpret_cast<const char*>(&index), sizeof index);
        }
    }
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_NT;
    const DWORD size = GetFinalPathNameByHandleW(native(file), nullptr, 0, flags);
    who.finalPath.resize(size);
    const DWORD length = size == 0 ? 0 : GetFinalPathNameByHandleW(native(file), &who.finalPath[0], size, flags);
    who.finalPath.resize(length < size ? length : 0);
    return who;
}

// Whether what stands at path may not be replaced by a copy of input: nothing may
// be; a file on disk with one name, not read-only, that the user may delete, may
// be, unless it is a link or another reparse point that leads elsewhere.
bool refusedAt(const std::wstring& path, const FileIdentity& input)
{
    const File found = fromHandle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | DELETE, shared | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!found.isOpen())
        return GetLastError() != ERROR_FILE_NOT_FOUND;
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (!onDisk(found) || !GetFileInformationByHandleEx(native(found), FileAttributeTagInfo, &tag, sizeof tag) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ||
        ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && refusesReparseTag(tag.ReparseTag)))
        return true;
    const FileIdentity old = identity(found);
    return old.links != 1 || sameFile(old, input);
}

// A name for a copy while it is written.
std::wstring hiddenLeaf()
{
    static std::uint64_t made = 0;
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return widen(pendingName("~nonl-", GetCurrentProcessId(), static_cast<std::uint64_t>(now.QuadPart), ++made), CP_UTF8);
}

// The input's DACL in descriptor, where its owner made the input private; held keeps it.
bool privateDacl(const File& input, std::vector<char>& held, SECURITY_DESCRIPTOR& descriptor)
{
    DWORD size = 0;
    GetKernelObjectSecurity(native(input), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    held.resize(size);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (size == 0 || !GetKernelObjectSecurity(native(input), DACL_SECURITY_INFORMATION, held.data(), size, &size) ||
        !GetSecurityDescriptorControl(held.data(), &control, &revision) ||
        !GetSecurityDescriptorDacl(held.data(), &present, &dacl, &defaulted))
        return false;
    std::vector<unsigned char> aceFlags;
    for (DWORD i = 0; present && dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (GetAce(dacl, i, &ace))
            aceFlags.push_back(static_cast<const ACE_HEADER*>(ace)->AceFlags);
    }
    return keepsDaclOfInput(present && dacl != nullptr, (control & SE_DACL_PROTECTED) != 0, aceFlags) &&
           InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
           SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) &&
           SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

// A new file for a copy at path, made private from its first moment where its input is,
// and encrypted where it is.
File newCopy(const File& input, const std::wstring& path, DWORD attributes)
{
    std::vector<char> held;
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES rights{sizeof rights, &descriptor, FALSE};
    const bool keep = privateDacl(input, held, descriptor);
    // DELETE: it goes when the tool does, until it is renamed.
    return fromHandle(CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, shared, keep ? &rights : nullptr, CREATE_NEW,
                                  attributes | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Whether the file goes when its last handle is closed, whichever way the tool ends.
bool goesOnClose(const File& file, bool goes)
{
    FILE_DISPOSITION_INFO disposition{goes};
    return SetFileInformationByHandle(native(file), FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

DWORD attributesOf(const File& file)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(native(file), &info) ? info.dwFileAttributes : 0;
}

bool setAttributes(const File& file, DWORD attributes)
{
    FILE_BASIC_INFO basic{}; // times of 0 stay as they are
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(native(file), FileBasicInfo, &basic, sizeof basic) != 0;
}

// Marks a new copy to go when the tool does. A share that shows a file whose DACL
// grants no write as read-only (Samba's "map readonly", wine), which no file can
// be marked as, has that taken away first.
bool markGone(const File& copy)
{
    const DWORD attributes = attributesOf(copy);
    return goesOnClose(copy, true) ||
           ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && setAttributes(copy, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) &&
            goesOnClose(copy, true));
}

} // namespace

Input openInput(const std::string& name)
{
    const std::wstring path = systemName(name, CP_UTF8);
    if (path.empty())
        return {};
    Unredirected unredirected;
    // Others may rename or remove it meanwhile, as elsewhere.
    File file = fromHandle(CreateFileW(path.c_str(), GENERIC_READ, shared | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.isOpen() || !onDisk(file))
        return {};
    return {std::move(file), File()};
}

File openList(const std::string& name)
{
    const std::wstring path = systemName(name, CP_UTF8);
    if (path.empty())
        return File();
    Unredirected unredirected;
    return fromHandle(CreateFileW(path.c_str(), GENERIC_READ, shared | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

PendingCopy openCopy(const Input& input, const std::string& name)
{
    const std::wstring path = systemName(name, CP_UTF8), full = fullPath(widen(name, CP_UTF8));
    // A stream of the input (notes.txt:s gives notes.txt:s_noNl.txt) is never made.
    if (path.empty() || full.empty() || namesStream(full))
        return {};
    Unredirected unredirected;
    const FileIdentity source = identity(input.file);
    if (refusedAt(path, source))
        return {};
    const DWORD inputAttributes = attributesOf(input.file), attributes = newCopyAttributes(inputAttributes);
    const std::wstring folder = full.substr(0, full.rfind(L'\\') + 1), folderPath = folderOf(full);
    // The folder the name is in, where its copy must stand: a file link at the name may lead elsewhere.
    const File holder = fromHandle(CreateFileW(pathToOpen(folderPath, folderPath).c_str(), FILE_READ_ATTRIBUTES,
                                               shared | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!holder.isOpen())
        return {};
    const std::wstring folderFinalPath = identity(holder).finalPath;
    for (int tries = 0; tries < 100; ++tries) {
        const std::wstring hidden = folder + hiddenLeaf(), hiddenPath = pathToOpen(hidden, hidden);
        File copy = newCopy(input.file, hiddenPath, attributes);
        if (!copy.isOpen() && GetLastError() == ERROR_FILE_EXISTS)
            continue;
        if (!copy.isOpen())
            return {};
        if (!markGone(copy)) {
            copy.close();
            DeleteFileW(hiddenPath.c_str());
            return {};
        }
        // Made in the name's folder (no link swapped in on the path meanwhile), and
        // encrypted where the input is; else it goes as it is closed.
        const FileIdentity target = identity(copy);
        if (!onDisk(copy) || sameFile(source, target) || !standsIn(folderFinalPath, target.finalPath) ||
            !keepsEncryption(inputAttributes, attributesOf(copy)))
            return {};
        return PendingCopy(std::move(copy), File(), std::string());
    }
    return {};
}

PendingCopy::~PendingCopy() = default; // a pending copy goes with its handle

Publication publish(PendingCopy copy, const Input& input, const std::string& name)
{
    const std::wstring path = systemName(name, CP_UTF8), full = fullPath(widen(name, CP_UTF8));
    Unredirected unredirected;
    if (path.empty() || full.empty() || refusedAt(path, identity(input.file)))
        return Publication::refused;
    // A network share may fail a write late ("Delayed Write Failed"): before the name is taken.
    FILE_REMOTE_PROTOCOL_INFO remote;
    if (GetFileInformationByHandleEx(native(copy.file_), FileRemoteProtocolInfo, &remote, sizeof remote) &&
        !FlushFileBuffers(native(copy.file_)))
        return Publication::lost;
    const std::wstring target = pathToOpen(full, full);
    std::vector<char> bytes(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(bytes.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    publishing = true;
    const bool renamed =
        goesOnClose(copy.file_, false) &&
        SetFileInformationByHandle(native(copy.file_), FileRenameInfo, rename, static_cast<DWORD>(bytes.size()));
    if (!renamed)
        goesOnClose(copy.file_, true);
    publishing = false;
    if (!renamed)
        return Publication::refused;
    // Read-only only now: a file that is cannot be marked for deletion.
    if (const DWORD carried = carriedAttributes(attributesOf(input.file)))
        setAttributes(copy.file_, attributesOf(copy.file_) | carried);
    // It stands at its name now; a share's writes were flushed before, and a local close does not fail.
    copy.file_.close();
    return Publication::published;
}

std::function<void(const std::string&)> progressLine()
{
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    if (!isConsole(console))
        return {};
    return [console](const std::string& line) {
        // A line wider than the console would wrap, and only its last row be overwritten.
        CONSOLE_SCREEN_BUFFER_INFO screen;
        const std::size_t columns = Progress::cells(
            GetConsoleScreenBufferInfo(console, &screen) ? static_cast<std::size_t>(screen.srWindow.Right - screen.srWindow.Left + 1)
                                                         : 0);
        if (columns == 0)
            return;
        // Blanks over the cells left of the line before; back to its start when it goes.
        const std::string fitted = fitCells(harmless(line, hostStyle().eightBitControls), columns);
        std::wstring text = L"\r" + widen(fitted, CP_UTF8);
        const std::size_t shown = cellsOf(fitted), width = lineCells.exchange(shown);
        text += std::wstring(width > shown ? width - shown : 0, L' ') + (line.empty() ? L"\r" : L"");
        std::fflush(stdout);
        DWORD written = 0;
        WriteConsoleW(console, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    };
}

std::uint64_t File::size() const
{
    LARGE_INTEGER size;
    return GetFileSizeEx(native(*this), &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

File::Stamp File::stamp() const
{
    FILE_BASIC_INFO times;
    if (!GetFileInformationByHandleEx(native(*this), FileBasicInfo, &times, sizeof times))
        return {};
    return {size(), times.LastWriteTime.QuadPart, times.ChangeTime.QuadPart};
}

std::ptrdiff_t File::read(char* data, std::size_t size)
{
    DWORD got = 0;
    const DWORD most = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    return ReadFile(native(*this), data, most, &got, nullptr) ? static_cast<std::ptrdiff_t>(got) : -1;
}

bool File::write(const char* data, std::size_t size)
{
    while (size > 0) {
        DWORD put = 0;
        const DWORD most = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        if (!WriteFile(native(*this), data, most, &put, nullptr) || put == 0)
            return false;
        data += put;
        size -= put;
    }
    return true;
}

bool File::closeHandle(std::intptr_t handle)
{
    const HANDLE file = reinterpret_cast<HANDLE>(handle);
    // A network share may hold writes back and fail them after the close ("Delayed Write
    // Failed"): they go first. (A file opened only for reading cannot be flushed; what its
    // close says goes unheard.)
    FILE_REMOTE_PROTOCOL_INFO remote;
    const bool flushed = !GetFileInformationByHandleEx(file, FileRemoteProtocolInfo, &remote, sizeof remote) ||
                         FlushFileBuffers(file);
    return CloseHandle(file) != 0 && flushed;
}

} // namespace sys
