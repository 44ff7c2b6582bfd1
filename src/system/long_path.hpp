// Windows paths of any length: how a name is handed to the system to be opened.
#pragma once

#include <string>

// Windows opens paths of fewer than 260 characters (MAX_PATH with its NUL) as
// they are. A longer one is opened, on every Windows from 7 on and without any
// system setting, in its extended form: its full path (full, as
// GetFullPathNameW gives it: absolute, with backslashes and no "..") after
// \\?\, or \\?\UNC\ for a network path \\server\share. Shorter names are
// opened exactly as given, and so is a name that is already extended.
std::wstring pathToOpen(const std::wstring& name, const std::wstring& full);

// A full path in its extended form, which Windows takes exactly as it stands
// (no trimming of a last dot or blank): after \\?\, or \\?\UNC\ for a network
// path. One already extended stays as it is; one after \\.\ (a drive's, as devices
// are never opened) takes \\?\ instead.
std::wstring extendedPath(const std::wstring& full);
