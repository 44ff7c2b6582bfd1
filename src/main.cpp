// nonl: writes a copy of each named text file with every line feed left out,
// under the name followed by "_noNl.txt". Names come as arguments or, without
// any, are asked for one at a time until "q" is typed.

#include "console/terminal_text.hpp"
#include "copy/file.hpp"
#include "names/arguments.hpp"
#include "names/list.hpp"
#include "names/stream.hpp"
#include "names/typed.hpp"
#include "system/system.hpp"

#include <cstdio>
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

// What every name shares: the system's style, and the one block that copies work in.
struct Tool {
    const sys::Style& style;
    CopyBuffer buffer{copyBlockSize};
};

// A message with the name in place of its %s, cut at a NUL as printf cuts it.
std::string message(const char* format, const std::string& name)
{
    const int size = std::snprintf(nullptr, 0, format, name.c_str());
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(&text[0], text.size(), format, name.c_str());
    text.pop_back();
    return text;
}

// A name as a terminal may show it: no control character of it can steer the terminal.
std::string shown(const std::string& name, const sys::Style& style)
{
    return harmless(name, style.eightBitControls, sys::terminalReadsUtf8());
}

// Says the message on stream, at a terminal with the name shown, in a file or a pipe
// in the name's encoding.
void say(std::FILE* stream, const char* format, const sys::HeldName& name, const sys::Style& style)
{
    sys::show(stream, message(format, sys::isTerminal(stream) ? shown(name.text, style) : name.text), name.encoding);
}

// Copies one file and says how it went: success on stdout, failure on failures.
// With lineFree, a long copy may show its progress on a line of its own.
bool copyAndReport(const sys::HeldName& name, Tool& tool, std::FILE* failures, bool lineFree)
{
    const std::string& oldFileName = name.text;
    const sys::HeldName filename{copyName(oldFileName), name.encoding};
    const LineEnds ends = tool.style.crBeforeLfEndsLine ? LineEnds::crlf : LineEnds::lf;
    switch (makeCopy(oldFileName, ends, tool.buffer, lineFree ? sys::progressLine() : Progress::Draw())) {
    case Outcome::copied:
        say(stdout, copiedMessage, name, tool.style);
        return true;
    case Outcome::openFailed:
        say(failures, openFailedMessage, name, tool.style);
        break;
    case Outcome::createFailed:
        say(failures, createFailedMessage, filename, tool.style);
        break;
    case Outcome::readFailed:
        say(failures, readFailedMessage, name, tool.style);
        break;
    case Outcome::writeFailed:
        say(failures, writeFailedMessage, filename, tool.style);
        break;
    }
    return false;
}

// Asks for names until q or the end of input; everything is said on stdout.
int askForNames(Tool& tool)
{
    const bool typedAtTerminal = sys::namesTypedAtTerminal();
    NamesInput decoded(sys::standardInput(), tool.style.windowsText, tool.style.windowsText);
    NameReader reader(decoded, tool.style.backslashEscapes);
    for (Name filename;;) {
        // A name typed ahead was shown before this prompt, so its Enter did not end the prompt's line.
        const bool typedAfterPrompt = !sys::prompt(prompt) && typedAtTerminal;
        // The end of input ends the tool as the quit word does; at a terminal (Ctrl-D)
        // the prompt's line is ended, so that the shell's prompt starts a line of its own.
        if (!reader.next(filename)) {
            if (typedAtTerminal && sys::isTerminal(stdout))
                sys::show(stdout, "\n", sys::argumentsEncoding);
            return 0;
        }
        if (!filename.literal && filename.text == quitWord)
            return 0;
        const sys::HeldName name = sys::takeName(filename.text, decoded.mark(), typedAtTerminal);
        if (filename.tooLong)
            say(stdout, openFailedMessage, name, tool.style);
        else // a progress line only where the cursor stands at a line's start, not after a prompt
            copyAndReport(name, tool, stdout, typedAfterPrompt && filename.ownLine);
    }
}

// Copies every name of a list; true when all were copied.
bool copyListed(const Command::List& list, Tool& tool)
{
    const bool piped = list.file == "-";
    sys::File file = piped ? sys::File() : sys::openList(list.file);
    if (!piped && !file.isOpen()) {
        say(stderr, openFailedMessage, {list.file, sys::argumentsEncoding}, tool.style);
        return false;
    }
    sys::FileBuffer fromFile(file);
    sys::Bytes& bytes = piped ? sys::standardInput() : fromFile;
    const bool windowsText = tool.style.windowsText;
    NamesInput decoded(bytes, windowsText, windowsText, !list.nulEnded);
    NameList names(decoded, list.nulEnded);
    const bool typed = piped && sys::namesTypedAtTerminal();
    bool allCopied = true;
    for (Name listed; names.next(listed);) {
        const sys::HeldName name = sys::takeName(listed.text, decoded.mark(), typed);
        if (listed.tooLong)
            say(stderr, openFailedMessage, name, tool.style);
        allCopied = !listed.tooLong && copyAndReport(name, tool, stderr, true) && allCopied;
    }
    // A list read part-way may have named more.
    if (bytes.failed())
        say(stderr, readFailedMessage, {list.file, sys::argumentsEncoding}, tool.style);
    return allCopied && !bytes.failed();
}

// Copies every name given as an argument, then those of each list; true when all were copied.
bool copyNames(const Command& command, Tool& tool)
{
    bool allCopied = true;
    for (const std::string& name : sys::filesNamed(command.names))
        allCopied = copyAndReport({name, sys::argumentsEncoding}, tool, stderr, true) && allCopied;
    for (const Command::List& list : command.lists)
        allCopied = copyListed(list, tool) && allCopied;
    return allCopied;
}

} // namespace

int main(int argc, char** argv)
{
    const sys::Style& style = sys::hostStyle();
    const Command command = parseArguments(sys::startUp(argc, argv), style.slashHelp);
    bool done = true;
    switch (command.kind) {
    case Command::askForNames: {
        Tool tool{style};
        return askForNames(tool);
    }
    case Command::unknownOption:
    case Command::missingValue:
        say(stderr, command.kind == Command::unknownOption ? unknownOptionText : missingValueText,
            {command.option, sys::argumentsEncoding}, style);
        return 2;
    case Command::copyNames: {
        sys::goOnWithoutReader();
        Tool tool{style};
        done = copyNames(command, tool);
        break;
    }
    case Command::help:
        sys::show(stdout, usage, sys::argumentsEncoding);
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
