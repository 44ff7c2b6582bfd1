// Systems whose file names and console text are bytes, served by the standard
// library alone.

#include "system.hpp"

#include <csignal>
#include <iostream>
#include <random>
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
}

namespace {

namespace fs = std::filesystem;

// Takes from copy every permission that input lacks.
bool restrictLike(const fs::path& input, const fs::path& copy)
{
    std::error_code error;
    const fs::perms allowed = fs::status(input, error).permissions();
    if (error)
        return false;
    const fs::perms given = fs::status(copy, error).permissions();
    if (!error && (given & ~allowed) != fs::perms::none)
        fs::permissions(copy, given & allowed, fs::perm_options::replace, error);
    return !error;
}

// A new, empty folder beside copy that only its owner may enter, or an empty path.
fs::path makeRoom(const fs::path& copy)
{
    const fs::path folder = copy.has_parent_path() ? copy.parent_path() : fs::path(".");
    std::random_device random;
    std::error_code error;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const fs::path room = folder / (".nonl-" + std::to_string(random()));
        if (!fs::create_directory(room, error))
            continue;
        fs::permissions(room, fs::perms::owner_all, fs::perm_options::replace, error);
        // Before it was closed, somebody else may have put something in it.
        if (!error && fs::is_empty(room, error) && !error)
            return room;
        fs::remove_all(room, error);
        return fs::path();
    }
    return fs::path();
}

} // namespace

// The file is made in a folder nobody else may enter and gets its permissions
// there: a file can be opened by its name only through its folder, so nobody
// can hold it open from before. Then it moves to its name.
bool createPrivately(std::ofstream& file, const fs::path& input, const fs::path& copy)
{
    const fs::path room = makeRoom(copy);
    if (room.empty())
        return false;
    const fs::path inside = room / "copy";
    std::error_code error;
    file.open(inside);
    if (file.is_open() && restrictLike(input, inside))
        fs::rename(inside, copy, error);
    else
        error = std::make_error_code(std::errc::permission_denied);
    if (error) {
        file.close();
        fs::remove(inside, error);
    }
    const bool made = file.is_open();
    fs::remove(room, error);
    return made;
}

} // namespace sys
