// What the tool needs from the system it runs on: the console, and files opened
// as handles. system_posix.cpp serves POSIX systems, system_windows.cpp Windows,
// where console text and file names are UTF-16 underneath.
#pragma once

#include "names_input.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <istream>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

namespace sys {

// Whether "/?" asks for help, as it does for Windows commands.
extern const bool slashHelp;

// Whether a backslash in a typed name takes the next character literally, as
// POSIX shells and terminals quote names; on Windows it separates folders.
extern const bool backslashEscapes;

// Whether a CR right before an LF is part of the line end, as Windows text
// mode reads it. Files themselves are read and written as they are.
extern const bool crBeforeLfEndsLine;

// Whether a byte 0x80 to 0x9F that is no part of UTF-8 may steer a terminal, as
// on an 8-bit POSIX terminal; on Windows it is a letter of a code page.
extern const bool eightBitControls;

// Whether the terminal reads UTF-8 (on POSIX systems, as the locale says; a
// Windows console takes UTF-16); else every byte 0x80 to 0x9F may steer it.
bool terminalReadsUtf8();

// Whether streams of names are read as Windows reads text: UTF-16 where it
// says so, and a Ctrl-Z byte ends bytes. Elsewhere names are bytes.
extern const bool windowsText;

// Every name the tool holds is UTF-8 on Windows (whose own names are UTF-16), and
// bytes elsewhere. What a message about a name takes in a file or a
// pipe is kept beside it: the bytes the name came in, on Windows a code page.
struct Encoding {
    unsigned codePage = 0;
};

// Prepares the process and returns its arguments, the program's name left out.
std::vector<std::string> startUp(int argc, char** argv);

// From here on, a reader of the output that goes away (a closed pipe) ends
// nothing: writes to it fail, and the exit status says so.
void goOnWithoutReader();

// The encoding of the arguments (on Windows the ANSI code page).
extern const Encoding argumentsEncoding;

// The files that names given as arguments stand for. On Windows, whose shells
// leave wildcards to programs, a name holding * or ? stands for every file of
// its folder that matches it, in name order: not folders, and not copies (names
// ending in _noNl.txt), so that a second run copies no copy. A name that
// matches nothing, or whose wildcard was quoted, stands for itself. Elsewhere
// the shell has done this.
std::vector<std::string> filesNamed(const std::vector<std::string>& names);

// Called last. Where a window was opened for the tool alone and given names
// (files dropped on it in Explorer), it asks for Enter before the window goes.
void keepWindowOpen(bool namesGiven);

// Whether typed names come from a terminal (a console on Windows), which shows
// each with the Enter that ends it, so the tool's next line starts a line.
bool namesTypedAtTerminal();

// Standard input's bytes as they arrive, waited for where whoever started the
// tool left it non-blocking; on Windows a console's typing, as UTF-8.
std::streambuf& standardInput();

// What makes a name read from a list or a pipe, which started with mark, one
// the tool holds (on Windows, a name without a mark may be in the ANSI or the
// OEM code page), returning the encoding its messages take.
Encoding takeListed(std::string& name, NamesMark mark);

// Where typed names come from: the stream a NameReader reads them from, and what
// makes a name read from it one the tool holds (a list on Windows without a
// byte-order mark may be in the ANSI or the OEM code page), returning the
// encoding its messages take.
struct TypedNames {
    std::istream& stream;
    std::function<Encoding(std::string& name)> take;
};
TypedNames typedNames();

// Whether stdout or stderr is a terminal (a console on Windows).
bool isTerminal(std::FILE* stream);

// Whether more was typed at the terminal before the prompt was shown: the
// terminal has shown it already, so the cursor no longer stands after the prompt.
bool typedAhead();

// Writes text to stdout or stderr so that a console shows every name as typed,
// and a file or a pipe in the encoding given.
void show(std::FILE* stream, const std::string& text, Encoding encoding);

// What draws a line of progress in place on standard error when it is a
// terminal (a console on Windows), cut to the terminal's width and taking the
// one before away ("" takes it away for good); none when standard error is a
// file or a pipe, or a terminal that cannot take it back (TERM=dumb). It draws
// nothing while the tool is not the terminal's foreground job, nor on a
// terminal too narrow for it.
std::function<void(const std::string& line)> progressLine();

// A file the tool opened, closed when it goes.
class File {
    static constexpr std::intptr_t none = -1;

public:
    File() = default;
    explicit File(std::intptr_t handle, std::intptr_t folder = none) : handle_(handle), folder_(folder) {}
    File(File&& other) noexcept : handle_(other.handle_), folder_(other.folder_) { other.handle_ = other.folder_ = none; }
    File& operator=(File&&) = delete;
    ~File()
    {
        close();
        if (folder_ != none)
            closeHandle(folder_);
    }

    bool isOpen() const { return handle_ != none; }
    std::intptr_t handle() const { return handle_; }
    // The folder an input was opened in, where the system opens names in a folder
    // it holds (POSIX): its copy is made in that very folder.
    std::intptr_t folder() const { return folder_; }

    // How many bytes the file holds now.
    std::uint64_t size() const;
    // What tells one version of the file from the next: its size and when its
    // text and its metadata last changed.
    struct Stamp {
        std::uint64_t size = 0;
        std::int64_t modified = 0, changed = 0;
        bool operator==(const Stamp& other) const
        {
            return size == other.size && modified == other.modified && changed == other.changed;
        }
        bool operator!=(const Stamp& other) const { return !(*this == other); }
    };
    Stamp stamp() const;
    // Reads at most size bytes into data: how many, 0 at the end, -1 on an error.
    std::ptrdiff_t read(char* data, std::size_t size);
    // Writes all size bytes of data; false when it could not.
    bool write(const char* data, std::size_t size);
    // Hands the handle over: the File holds it no more.
    std::intptr_t release()
    {
        const std::intptr_t handle = handle_;
        handle_ = none;
        return handle;
    }
    // Closes the file; false when what was written may not all have arrived.
    bool close()
    {
        const std::intptr_t handle = handle_;
        handle_ = none;
        return handle == none || closeHandle(handle);
    }

private:
    static bool closeHandle(std::intptr_t handle);
    std::intptr_t handle_ = none;
    std::intptr_t folder_ = none;
};

// Opens the file called name for reading, without waiting on it: only a regular
// file is opened, never a folder, a device, a FIFO or the console, and what
// stands at the name is checked before anything is opened. A file under a lease
// is tried again within the system's lease-break time and a second. Others may
// rename or remove it meanwhile.
File openInput(const std::string& name);

enum class Publication {
    published, // the whole copy stands at its name, in place of whatever stood there
    refused,   // what stands at the name now may not be replaced, or cannot be
    lost,      // what was written did not all arrive
};

// Opens a list of names for reading: a file or a pipe, not a folder (nor, on
// Windows, a device).
File openList(const std::string& name);

// A File's bytes as a stream.
class FileBuffer : public std::streambuf {
public:
    explicit FileBuffer(File& file) : file_(file) {}

protected:
    int_type underflow() override
    {
        const std::ptrdiff_t got = file_.isOpen() ? file_.read(bytes_, sizeof bytes_) : 0;
        setg(bytes_, bytes_, bytes_ + (got > 0 ? got : 0));
        return got > 0 ? traits_type::to_int_type(bytes_[0]) : traits_type::eof();
    }

private:
    File& file_;
    char bytes_[4096];
};

// A copy being written where nobody sees it: a file without a name where the
// system makes one (else under a hidden name), in the folder of its input. It
// takes its name only in publish; dropped before that, it goes, and on Windows
// and where it has no name it goes too when the tool is killed.
class PendingCopy {
public:
    PendingCopy() = default;
    PendingCopy(File file, std::string hidden) : file_(std::move(file)), hidden_(std::move(hidden)) {}
    PendingCopy(PendingCopy&& other) noexcept : file_(std::move(other.file_)), hidden_(std::move(other.hidden_))
    {
        other.hidden_.clear();
    }
    ~PendingCopy(); // takes a hidden name away

    bool isOpen() const { return file_.isOpen(); }
    bool write(const char* data, std::size_t size) { return file_.write(data, size); }

private:
    friend Publication publish(PendingCopy copy, const File& input, const std::string& name);
    File file_;
    std::string hidden_;
};

// Makes the pending copy of input, which is called name, in input's folder, with
// no permission that input lacks. Not open where what stands at name may not be
// replaced: anything but a regular file (a link, a folder, a device, a FIFO), a
// file with more than one name (the input's own hard link among them), one the
// user may not write, or another user's in a folder with the sticky bit; on
// Windows also a name with a stream part, and where an encrypted input's copy
// cannot be encrypted.
PendingCopy openCopy(const File& input, const std::string& name);

// Closes the copy and gives it its name in one step, the old copy (checked again
// as openCopy checks it) replaced and never written into. Anything but
// published leaves the name as it was and nothing else behind.
Publication publish(PendingCopy copy, const File& input, const std::string& name);

} // namespace sys
