#include "system/long_path.hpp"

std::wstring extendedPath(const std::wstring& full)
{
    if (full.compare(0, 4, L"\\\\?\\") == 0)
        return full;
    if (full.compare(0, 4, L"\\\\.\\") == 0) // Windows would still trim it
        return L"\\\\?\\" + full.substr(4);
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring pathToOpen(const std::wstring& name, const std::wstring& full)
{
    constexpr std::size_t longestShortPath = 259; // MAX_PATH less its NUL
    return full.size() <= longestShortPath ? name : extendedPath(full);
}
