// How a system reads names, ends lines, shows text and asks for help: a value for each
// system, passed to what follows the rules, so that each rule runs under either
// system's value on any host (LLVM's sys::path::Style is the model).
#pragma once

namespace sys {

struct Style {
    // "/?" asks for help, as it does for Windows commands.
    bool slashHelp;
    // A backslash in a typed name takes the next character literally, as POSIX
    // shells and terminals quote names; on Windows it separates folders.
    bool backslashEscapes;
    // A CR right before an LF is part of the line end, as Windows text mode reads
    // it. Files themselves are read and written as they are.
    bool crBeforeLfEndsLine;
    // A byte 0x80 to 0x9F that is no part of UTF-8 may steer a terminal, as on an
    // 8-bit POSIX terminal; on Windows it is a letter of a code page.
    bool eightBitControls;
    // Streams of names are read as Windows reads text: UTF-16 where they say so,
    // and a Ctrl-Z byte ends them. Elsewhere they are bytes.
    bool windowsText;

    static const Style posix, windows;
};

// The style of the system the tool runs on.
const Style& hostStyle();

} // namespace sys
