// What Windows decides where wine differs, as tables of what the system reports
// and what the tool makes of it. Each row follows Windows' documentation.

#include "windows_rules.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

// Reparse tags (winnt.h; MS-FSCC 2.1.2.1): bit 29 marks a name surrogate, a link to another file.
TEST(WindowsRules, RefuseOnlyReparsePointsThatLeadElsewhere)
{
    const struct {
        const char* tag;
        std::uint32_t value;
        bool refused;
    } cases[] = {
        {"IO_REPARSE_TAG_SYMLINK", 0xA000000C, true},
        {"IO_REPARSE_TAG_MOUNT_POINT (junction)", 0xA0000003, true},
        {"IO_REPARSE_TAG_LX_SYMLINK (WSL link)", 0xA000001D, true},
        {"IO_REPARSE_TAG_AF_UNIX (WSL socket)", 0x80000023, true},
        {"IO_REPARSE_TAG_LX_FIFO", 0x80000024, true},
        {"IO_REPARSE_TAG_LX_CHR", 0x80000025, true},
        {"IO_REPARSE_TAG_LX_BLK", 0x80000026, true},
        {"IO_REPARSE_TAG_CLOUD (OneDrive placeholder)", 0x9000001A, false},
        {"IO_REPARSE_TAG_CLOUD_3", 0x9000301A, false},
        {"IO_REPARSE_TAG_DEDUP", 0x80000013, false},
        {"IO_REPARSE_TAG_WOF (compressed)", 0x80000017, false},
        {"IO_REPARSE_TAG_HSM", 0xC0000004, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(refusesReparseTag(c.value), c.refused) << c.tag;
}

// MS-FSCC FILE_ID_INFORMATION: a file system without stable IDs gives 0; all ones where no
// ID can be given (FILE_INVALID_FILE_ID). Then the final paths (GetFinalPathNameByHandleW) tell.
TEST(WindowsRules, TellOneFileFromAnotherByIdOrElseByFinalPath)
{
    const std::string id1(16, '\x01'), id2 = std::string(15, '\x01') + '\x02', zero(16, '\0'), ones(16, '\xFF');
    const std::wstring a = L"\\Device\\HarddiskVolume3\\a.txt", b = L"\\Device\\HarddiskVolume3\\a.txt_noNl.txt";
    const struct {
        const char* what;
        FileIdentity first, second;
        bool same;
    } cases[] = {
        {"one ID on one volume", {7, id1, a}, {7, id1, b}, true},
        {"two IDs", {7, id1, a}, {7, id2, a}, false},
        {"one ID on two volumes", {7, id1, a}, {8, id1, a}, false},
        {"IDs of 0: the paths differ", {7, zero, a}, {7, zero, b}, false},
        {"IDs of 0: one path", {7, zero, a}, {7, zero, a}, true},
        {"IDs of all ones: the paths differ", {7, ones, a}, {7, ones, b}, false},
        {"one ID unknown: the paths", {7, id1, a}, {7, zero, b}, false},
        {"8-byte index of 0", {7, std::string(8, '\0'), a}, {7, std::string(8, '\0'), b}, false},
        {"nothing known: taken for one, never emptied", {7, zero, L""}, {7, zero, b}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sameFile(c.first, c.second), c.same) << c.what;
}

// WideCharToMultiByte: "For the code pages listed below, dwFlags must be set to 0" (42, 50220,
// 50221, 50222, 50225, 50227, 50229, 57002 through 57011, 65000); "For UTF-8 or code page 54936
// (GB18030), dwFlags must be set to either 0 or WC_ERR_INVALID_CHARS". A UTF-8 system code page
// (65001) is what GetACP() gives with "Use Unicode UTF-8 for worldwide language support".
TEST(WindowsRules, AskForNoBestFitOnlyWhereTheCodePageTakesIt)
{
    std::set<unsigned> refuse = {42, 50220, 50221, 50222, 50225, 50227, 50229, 54936, 65000, 65001};
    for (unsigned page = 57002; page <= 57011; ++page)
        refuse.insert(page);
    for (const unsigned page : {437u, 850u, 932u, 936u, 1250u, 1252u, 1253u, 20127u, 28591u, 57001u, 57012u, 42u,
                                50220u, 50221u, 50222u, 50225u, 50227u, 50229u, 54936u, 57002u, 57006u, 57011u,
                                65000u, 65001u})
        EXPECT_EQ(takesNoBestFit(page), refuse.count(page) == 0) << page;
}

// cmd writes its own commands' output (dir /b, echo) in the console's output code page, the
// OEM one where there is no console (437, 850, ...); scripts have always fed names in the ANSI one.
TEST(WindowsRules, ReadAPipedNameInTheCodePageThatNamesAFile)
{
    const struct {
        const char* what;
        unsigned ansi, oem;
        std::set<unsigned> naming; // the code pages in which the bytes name a file
        unsigned chosen;
    } cases[] = {
        {"the ANSI reading names a file", 1252, 850, {1252}, 1252},
        {"both do: as scripts have always fed names", 1252, 850, {1252, 850}, 1252},
        {"only the OEM reading does: dir /b", 1252, 850, {850}, 850},
        {"neither: the message shows the ANSI reading", 1252, 850, {}, 1252},
        {"one code page for both", 65001, 65001, {}, 65001},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pipedNameCodePage(c.ansi, c.oem, [&](unsigned page) { return c.naming.count(page) != 0; }), c.chosen)
            << c.what;
}

// Security descriptors (SE_DACL_PROTECTED, INHERITED_ACE = 0x10 in ACE_HEADER.AceFlags): a DACL
// that is protected or holds entries of its own was set for the file; one all inherited is the
// folder's. A NULL DACL lets everyone in; an empty one shuts out all but the owner.
TEST(WindowsRules, GiveANewCopyItsInputsDaclWhereTheInputWasMadePrivate)
{
    const struct {
        const char* what;
        bool hasDacl, isProtected;
        std::vector<unsigned char> aceFlags;
        bool kept;
    } cases[] = {
        {"all inherited from the folder", true, false, {0x10, 0x10, 0x13}, false},
        {"protected", true, true, {0x00}, true},
        {"protected, all its entries once inherited", true, true, {0x10, 0x10}, true},
        {"an entry of its own beside inherited ones", true, false, {0x10, 0x00, 0x10}, true},
        {"an entry of its own that new files in a folder would inherit", true, false, {0x10, 0x03}, true},
        {"empty: no one but the owner", true, false, {}, true},
        {"NULL DACL: everyone", false, false, {}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(keepsDaclOfInput(c.hasDacl, c.isProtected, c.aceFlags), c.kept) << c.what;
}

// Naming Files, Paths, and Namespaces: \\.\ is the Win32 device namespace, \\?\ passes a path
// as it stands (\\?\UNC\ for a share, \\?\Volume{GUID}\ for a volume); Named Pipe Names:
// \\ServerName\pipe\PipeName; Mailslot Names: \\ComputerName\mailslot\Name. GetFullPathNameW
// gives \\.\COM3 for COM3 (and \\.\nul for nul.txt before Windows 11).
TEST(WindowsRules, RefuseDevicePathsBeforeOpeningThem)
{
    const struct {
        std::wstring full;
        bool device;
    } cases[] = {
        {L"\\\\.\\COM3", true},
        {L"\\\\.\\nul", true},
        {L"\\\\.\\CONIN$", true},
        {L"\\\\.\\PhysicalDrive0", true},
        {L"\\\\.\\C:", true}, // the whole volume
        {L"\\\\.\\pipe\\x", true},
        {L"\\\\?\\GLOBALROOT\\Device\\Null", true},
        {L"\\\\server\\pipe\\x", true},
        {L"\\\\server\\PIPE", true},
        {L"\\\\server\\mailslot\\x", true},
        {L"\\\\?\\UNC\\server\\pipe\\x", true},
        {L"\\\\.\\C:\\dir\\file.txt", false},
        {L"\\\\?\\C:\\dir\\file.txt", false},
        {L"\\\\?\\Volume{26a21bda-a627-11d7-9931-806e6f6e6963}\\a.txt", false},
        {L"\\\\?\\UNC\\server\\share\\a.txt", false},
        {L"\\\\server\\share\\a.txt", false},
        {L"\\\\server\\pipes\\a.txt", false},
        {L"C:\\work\\nul.txt", false}, // Windows 11: a file
        {L"C:\\work\\COM3.txt", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isDevicePath(c.full), c.device) << testing::PrintToString(std::string(c.full.begin(), c.full.end()));
}

// Naming Files: "Do not end a file or directory name with a space or a period": Windows trims
// them from a path unless it starts with \\?\, though other systems' files have such names.
TEST(WindowsRules, OpenNamesEndingInADotOrBlankByTheirExactPath)
{
    const struct {
        std::wstring leaf;
        bool exact;
    } cases[] = {{L"rep.", true}, {L"rep ", true}, {L"rep..", true}, {L"rep", false}, {L"rep.txt", false}, {L".rc", false}};
    for (const auto& c : cases)
        EXPECT_EQ(opensOnlyByExactPath(c.leaf), c.exact) << std::string(c.leaf.begin(), c.leaf.end());
}

// "Parsing C command-line arguments" (Microsoft C runtime): blanks and tabs separate; 2n
// backslashes before a quote give n and the quote opens or closes, 2n+1 give n and a quote;
// in quotes, two quotes are one; the program's name ends at a blank outside quotes. The C
// runtime expands only wildcards that stand outside quotes.
TEST(WindowsRules, SplitTheCommandLineAsTheCRuntimeDoes)
{
    using Words = std::vector<std::string>;
    const struct {
        std::string line;
        Words words;
        std::vector<bool> literal;
    } cases[] = {
        {"nonl a.txt  b.txt\t", {"a.txt", "b.txt"}, {false, false}},
        {"\"C:\\Program Files\\nonl.exe\" x", {"x"}, {false}},
        {"C:\\tools\\nonl.exe \"New Text Document.txt\"", {"New Text Document.txt"}, {false}},
        {"nonl", {}, {}},
        {"nonl \"\"", {""}, {false}},
        {"nonl a\\\\b\\c", {"a\\\\b\\c"}, {false}},
        {"nonl \"a\\\\\" b", {"a\\", "b"}, {false, false}},
        {"nonl a\\\"b", {"a\"b"}, {false}},
        {"nonl a\\\\\\\"b", {"a\\\"b"}, {false}},
        {"nonl \"a\"\"b\" c", {"a\"b", "c"}, {false, false}},
        {"nonl \"My Documents\"\\*.txt", {"My Documents\\*.txt"}, {false}},
        {"nonl \"*.txt\" *.txt", {"*.txt", "*.txt"}, {true, false}},
        {"nonl \"a *.txt\" \"x?\"y", {"a *.txt", "x?y"}, {true, true}},
        {"nonl \"unclosed *", {"unclosed *"}, {true}},
    };
    for (const auto& c : cases) {
        Words words;
        std::vector<bool> literal;
        for (const CommandWord& word : commandLineWords(c.line)) {
            words.push_back(word.text);
            literal.push_back(word.quotedWildcard);
        }
        EXPECT_EQ(words, c.words) << c.line;
        EXPECT_EQ(literal, c.literal) << c.line;
    }
}

// Files dropped on the tool in Explorer: its own window waits; cmd, PowerShell, redirection and
// a window nobody sees (a scheduled task's: its window station lacks WSF_VISIBLE) never do.
TEST(WindowsRules, WaitForEnterOnlyInAVisibleWindowOfTheirOwn)
{
    const struct {
        bool namesGiven;
        unsigned long consoleProcesses;
        bool visible, inputIsConsole, outputIsConsole, waits;
    } cases[] = {
        {true, 1, true, true, true, true},    // dropped on it
        {true, 2, true, true, true, false},   // started from cmd or PowerShell
        {false, 1, true, true, true, false},  // double-clicked: asks for names until q
        {true, 1, true, false, true, false},  // names from a file
        {true, 1, true, true, false, false},  // messages to a file
        {true, 0, true, true, true, false},   // no console at all
        {true, 1, false, true, true, false},  // a scheduled task
    };
    for (const auto& c : cases)
        EXPECT_EQ(waitsForEnter(c.namesGiven, c.consoleProcesses, c.visible, c.inputIsConsole, c.outputIsConsole), c.waits)
            << c.namesGiven << c.consoleProcesses << c.visible << c.inputIsConsole << c.outputIsConsole;
}
