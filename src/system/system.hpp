// What the tool needs from the system it runs on: its style, the console, and files
// opened as handles. posix.cpp serves POSIX systems and windows.cpp Windows, where
// console text and file names are UTF-16 underneath; each is compiled only there.
#pragma once

#include "names/arguments.hpp"
#include "names/stream.hpp"
#include "system/style.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

namespace sys {

// Every name the tool holds is UTF-8 on Windows (whose own names are UTF-16), and
// bytes elsewhere. What a message about a name takes in a file or a pipe is kept
// beside it: the bytes the name came in, on Windows a code page.
struct Encoding {
    unsigned codePage = 0;
};

// A name as the tool holds it, and the encoding of its messages.
struct HeldName {
    std::string text;
    Encoding encoding;
};

// Prepares the process and returns its arguments, the program's name left out.
std::vector<Argument> startUp(int argc, char** argv);

// The encoding of messages about arguments and typed names, and of the tool's own texts.
extern const Encoding argumentsEncoding;

// From here on, a reader of the output that goes away (a closed pipe) ends
// nothing: writes to it fail, and the exit status says so.
void goOnWithoutReader();

// The files that names given as arguments stand for. On Windows a pattern stands
// for every file of its folder that matches it, in name order: not folders, and
// not copies (names ending in _noNl.txt), so that a second run copies no copy. A
// pattern that matches nothing stands for itself. Elsewhere the shell has done this.
std::vector<std::string> filesNamed(const std::vector<Argument>& names);

// Called last. Where a window was opened for the tool alone and given names
// (files dropped on it in Explorer), it asks for Enter before the window goes.
void keepWindowOpen(bool namesGiven);

// Bytes from the system as a stream, which tells a read that failed from the end.
class Bytes : public std::streambuf {
public:
    bool failed() const { return failed_; }

protected:
    bool failed_ = false;
};

// Standard input's bytes as they arrive, waited for where whoever started the
// tool left it non-blocking; on Windows a console's typing, as UTF-8.
Bytes& standardInput();

// Whether names on standard input are typed at a terminal (a console on
// Windows), which shows each with the Enter that ends it.
bool namesTypedAtTerminal();

// A name read from standard input or a list that started with mark, as the tool
// holds it: on Windows a name from a pipe or a list without a mark may be in the
// ANSI or the OEM code page. typed: typed at the console.
HeldName takeName(std::string read, NamesMark mark, bool typed);

// Shows the prompt on standard output, flushed, and tells whether more was typed
// at the terminal before it showed: the terminal has shown that already, so the
// cursor no longer stands after the prompt.
bool prompt(const std::string& text);

// Whether stdout or stderr is a terminal (a console on Windows).
bool isTerminal(std::FILE* stream);

// Whether the terminal reads UTF-8 (on POSIX systems, as the locale says; a
// Windows console takes UTF-16); else every byte 0x80 to 0x9F may steer it.
bool terminalReadsUtf8();

// Writes text to stdout or stderr so that a console shows every name as typed,
// and a file or a pipe in the encoding given.
void show(std::FILE* stream, const std::string& text, Encoding encoding);

// What draws a line of progress in place on standard error when it is a
// terminal (a console on Windows), its control characters shown as "?", cut to
// the terminal's width and taking the one before away ("" takes it away for good); none when standard error is a
// file or a pipe, or a terminal that cannot take it back (TERM=dumb). It draws
// nothing while the tool is not the terminal's foreground job, nor on a
// terminal too narrow for it.
std::function<void(const std::string& line)> progressLine();

// A file the tool opened, closed when it goes.
class File {
    static constexpr std::intptr_t none = -1;

public:
    File() = default;
    explicit File(std::intptr_t handle) : handle_(handle) {}
    File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = none; }
    File& operator=(File&&) = delete;
    ~File() { close(); }

    bool isOpen() const { return handle_ != none; }
    std::intptr_t handle() const { return handle_; }

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
};

// A File's bytes as a stream.
class FileBuffer : public Bytes {
public:
    explicit FileBuffer(File& file) : file_(file) {}

protected:
    int_type underflow() override
    {
        const std::ptrdiff_t got = file_.isOpen() ? file_.read(bytes_, sizeof bytes_) : 0;
        failed_ = failed_ || got < 0;
        setg(bytes_, bytes_, bytes_ + (got > 0 ? got : 0));
        return got > 0 ? traits_type::to_int_type(bytes_[0]) : traits_type::eof();
    }

private:
    File& file_;
    char bytes_[4096];
};

// A file to copy, opened by name for reading, and on POSIX systems the folder it
// was found in, held so that its copy is made in that very folder.
struct Input {
    File file;
    File folder;
};

// Opens the file called name for reading, without waiting on it: only a regular
// file is opened, never a folder, a device, a FIFO or the console, and what
// stands at the name is checked before anything is opened. A file under a lease
// is tried again within the system's lease-break time and a second. Others may
// rename or remove it meanwhile.
Input openInput(const std::string& name);

// Opens a list of names for reading: a file or a pipe, not a folder (nor, on
// Windows, a device).
File openList(const std::string& name);

enum class Publication {
    published, // the whole copy stands at its name, in place of whatever stood there
    refused,   // what stands at the name now may not be replaced, or cannot be
    lost,      // what was written did not all arrive
};

// A copy being written where nobody sees it: a file without a name where the
// system makes one (else under a hidden name), in the folder of its input. It
// takes its name only in publish; dropped before that, it goes, and on Windows
// and where it has no name it goes too when the tool is killed.
class PendingCopy {
public:
    PendingCopy() = default;
    PendingCopy(File file, File folder, std::string hidden)
        : file_(std::move(file)), folder_(std::move(folder)), hidden_(std::move(hidden))
    {
    }
    PendingCopy(PendingCopy&& other) noexcept
        : file_(std::move(other.file_)), folder_(std::move(other.folder_)), hidden_(std::move(other.hidden_))
    {
        other.hidden_.clear();
    }
    ~PendingCopy(); // takes a hidden name away

    bool isOpen() const { return file_.isOpen(); }
    bool write(const char* data, std::size_t size) { return file_.write(data, size); }

private:
    friend Publication publish(PendingCopy copy, const Input& input, const std::string& name);
    File file_;
    File folder_; // its own hold on the folder, on POSIX systems
    std::string hidden_;
};

// Makes the pending copy of input, which is called name, in input's folder, with
// no permission that input lacks. Not open where what stands at name may not be
// replaced: anything but a regular file (a link, a folder, a device, a FIFO), a
// file with more than one name, the input itself, one the user may not write, or
// another user's in a folder with the sticky bit; on Windows also a name with a
// stream part, and where an encrypted input's copy cannot be encrypted.
PendingCopy openCopy(const Input& input, const std::string& name);

// Closes the copy and gives it its name in one step, the old copy (checked again
// as openCopy checks it) replaced and never written into. Anything but
// published leaves the name as it was and nothing else behind.
Publication publish(PendingCopy copy, const Input& input, const std::string& name);

} // namespace sys
