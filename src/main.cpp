// nonl: writes a copy of each named text file with every line feed left out,
// under the name followed by "_noNl.txt". Names come as arguments or, without
// any, are asked for one at a time until "q" is typed.

#include "arguments.hpp"
#include "file_copy.hpp"
#include "name_list.hpp"
#include "name_reader.hpp"
#include "names_input.hpp"
#include "system.hpp"
#include "terminal_text.hpp"

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char prompt[] = "Please enter name of file (enter \"q\" to quit): ";
const char quitWord[] = "q";

const char copiedMessage[] = "\nSuccessfully removed end-of-line characters from \"%s\"!\n\n";
const char openFailedMessage[] = "\nUnable to open file \"%s\"!\n\n";
const char createFailedMessage[] = "\nUnable to create file \"%s\"!\n\n";
const char readFailedMessage[] = "\nUnable to read file \"%s\"!\n\n";
const char writeFailedMessage[] = "\nUnable to write file \"%s\"!\n\n";

const char versionText[] =
    "nonl " NONL_VERSION "\n"
    "Copyright (c) 2026 the nonl authors\n"
    "License MIT <https://opensource.org/licenses/MIT>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";
const char unknownOptionText[] = "nonl: unknown option '%s' (see 'nonl --help')\n";
const char missingValueText[] = "nonl: option '%s' needs a file name (see 'nonl --help')\n";
const char helpText[] =
    "Usage: nonl [OPTION]... [NAME]...\n"
    "Write a copy of each text file NAME with every line feed (LF) left out,\n"
    "beside it, as NAME_noNl.txt. NAME itself is never changed.\n"
    "\n"
    "With no NAME and no list, ask for names until q is typed. Typed or piped\n"
    "names are words: a name with blanks goes in quotes, \"New Text Document.txt\"\n"
    "or 'my notes.txt'. A list given with --files-from takes each line whole.\n"
    "\n"
    "      --files-from=FILE   copy the files FILE names, one a line (- for\n"
    "                          standard input); blanks and quotes are part of\n"
    "                          a name, q is a name, empty lines are skipped\n"
    "      --files0-from=FILE  the same with each name ended by a NUL byte\n"
    "  -h, --help              show this help and exit (on Windows also /?)\n"
    "      --version           show the version and exit\n"
    "  --                      take every argument after it as a NAME\n"
    "\n"
    "Lists of names from cmd, PowerShell and find (in PowerShell 5.1 set\n"
    "$OutputEncoding = [Text.Encoding]::UTF8 first):\n"
    "  dir /b *.txt | nonl --files-from=-\n"
    "  Get-ChildItem -Name *.txt | nonl --files-from=-\n"
    "  find . -name '*.txt' -print0 | nonl --files0-from=-\n"
    "\n"
    "Success is reported on standard output; a file that could not be opened,\n"
    "created, read or written is reported on standard error (on standard\n"
    "output when names are typed).\n"
    "\n"
    "Exit status: 0 if every NAME was copied, 1 if any was not (or a message\n"
    "could not be written), 2 for an unknown option or a list option without\n"
    "its file. Typed names always end with status 0.\n";

// A message with the name in place of its %s, cut at a NUL as printf cuts it.
std::string message(const char* format, const std::string& name)
{
    const int size = std::snprintf(nullptr, 0, format, name.c_str());
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(&text[0], text.size(), format, name.c_str());
    text.pop_back();
    return text;
}

// Says the message on stream, in a file or pipe in the encoding the name came in;
// at a terminal no control character of the name can steer it.
void say(std::FILE* stream, const char* format, const std::string& name, sys::Encoding encoding)
{
    sys::show(stream, message(format, sys::isTerminal(stream) ? harmless(name, sys::eightBitControls, sys::terminalReadsUtf8()) : name),
              encoding);
}

// Copies one file and says how it went: success on stdout, failure on failures.
// With lineFree, a long copy may show its progress on a line of its own.
bool copyAndReport(const std::string& name, sys::Encoding encoding, CopyBuffer& buffer, std::FILE* failures,
                   bool lineFree)
{
    const std::string& oldFileName = name;
    const std::string filename = copyName(oldFileName);
    switch (removeLineFeeds(oldFileName, buffer, lineFree)) {
    case Outcome::copied:
        say(stdout, copiedMessage, oldFileName, encoding);
        return true;
    case Outcome::openFailed:
        say(failures, openFailedMessage, oldFileName, encoding);
        break;
    case Outcome::createFailed:
        say(failures, createFailedMessage, filename, encoding);
        break;
    case Outcome::readFailed:
        say(failures, readFailedMessage, oldFileName, encoding);
        break;
    case Outcome::writeFailed:
        say(failures, writeFailedMessage, filename, encoding);
        break;
    }
    return false;
}

// Asks for names until q or the end of input; everything is said on stdout.
int askForNames(CopyBuffer& buffer)
{
    const sys::TypedNames typed = sys::typedNames();
    NameReader reader(typed.stream, sys::backslashEscapes);
    const bool typedAtTerminal = sys::namesTypedAtTerminal();
    for (Name filename;;) {
        // A name typed ahead was shown before this prompt, so its Enter did not end the prompt's
        // line. Asked before the prompt is shown: what is typed once it shows comes after it.
        const bool typedAfterPrompt = typedAtTerminal && !sys::typedAhead();
        std::cout << prompt << std::flush;
        // The end of input ends the tool as the quit word does; at a terminal (Ctrl-D)
        // the prompt's line is ended, so that the shell's prompt starts a line of its own.
        if (!reader.next(filename)) {
            if (typedAtTerminal && sys::isTerminal(stdout))
                sys::show(stdout, "\n", sys::argumentsEncoding);
            return 0;
        }
        if (!filename.quoted && filename.text == quitWord)
            return 0;
        const sys::Encoding encoding = typed.take(filename.text);
        if (filename.tooLong)
            say(stdout, openFailedMessage, filename.text, encoding);
        else // a progress line only where the cursor stands at a line's start, not after a prompt
            copyAndReport(filename.text, encoding, buffer, stdout, typedAfterPrompt && filename.ownLine);
    }
}

// Copies every name of a list; true when all were copied.
bool copyListed(const Command::List& list, CopyBuffer& buffer)
{
    const bool piped = list.file == "-";
    sys::File file = piped ? sys::File() : sys::openList(list.file);
    if (!piped && !file.isOpen()) {
        say(stderr, openFailedMessage, list.file, sys::argumentsEncoding);
        return false;
    }
    sys::FileBuffer bytes(file);
    NamesInput decoded(piped ? sys::standardInput() : bytes, sys::windowsText, sys::windowsText, !list.nulEnded);
    NameList names(decoded, list.nulEnded);
    bool allCopied = true;
    for (Name name; names.next(name);) {
        const sys::Encoding encoding = sys::takeListed(name.text, decoded.mark());
        if (name.tooLong)
            say(stderr, openFailedMessage, name.text, encoding);
        allCopied = !name.tooLong && copyAndReport(name.text, encoding, buffer, stderr, true) && allCopied;
    }
    return allCopied;
}

// Copies every name given as an argument, then those of each list; true when all were copied.
bool copyNames(const Command& command)
{
    CopyBuffer buffer(copyBlockSize);
    bool allCopied = true;
    for (const std::string& name : sys::filesNamed(command.names))
        allCopied = copyAndReport(name, sys::argumentsEncoding, buffer, stderr, true) && allCopied;
    for (const Command::List& list : command.lists)
        allCopied = copyListed(list, buffer) && allCopied;
    return allCopied;
}

} // namespace

int main(int argc, char** argv)
{
    const Command command = parseArguments(sys::startUp(argc, argv), sys::slashHelp);
    bool done = true;
    switch (command.kind) {
    case Command::loop: {
        CopyBuffer buffer(copyBlockSize);
        return askForNames(buffer);
    }
    case Command::unknownOption:
    case Command::missingValue:
        say(stderr, command.kind == Command::unknownOption ? unknownOptionText : missingValueText, command.option,
            sys::argumentsEncoding);
        return 2;
    case Command::copyNames:
        sys::goOnWithoutReader();
        done = copyNames(command);
        break;
    case Command::help:
        sys::show(stdout, helpText, sys::argumentsEncoding);
        break;
    case Command::version:
        sys::show(stdout, versionText, sys::argumentsEncoding);
        break;
    }
    // A script must not take a message that never arrived for success.
    const bool said = std::fflush(stdout) == 0 && !std::ferror(stdout);
    sys::keepWindowOpen(command.kind == Command::copyNames);
    return done && said ? 0 : 1;
}
