// Systems whose file names and console text are bytes, served by the standard
// library alone.

#include "system.hpp"

#include <csignal>
#include <iostream>
#include <system_error>

namespace sys {

const bool slashHelp = false;

std::vector<std::string> startUp(int argc, char** argv)
{
#ifdef SIGXFSZ
    // Over a file-size limit a write should fail and be reported, not end the tool.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::istream& typedInput() { return std::cin; }

std::filesystem::path filePath(const std::string& name) { return name; }

void show(std::FILE* stream, const std::string& text)
{
    std::fputs(text.c_str(), stream);
    // Messages on stdout and stderr keep their order in one file or pipe.
    std::fflush(stream);
}

// A file system without such bits refuses the change, and there is nothing to take.
void narrowPermissions(const std::filesystem::path& copy, std::filesystem::perms allowed)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::perms given = fs::status(copy, error).permissions();
    if (!error && allowed != fs::perms::unknown && (given & ~allowed) != fs::perms::none)
        fs::permissions(copy, given & allowed, fs::perm_options::replace, error);
}

} // namespace sys
