// Windows: names typed at a console or given as arguments arrive as UTF-16 and
// are kept as UTF-8, so that files in any script open and show as typed. Names
// through a pipe or a file are read as their list was saved: after a UTF-8 or
// UTF-16 mark in that encoding, else each word in UTF-8 where it is valid UTF-8
// and in the ANSI code page otherwise, as scripts have always fed them.
// Files are handles, read and written as they are, without the C runtime's text
// mode, whose stop at a Ctrl-Z byte would lose the rest of a file.

#include "system.hpp"

#include "arguments.hpp"
#include "encoding.hpp"
#include "long_path.hpp"
#include "progress.hpp"

#include <windows.h>

#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <streambuf>

namespace sys {

const bool backslashEscapes = false;
const bool slashHelp = true;
const bool crBeforeLfEndsLine = true;

namespace {

// Where the names come from, which says how they are encoded.
enum class Names { arguments, console, piped };
Names namesFrom = Names::arguments;
const NamesInput* pipedNames = nullptr;

// The code page of a name the tool holds, or of a message that shows one.
UINT codePageOf(const std::string& text)
{
    if (namesFrom != Names::piped || pipedNames->mark() != NamesMark::none)
        return CP_UTF8;
    // Without a mark each word tells: text in an ANSI code page with letters
    // beyond ASCII is almost never valid UTF-8.
    return isUtf8BeyondAscii(text) ? CP_UTF8 : CP_ACP;
}

// The code page a message takes in a file or a pipe instead of a console.
UINT redirectedCodePage(const std::string& text)
{
    switch (namesFrom) {
    case Names::arguments:
        return CP_ACP;
    case Names::console:
        return GetConsoleCP(); // the bytes a byte-wise console read gave
    case Names::piped:
        break;
    }
    return codePageOf(text); // the bytes the names came in (UTF-8 for a UTF-16 list)
}

std::wstring widen(const std::string& text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    const int size = static_cast<int>(text.size());
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0)), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, &wide[0], static_cast<int>(wide.size()));
    return wide;
}

std::string narrow(const wchar_t* text, std::size_t length, UINT codePage)
{
    if (length == 0)
        return std::string();
    const int size = static_cast<int>(length);
    // A character the code page lacks becomes "?", not a look-alike that names another file.
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    std::string bytes(static_cast<std::size_t>(WideCharToMultiByte(codePage, flags, text, size, nullptr, 0, nullptr, nullptr)), '\0');
    WideCharToMultiByte(codePage, flags, text, size, &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr);
    return bytes;
}

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// What a person types at the console, read as UTF-16 and handed out as UTF-8.
// Ctrl-Z ends the input where it stands, as it always has at a Windows console.
class ConsoleInput : public std::streambuf {
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

} // namespace

std::vector<std::string> startUp(int, char**)
{
    std::vector<std::string> arguments;
    int count = 0;
    if (wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            arguments.push_back(narrow(words[i], wcslen(words[i]), CP_UTF8));
        LocalFree(words);
    }
    namesFrom = Names::arguments;
    return arguments;
}

namespace {

// The name as the system opens it: its full path after \\?\ when it is long.
std::wstring systemName(const std::string& name)
{
    const std::wstring wide = widen(name, codePageOf(name));
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetFullPathNameW(wide.c_str(), size, &full[0], nullptr);
    full.resize(length < size ? length : 0);
    return pathToOpen(wide, full);
}

std::vector<std::string> filesMatching(const std::string& name)
{
    const std::wstring wide = widen(name, CP_UTF8);
    const std::size_t cut = wide.find_last_of(L"\\/:");
    const std::wstring folder = cut == std::wstring::npos ? L"" : wide.substr(0, cut + 1);
    const std::wstring copies = L"_noNl.txt";
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    const HANDLE search =
        FindFirstFileExW(systemName(name).c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
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
        const std::wstring path = folder + leaf;
        files.push_back(narrow(path.data(), path.size(), CP_UTF8));
    }
    return files;
}

} // namespace

std::vector<std::string> filesNamed(const std::vector<std::string>& names)
{
    std::vector<std::string> files;
    for (const std::string& name : names) {
        const std::vector<std::string> found =
            name.find_first_of("*?") == std::string::npos ? std::vector<std::string>() : filesMatching(name);
        if (found.empty())
            files.push_back(name);
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

void keepWindowOpen(bool namesGiven)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD processes[2];
    if (!waitsForEnter(namesGiven, GetConsoleProcessList(processes, 2), isConsole(input),
                       isConsole(GetStdHandle(STD_OUTPUT_HANDLE))))
        return;
    show(stdout, "Press Enter to close this window.");
    wchar_t typed[256];
    DWORD got = 0;
    while (ReadConsoleW(input, typed, 256, &got, nullptr) && got > 0 && typed[got - 1] != L'\n') {
    }
}

bool namesTypedAtTerminal() { return isConsole(GetStdHandle(STD_INPUT_HANDLE)); }

std::istream& typedInput()
{
    if (!isConsole(GetStdHandle(STD_INPUT_HANDLE))) {
        // Bytes as they are, so that a UTF-16 list arrives whole; the names
        // read Ctrl-Z as text mode does, and CR is a blank between names.
        _setmode(_fileno(stdin), _O_BINARY);
        static NamesInput names(*std::cin.rdbuf(), true, true);
        static std::istream piped(&names);
        pipedNames = &names;
        namesFrom = Names::piped;
        return piped;
    }
    static ConsoleInput console;
    static std::istream typed(&console);
    namesFrom = Names::console;
    return typed;
}

void show(std::FILE* stream, const std::string& text)
{
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (isConsole(handle)) {
        std::fflush(stream);
        std::cout.flush();
        const std::wstring wide = widen(text, codePageOf(text));
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    const UINT from = codePageOf(text), to = redirectedCodePage(text);
    if (from == to) {
        std::fputs(text.c_str(), stream);
    } else {
        const std::wstring wide = widen(text, from);
        std::fputs(narrow(wide.data(), wide.size(), to).c_str(), stream);
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
bool onDisk(const File& file, BY_HANDLE_FILE_INFORMATION& info)
{
    return GetFileType(native(file)) == FILE_TYPE_DISK && GetFileInformationByHandle(native(file), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The 128-bit file IDs where the system has them (ReFS needs all of them), else the file indexes.
bool sameFile(const File& input, const BY_HANDLE_FILE_INFORMATION& a, const File& copy,
              const BY_HANDLE_FILE_INFORMATION& b)
{
    FILE_ID_INFO inputId, copyId;
    if (GetFileInformationByHandleEx(native(input), FileIdInfo, &inputId, sizeof inputId) &&
        GetFileInformationByHandleEx(native(copy), FileIdInfo, &copyId, sizeof copyId))
        return inputId.VolumeSerialNumber == copyId.VolumeSerialNumber &&
               std::memcmp(&inputId.FileId, &copyId.FileId, sizeof inputId.FileId) == 0;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// Names in the device namespace (\\.\C:, \\.\PhysicalDrive0) open whole disks, which
// the system reports as files on a disk.
bool namesDevice(const std::string& name)
{
    return name.size() >= 4 && (name[0] == '\\' || name[0] == '/') && (name[1] == '\\' || name[1] == '/') &&
           name[2] == '.' && (name[3] == '\\' || name[3] == '/');
}

HANDLE openCopyHandle(const std::string& name, DWORD access, DWORD disposition)
{
    // A link at the name is opened as the link itself, never followed.
    return CreateFileW(systemName(name).c_str(), access, shared, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}


} // namespace

File openInput(const std::string& name)
{
    if (namesDevice(name))
        return File();
    File file = fromHandle(CreateFileW(systemName(name).c_str(), GENERIC_READ, shared, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.isOpen() || !onDisk(file, info))
        return File();
    return file;
}

File openCopy(const File& input, const std::string& name)
{
    if (namesDevice(name))
        return File();
    // An existing file is opened as it is and emptied only once it is known to
    // be a file on disk other than the input, not a link. A file made here that
    // fails that (a stream of the input itself, input:s_noNl.txt) goes again.
    bool made = false;
    HANDLE handle = openCopyHandle(name, GENERIC_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
        handle = openCopyHandle(name, GENERIC_WRITE | DELETE, CREATE_NEW);
        made = true;
    }
    File copy = fromHandle(handle);
    BY_HANDLE_FILE_INFORMATION source, found;
    if (copy.isOpen() && GetFileInformationByHandle(native(input), &source) && onDisk(copy, found) &&
        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && !sameFile(input, source, copy, found) &&
        SetEndOfFile(native(copy)))
        return copy;
    if (made && copy.isOpen()) {
        FILE_DISPOSITION_INFO gone{TRUE};
        SetFileInformationByHandle(native(copy), FileDispositionInfo, &gone, sizeof gone);
    }
    return File();
}

std::function<void(const std::string&)> progressLine()
{
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    if (!isConsole(console))
        return {};
    return [console, width = std::size_t{0}](const std::string& line) mutable {
        // A line wider than the console would wrap, and only its last row be overwritten.
        CONSOLE_SCREEN_BUFFER_INFO screen;
        const std::size_t columns = GetConsoleScreenBufferInfo(console, &screen)
                                        ? static_cast<std::size_t>(screen.srWindow.Right - screen.srWindow.Left)
                                        : 79;
        // Blanks over what is left of the line before; back to its start when it goes.
        std::wstring text = L"\r" + widen(Progress::fit(line, columns), codePageOf(line));
        const std::size_t shown = text.size() - 1;
        text += std::wstring(width > shown ? width - shown : 0, L' ') + (line.empty() ? L"\r" : L"");
        width = shown;
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

bool File::closeHandle(std::intptr_t handle) { return CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0; }

} // namespace sys
