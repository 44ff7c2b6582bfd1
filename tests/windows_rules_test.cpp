// What Windows decides where wine differs: what the system reports in, what the tool makes of
// it out. Each table follows the Windows documentation it names.

#include "system/windows_rules.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

// winnt.h, MS-FSCC 2.1.2.1: bit 29 of a reparse tag marks a name surrogate, a link elsewhere.
TEST(WindowsRules, RefuseOnlyReparsePointsThatLeadElsewhere)
{
    // SYMLINK, MOUNT_POINT (junction), LX_SYMLINK; WSL's AF_UNIX, LX_FIFO, LX_CHR, LX_BLK.
    for (const std::uint32_t tag : {0xA000000Cu, 0xA0000003u, 0xA000001Du, 0x80000023u, 0x80000024u, 0x80000025u, 0x80000026u})
        EXPECT_TRUE(refusesReparseTag(tag)) << std::hex << tag;
    // Files the system serves: CLOUD (OneDrive), CLOUD_3, DEDUP, WOF (compressed), HSM.
    for (const std::uint32_t tag : {0x9000001Au, 0x9000301Au, 0x80000013u, 0x80000017u, 0xC0000004u})
        EXPECT_FALSE(refusesReparseTag(tag)) << std::hex << tag;
}

// MS-FSCC FILE_ID_INFORMATION: 0 from a file system without stable IDs, all ones where none can
// be given (FILE_INVALID_FILE_ID); then the final paths (GetFinalPathNameByHandleW) tell, but
// not of a file with more than one name (nNumberOfLinks).
TEST(WindowsRules, TellOneFileFromAnotherByIdOrElseByFinalPath)
{
    const std::string id(16, '\x01'), other = std::string(15, '\x01') + '\x02', zero(16, '\0'), ones(16, '\xFF');
    const std::wstring a = L"\\Device\\HarddiskVolume3\\a.txt", b = L"\\Device\\HarddiskVolume3\\a.txt_noNl.txt";
    const struct {
        FileIdentity first, second;
        bool same;
    } cases[] = {
        {{7, id, a}, {7, id, b}, true},          {{7, id, a}, {7, other, a}, false},  {{7, id, a}, {8, id, a}, false},
        {{7, zero, a}, {7, zero, b}, false},     {{7, zero, a}, {7, zero, a}, true},  {{7, ones, a}, {7, ones, b}, false},
        {{7, id, a}, {7, zero, b}, false},       {{7, std::string(8, '\0'), a}, {7, std::string(8, '\0'), b}, false},
        {{7, zero, a, 2}, {7, zero, b, 2}, true}, // hard links: a final path is each one's own
        {{7, zero, L""}, {7, zero, b}, true}, // nothing tells: never taken for another file and emptied
    };
    for (const auto& c : cases)
        EXPECT_EQ(sameFile(c.first, c.second), c.same) << &c - cases;
}

// A copy and the folder its name is in (GetFinalPathNameByHandleW of each, links resolved; a drive's
// root with its backslash). A file link at the name may lead elsewhere: the folder is the name's.
TEST(WindowsRules, KeepACopyInTheFolderOfItsName)
{
    const std::wstring folder = L"\\\\?\\C:\\A", copy = folder + L"\\f_noNl.txt";
    EXPECT_TRUE(standsIn(folder, copy));
    EXPECT_FALSE(standsIn(folder, L"\\\\?\\C:\\B\\f_noNl.txt"));
    EXPECT_FALSE(standsIn(folder, L"\\\\?\\C:\\A\\sub\\f_noNl.txt"));
    EXPECT_FALSE(standsIn(folder, L"\\\\?\\C:\\AB\\f_noNl.txt"));
    EXPECT_FALSE(standsIn(folder, L"\\\\?\\D:\\A\\f_noNl.txt"));
    EXPECT_TRUE(standsIn(L"\\\\?\\C:\\", L"\\\\?\\C:\\f_noNl.txt"));
    EXPECT_TRUE(standsIn(L"", copy)); // the system cannot say
    // CreateFileW opens a folder with FILE_FLAG_BACKUP_SEMANTICS by its path; a root only with its backslash.
    const std::pair<std::wstring, std::wstring> folders[] = {
        {L"C:\\work\\sub\\x.txt", L"C:\\work\\sub"}, {L"C:\\x.txt", L"C:\\"},
        {L"\\\\server\\share\\x.txt", L"\\\\server\\share\\"}, {L"\\\\server\\share\\d\\x", L"\\\\server\\share\\d"},
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\"}, {L"\\\\?\\UNC\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\"},
        {L"\\\\?\\C:\\d\\x", L"\\\\?\\C:\\d"}, {L"\\\\.\\C:\\x", L"\\\\.\\C:\\"},
    };
    for (const auto& [full, folder] : folders)
        EXPECT_EQ(folderOf(full), folder) << std::string(full.begin(), full.end());
}

// Naming Files, Paths, and Namespaces: a colon is no character of a file's name; File Streams:
// a stream is named as filename:stream:type (notes.txt:s, notes.txt::$DATA). A drive's colon, a
// share's or a volume's path are no stream.
TEST(WindowsRules, TellANameOfAStreamFromAFilesName)
{
    for (const std::wstring stream : {L"C:\\dir\\notes.txt:s", L"C:\\notes.txt::$DATA", L"\\\\?\\C:\\a\\b:c",
                                      L"\\\\server\\share\\a:b", L"\\\\?\\UNC\\server\\share\\x:y",
                                      L"\\\\?\\Volume{26a21bda-a627-11d7-9931-806e6f6e6963}\\a:b", L"\\\\.\\C:\\d\\f:s"})
        EXPECT_TRUE(namesStream(stream)) << std::string(stream.begin(), stream.end());
    for (const std::wstring file : {L"C:\\dir\\notes.txt", L"\\\\?\\C:\\a\\b", L"\\\\server\\share\\a",
                                    L"\\\\?\\UNC\\server\\share\\x", L"\\\\.\\C:\\d\\f",
                                    L"\\\\?\\Volume{26a21bda-a627-11d7-9931-806e6f6e6963}\\a"})
        EXPECT_FALSE(namesStream(file)) << std::string(file.begin(), file.end());
}

// Handling Encrypted Files and Directories: "To encrypt a new file, use the CreateFile function
// with the FILE_ATTRIBUTE_ENCRYPTED flag" (0x4000); CopyFile keeps encryption or fails with
// ERROR_ENCRYPTION_FAILED. File Attribute Constants: FILE_ATTRIBUTE_NORMAL (0x80) stands alone.
TEST(WindowsRules, EncryptTheCopyOfAnEncryptedInputOrMakeNone)
{
    EXPECT_EQ(newCopyAttributes(0x20), 0x80u);          // archive
    EXPECT_EQ(newCopyAttributes(0x4020), 0x4000u);      // encrypted
    EXPECT_EQ(newCopyAttributes(0x4000 | 0x1), 0x4000u); // read-only and hidden are not carried
    EXPECT_TRUE(keepsEncryption(0x20, 0x20));
    EXPECT_TRUE(keepsEncryption(0x4020, 0x4020));
    EXPECT_FALSE(keepsEncryption(0x4020, 0x20)); // a file system without EFS (FAT, a share) made it plain
    EXPECT_TRUE(keepsEncryption(0x20, 0x4020));  // a folder that encrypts what is made in it
}

// File Attribute Constants: FILE_ATTRIBUTE_READONLY (0x1) keeps applications from writing or deleting a
// file, as a POSIX file without write bits; FILE_ATTRIBUTE_HIDDEN (0x2) and _SYSTEM (0x4) say how a file
// is listed and used.
TEST(WindowsRules, CarryReadOnlyToTheCopyButNotHiddenOrSystem)
{
    EXPECT_EQ(carriedAttributes(0x21), 0x1u);
    EXPECT_EQ(carriedAttributes(0x4001), 0x1u);
    EXPECT_EQ(carriedAttributes(0x2 | 0x4 | 0x20), 0x0u);
}

// GetConsoleOutputCP: the code page the console translates output in; it gives 0 without a console.
// cmd's own commands redirected (dir /b > list.txt) write in it, and PowerShell decodes what a native
// program writes with [Console]::OutputEncoding, which is it: $r = .\nonl.exe caf\u00E9.txt.
TEST(WindowsRules, WriteRedirectedMessagesInTheConsolesOutputCodePage)
{
    EXPECT_EQ(messagesCodePage(437, 1252), 437u);
    EXPECT_EQ(messagesCodePage(65001, 1252), 65001u); // chcp 65001
    EXPECT_EQ(messagesCodePage(0, 1252), 1252u);      // no console (CREATE_NO_WINDOW gives one; DETACHED_PROCESS none)
}

// GetConsoleProcessList: a console that lists the tool alone was made for it. GetConsoleWindow: NULL for a
// console without a window (CREATE_NO_WINDOW); a pseudoconsole's window handle (Windows Terminal) is never
// shown but is there. STARTUPINFO: wShowWindow counts where dwFlags holds STARTF_USESHOWWINDOW, and SW_HIDE
// (WshShell.Run ..., 0; Start-Process -WindowStyle Hidden) keeps the window from being shown. A service's
// window station lacks WSF_VISIBLE (a scheduled task run whether or not the user is logged on).
TEST(WindowsRules, WaitForEnterOnlyWhereSomeoneCanPressIt)
{
    const struct {
        const char* what;
        Start start;
        bool waits;
    } cases[] = {
        {"files dropped on it in Explorer", {true}, true},
        {"dropped, under Windows Terminal's pseudoconsole", {true, 1, true, true}, true},
        {"no names: the interactive mode ends on q", {false}, false},
        {"from cmd or PowerShell, which share the console", {true, 2}, false},
        {"a scheduled task on a service's station", {true, 1, false}, false},
        {"CREATE_NO_WINDOW: no window at all", {true, 1, true, false}, false},
        {"a hidden window", {true, 1, true, true, true}, false},
        {"input redirected", {true, 1, true, true, false, false, true}, false},
        {"output redirected", {true, 1, true, true, false, true, false}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(waitsForEnter(c.start), c.waits) << c.what;
}

// WideCharToMultiByte: dwFlags must be 0 for 42, 50220, 50221, 50222, 50225, 50227, 50229, 57002
// through 57011 and 65000, and 0 or WC_ERR_INVALID_CHARS for UTF-8 (65001, what GetACP() gives
// with "Use Unicode UTF-8 for worldwide language support") and 54936.
TEST(WindowsRules, AskForNoBestFitOnlyWhereTheCodePageTakesIt)
{
    for (const unsigned page : {437u, 850u, 932u, 936u, 1250u, 1252u, 20127u, 28591u, 57001u, 57012u})
        EXPECT_TRUE(takesNoBestFit(page)) << page;
    for (const unsigned page : {42u, 50220u, 50221u, 50222u, 50225u, 50227u, 50229u, 54936u, 57002u, 57006u, 57011u, 65000u, 65001u})
        EXPECT_FALSE(takesNoBestFit(page)) << page;
}

// cmd writes its own commands' output (dir /b) in the console's output code page, the OEM one
// where there is no console; scripts have always fed names in the ANSI one.
TEST(WindowsRules, ReadAPipedNameInTheCodePageThatNamesAFile)
{
    // The code pages whose reading names a file, and the one chosen, for ANSI 1252 and OEM 850.
    const std::pair<std::set<unsigned>, unsigned> cases[] = {{{1252}, 1252}, {{1252, 850}, 1252}, {{850}, 850}, {{}, 1252}};
    for (const auto& c : cases)
        EXPECT_EQ(pipedNameCodePage(1252, 850, [&c](unsigned page) { return c.first.count(page) != 0; }), c.second)
            << c.second;
    EXPECT_EQ(pipedNameCodePage(65001, 65001, [](unsigned) { return false; }), 65001u);
}

// Security descriptors: SE_DACL_PROTECTED, and INHERITED_ACE (0x10) in ACE_HEADER.AceFlags. A
// NULL DACL lets everyone in; an empty one shuts out all but the owner.
TEST(WindowsRules, GiveANewCopyItsInputsDaclWhereTheInputWasMadePrivate)
{
    EXPECT_FALSE(keepsDaclOfInput(true, false, {0x10, 0x10, 0x13})); // all inherited from the folder
    EXPECT_TRUE(keepsDaclOfInput(true, true, {0x00}));
    EXPECT_TRUE(keepsDaclOfInput(true, true, {0x10, 0x10}));         // protected, once inherited
    EXPECT_TRUE(keepsDaclOfInput(true, false, {0x10, 0x00, 0x10}));  // an entry of its own
    EXPECT_TRUE(keepsDaclOfInput(true, false, {0x10, 0x03}));        // one of its own that it passes on
    EXPECT_TRUE(keepsDaclOfInput(true, false, {}));                  // empty
    EXPECT_FALSE(keepsDaclOfInput(false, false, {}));                // NULL
}

// Naming Files, Paths, and Namespaces: \\.\ is the device namespace, \\?\ takes a path as it
// stands (\\?\UNC\ a share, \\?\Volume{GUID}\ a volume); \\server\pipe\name and \\server\mailslot\name
// (Named Pipe Names, Mailslot Names). GetFullPathNameW makes COM3 \\.\COM3, and nul.txt \\.\nul
// before Windows 11.
TEST(WindowsRules, RefuseDevicePathsBeforeOpeningThem)
{
    for (const std::wstring device : {L"\\\\.\\COM3", L"\\\\.\\nul", L"\\\\.\\CONIN$", L"\\\\.\\PhysicalDrive0",
                                      L"\\\\.\\C:", L"\\\\.\\pipe\\x", L"\\\\?\\GLOBALROOT\\Device\\Null",
                                      L"\\\\server\\pipe\\x", L"\\\\server\\PIPE", L"\\\\server\\mailslot\\x",
                                      L"\\\\?\\UNC\\server\\pipe\\x"})
        EXPECT_TRUE(isDevicePath(device)) << std::string(device.begin(), device.end());
    for (const std::wstring file : {L"\\\\.\\C:\\dir\\file.txt", L"\\\\?\\C:\\dir\\file.txt",
                                    L"\\\\?\\Volume{26a21bda-a627-11d7-9931-806e6f6e6963}\\a.txt",
                                    L"\\\\?\\UNC\\server\\share\\a.txt", L"\\\\server\\share\\a.txt",
                                    L"\\\\server\\pipes\\a.txt", L"C:\\work\\nul.txt", L"C:\\work\\COM3.txt"})
        EXPECT_FALSE(isDevicePath(file)) << std::string(file.begin(), file.end());
}

// Naming Files: Windows trims a last space or period from a name unless the path starts with \\?\.
TEST(WindowsRules, OpenNamesEndingInADotOrBlankByTheirExactPath)
{
    for (const std::wstring leaf : {L"rep.", L"rep ", L"rep.."})
        EXPECT_TRUE(opensOnlyByExactPath(leaf));
    for (const std::wstring leaf : {L"rep", L"rep.txt", L".rc"})
        EXPECT_FALSE(opensOnlyByExactPath(leaf));
}

// Parsing C command-line arguments: blanks and tabs separate; 2n backslashes and a quote give n
// and the quote opens or closes, 2n+1 give n and a quote; in quotes two quotes are one; the
// program's name ends at a blank outside quotes. Wildcards in quotes are not expanded ("L:").
TEST(WindowsRules, SplitTheCommandLineAsTheCRuntimeDoes)
{
    using Words = std::vector<std::string>;
    const std::pair<std::string, Words> cases[] = {
        {"nonl a.txt  b.txt\t", {"a.txt", "b.txt"}}, {"\"C:\\Program Files\\nonl.exe\" x", {"x"}}, {"nonl", {}},
        {"C:\\tools\\nonl.exe \"New Text Document.txt\"", {"New Text Document.txt"}}, {"nonl \"\"", {""}},
        {"nonl a\\\\b\\c \"a\\\\\" b", {"a\\\\b\\c", "a\\", "b"}}, {"nonl a\\\"b a\\\\\\\"b", {"a\"b", "a\\\"b"}},
        {"nonl \"a\"\"b\" c", {"a\"b", "c"}},
        {"nonl \"My Documents\"\\*.txt \"*.txt\" *.txt", {"My Documents\\*.txt", "L:*.txt", "*.txt"}},
        {"nonl \"a *.txt\" \"x?\"y \"unclosed *", {"L:a *.txt", "L:x?y", "L:unclosed *"}},
    };
    for (const auto& [line, expected] : cases) {
        Words words;
        for (const CommandWord& word : commandLineWords(line))
            words.push_back((word.quotedWildcard ? "L:" : "") + word.text);
        EXPECT_EQ(words, expected) << line;
    }
}
