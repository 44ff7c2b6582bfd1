// What a copy is called: the name of its input with this suffix.
#pragma once

#include <string>

constexpr char copySuffix[] = "_noNl.txt";

// The name of the copy of the file called name: name followed by "_noNl.txt".
inline std::string copyName(const std::string& name) { return name + copySuffix; }
