// What Windows decides where wine decides otherwise or not at all: plain
// functions of what the system reports, so that their tables run on every host.
// system_windows.cpp asks the system and hands the answers to these.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Whether a file with this reparse tag at the copy's name is refused: one that
// names another file or folder (symbolic links, junctions, mount points, WSL
// links), or a WSL socket, FIFO or device. Any other (cloud placeholders,
// deduplicated or compressed files) is a file the system serves.
bool refusesReparseTag(std::uint32_t tag);

// A file as the system identifies it.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::string id;         // its ID on the volume, as bytes
    std::wstring finalPath; // where the system says it is now; empty where it cannot say
    unsigned long links = 1; // the names it has (hard links)
};

// Whether an ID says anything: all zeros or all ones means the file system has none.
bool fileIdKnown(const std::string& id);

// Whether two files are one: by ID where both are known, else by final path
// where neither has another name (a hard link's final path is its own); true
// where nothing tells, so that a file is never taken for another by mistake.
bool sameFile(const FileIdentity& a, const FileIdentity& b);

// The folder a full path (as GetFullPathNameW gives it) is in, as it is opened:
// without its last backslash, but for a drive's or a share's root (C:\,
// \\server\share\, \\?\C:\), which takes it.
std::wstring folderOf(const std::wstring& full);

// Whether a file stands right in a folder, by their final paths: a link on the
// path swapped in before the copy was made leads to another folder. The folder
// is the one the name is in, not where a file link at the name leads. True
// where a path is unknown.
bool standsIn(const std::wstring& folderFinalPath, const std::wstring& fileFinalPath);

// Whether WideCharToMultiByte takes WC_NO_BEST_FIT_CHARS for this code page
// (an actual one, not CP_ACP).
bool takesNoBestFit(unsigned codePage);

// The code page a piped name without a byte-order mark that is not UTF-8 is
// read in: the ANSI one, as scripts have always fed names, unless only the OEM
// one, which cmd writes its own commands' output in, names a file.
unsigned pipedNameCodePage(unsigned ansi, unsigned oem, const std::function<bool(unsigned codePage)>& namesFile);

// Whether a new copy takes its input's DACL: where the input's owner made it
// private, with a protected DACL or entries of its own (AceFlags without
// INHERITED_ACE), not where it only inherits what its folder gives.
bool keepsDaclOfInput(bool hasDacl, bool isProtected, const std::vector<unsigned char>& aceFlags);

// Whether a full path (as GetFullPathNameW gives it) is in the device namespace
// (\\.\COM3, \\.\pipe\x, \\server\pipe\x): refused before it is opened. A file on
// a drive or a volume (\\.\C:\dir\file.txt) is no device.
bool isDevicePath(const std::wstring& full);

// Whether a full path (as GetFullPathNameW gives it) names a stream of a file
// (notes.txt:s, notes.txt::$DATA): a colon after its drive, share or volume.
// The copy's name of such a name is a stream of the input: refused before
// anything is opened for writing.
bool namesStream(const std::wstring& full);

// The attributes a new copy is created with, from its input's: encrypted where
// the input is encrypted (EFS), as a copy of it must not be plain text.
unsigned long newCopyAttributes(unsigned long inputAttributes);

// Whether a new copy, with the attributes the system reports for it, may take
// its name: an encrypted input's only where the copy is encrypted too.
bool keepsEncryption(unsigned long inputAttributes, unsigned long copyAttributes);

// The attributes a copy takes from its input once it stands at its name:
// read-only, as a POSIX copy keeps the input's missing write bits; not hidden
// or system, which say something of the input itself.
unsigned long carriedAttributes(unsigned long inputAttributes);

// The code page of messages about a name given as an argument or typed at the
// console, written to a file or a pipe: the console's output code page, as
// cmd's own commands write (dir > list.txt) and as PowerShell and .NET decode
// what they capture; the ANSI one where the tool has no console (0).
unsigned messagesCodePage(unsigned consoleOutput, unsigned ansi);

// Whether a name found by a wildcard search must be opened through the \\?\ form
// of its full path: one ending in a dot or a blank, which Windows otherwise trims.
bool opensOnlyByExactPath(const std::wstring& leaf);

// A word of a Windows command line.
struct CommandWord {
    std::string text;
    bool quotedWildcard = false; // a * or ? stood in quotes: the word is no pattern
};

// The words of a command line as the C runtime splits it, the program's name
// left out.
std::vector<CommandWord> commandLineWords(const std::string& line);

// How the tool was started, as far as it tells whether anyone can press Enter.
struct Start {
    bool namesGiven = false;
    unsigned long consoleProcesses = 1; // GetConsoleProcessList: 1 where the console is the tool's alone
    bool stationVisible = true;         // the window station is the user's (WSF_VISIBLE), not a service's
    bool hasWindow = true;              // GetConsoleWindow gives one (a pseudoconsole's too)
    bool startedHidden = false;         // STARTUPINFO: STARTF_USESHOWWINDOW with SW_HIDE
    bool inputIsConsole = true, outputIsConsole = true;
};

// Whether the tool should wait for Enter before it ends, so that its messages
// can be read: only for names given as arguments, when the tool alone holds
// its console (Explorer opened a window for files dropped on it, not cmd or
// PowerShell), that console has a window that was not asked to stay hidden,
// on a station the user sees, and both standard input and output are that
// console.
bool waitsForEnter(const Start& start);
