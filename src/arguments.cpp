#include "arguments.hpp"

Command parseArguments(const std::vector<std::string>& arguments, bool slashHelp)
{
    Command command;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (argument == "-h" || argument == "--help" || (slashHelp && argument == "/?"))) {
            return Command{Command::help, {}, {}};
        } else if (!optionsEnded && argument == "--version") {
            return Command{Command::version, {}, {}};
        } else if (!optionsEnded && !argument.empty() && argument[0] == '-') {
            return Command{Command::unknownOption, {}, argument};
        } else {
            command.names.push_back(argument);
        }
    }
    if (!command.names.empty())
        command.kind = Command::copyNames;
    return command;
}
