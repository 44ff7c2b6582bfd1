#include "names/arguments.hpp"

namespace {

// The options that take a list of names: one a line, as GNU tar and rsync name it, and
// each ended by NUL, as GNU du and wc name it.
const struct {
    const char* option;
    bool nulEnded;
} listOptions[] = {{"--files-from", false}, {"--files0-from", true}};

} // namespace

Command parseArguments(const std::vector<Argument>& arguments, bool slashHelp)
{
    Command command;
    bool optionsEnded = false;
    for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
        const std::string& word = argument->text;
        if (optionsEnded || word.empty() || word[0] != '-') {
            if (!optionsEnded && slashHelp && word == "/?")
                return Command{Command::help, {}, {}, {}};
            command.names.push_back(*argument);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "-h" || word == "--help")
            return Command{Command::help, {}, {}, {}};
        if (word == "--version")
            return Command{Command::version, {}, {}, {}};
        bool listed = false;
        for (const auto& list : listOptions) {
            const std::string option = list.option;
            if (word.compare(0, option.size() + 1, option + "=") == 0) {
                command.lists.push_back({word.substr(option.size() + 1), list.nulEnded});
            } else if (word == option) {
                if (++argument == arguments.end())
                    return Command{Command::missingValue, {}, {}, option};
                command.lists.push_back({argument->text, list.nulEnded});
            } else {
                continue;
            }
            listed = true;
            break;
        }
        if (!listed)
            return Command{Command::unknownOption, {}, {}, word};
    }
    if (!command.names.empty() || !command.lists.empty())
        command.kind = Command::copyNames;
    return command;
}

const char usage[] =
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
