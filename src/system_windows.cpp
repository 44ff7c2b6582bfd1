// Windows: names typed at a console or given as arguments arrive as UTF-16 and
// are kept as UTF-8, so that files in any script open and show as typed. Names
// through a pipe or a file stay bytes in the ANSI code page, as scripts expect.

#include "system.hpp"

#include <windows.h>

#include <shellapi.h>

#include <iostream>
#include <streambuf>

namespace sys {

const bool slashHelp = true;

namespace {

// The code page of the names the tool holds, and the one their messages take
// when they go to a file or a pipe instead of a console.
UINT nameCodePage = CP_ACP;
UINT redirectedCodePage = CP_ACP;

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
    nameCodePage = CP_UTF8;
    redirectedCodePage = CP_ACP;
    return arguments;
}

std::istream& typedInput()
{
    if (!isConsole(GetStdHandle(STD_INPUT_HANDLE))) {
        nameCodePage = CP_ACP;
        return std::cin;
    }
    static ConsoleInput console;
    static std::istream typed(&console);
    nameCodePage = CP_UTF8;
    // Redirected messages keep the bytes that a byte-wise console read gave.
    redirectedCodePage = GetConsoleCP();
    return typed;
}

std::filesystem::path filePath(const std::string& name)
{
    return std::filesystem::path(widen(name, nameCodePage));
}

void show(std::FILE* stream, const std::string& text)
{
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (isConsole(handle)) {
        std::fflush(stream);
        std::cout.flush();
        const std::wstring wide = widen(text, nameCodePage);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    if (nameCodePage == redirectedCodePage) {
        std::fputs(text.c_str(), stream);
    } else {
        const std::wstring wide = widen(text, nameCodePage);
        std::fputs(narrow(wide.data(), wide.size(), redirectedCodePage).c_str(), stream);
    }
    // Messages on stdout and stderr keep their order in one file or pipe.
    std::fflush(stream);
}

// Windows files have no permission bits to pass on.
void narrowPermissions(const std::filesystem::path&, std::filesystem::perms) {}

} // namespace sys
