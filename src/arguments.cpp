#include "arguments.hpp"

namespace {

// The options that take a list of names: one a line, as GNU tar and rsync name it, and
// each ended by NUL, as GNU du and wc name it.
const struct {
    const char* option;
    bool nulEnded;
} listOptions[] = {{"--files-from", false}, {"--files0-from", true}};

} // namespace

Command parseArguments(const std::vector<std::string>& arguments, bool slashHelp)
{
    Command command;
    bool optionsEnded = false;
    for (auto argument = arguments.begin(); argument != arguments.end(); ++argument) {
        if (optionsEnded || argument->empty() || (*argument)[0] != '-') {
            if (!optionsEnded && slashHelp && *argument == "/?")
                return Command{Command::help, {}, {}, {}};
            command.names.push_back(*argument);
            continue;
        }
        if (*argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (*argument == "-h" || *argument == "--help")
            return Command{Command::help, {}, {}, {}};
        if (*argument == "--version")
            return Command{Command::version, {}, {}, {}};
        bool listed = false;
        for (const auto& list : listOptions) {
            const std::string option = list.option;
            if (argument->compare(0, option.size() + 1, option + "=") == 0) {
                command.lists.push_back({argument->substr(option.size() + 1), list.nulEnded});
            } else if (*argument == option) {
                if (++argument == arguments.end())
                    return Command{Command::missingValue, {}, {}, option};
                command.lists.push_back({*argument, list.nulEnded});
            } else {
                continue;
            }
            listed = true;
            break;
        }
        if (!listed)
            return Command{Command::unknownOption, {}, {}, *argument};
    }
    if (!command.names.empty() || !command.lists.empty())
        command.kind = Command::copyNames;
    return command;
}
