// The name reader, the command line and encodings, as tables of what goes in and what comes out.

#include "copy/text_rule.hpp"
#include "names/arguments.hpp"
#include "system/new_file_modes.hpp"
#include "names/utf8.hpp"
#include "names/stream.hpp"
#include "system/long_path.hpp"
#include "names/list.hpp"
#include "names/typed.hpp"
#include "system/style.hpp"
#include "console/terminal_text.hpp"
#include "texts.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Every name the reader hands out until the end, quoted ones marked "Q:",
// over-long ones "L:"; backslashes as on POSIX systems, or as on Windows.
std::vector<std::string> namesIn(const std::string& input, bool backslashes = true)
{
    std::istringstream in(input);
    NameReader reader(*in.rdbuf(), backslashes);
    std::vector<std::string> names;
    for (Name name; reader.next(name);)
        names.push_back((name.literal ? "Q:" : "") + std::string(name.tooLong ? "L:" : "") + name.text);
    return names;
}

using Names = std::vector<std::string>;

const std::string longest(texts::longestName, 'x');
const std::string shown = std::string(texts::shownStart, 'x') + "...";

// A stream that hands out what next gives, a part a read. An empty part is an end of input, after which a terminal
// may deliver more (Ctrl-D, then more typing).
class Parts : public std::streambuf {
public:
    explicit Parts(std::function<std::string()> next) : next_(std::move(next)) {}

protected:
    int_type underflow() override
    {
        part_ = next_();
        setg(&part_[0], &part_[0], &part_[0] + part_.size());
        return part_.empty() ? traits_type::eof() : traits_type::to_int_type(part_[0]);
    }

private:
    std::function<std::string()> next_;
    std::string part_;
};

} // namespace

TEST(NameReader, HandsOutEachNameAsTyped)
{
    const bool windows = sys::Style::windows.backslashEscapes; // a backslash separates folders there
    const struct {
        std::string input;
        Names names;
        bool backslashes = sys::Style::posix.backslashEscapes;
    } cases[] = {
        {"", {}},                        {" \t\n\r\n", {}},
        {"a.txt\nq\n", {"a.txt", "q"}},     {"a b\n\n  c", {"a", "b", "c"}},
        {"\"New Text Document.txt\"\n", {"Q:New Text Document.txt"}}, {"'/home/me/my notes.txt' \n", {"Q:/home/me/my notes.txt"}},
        {"\"C:\\Users\\me\\notes.txt\"", {"Q:C:\\Users\\me\\notes.txt"}}, {"\"C:\\Users\\me\\notes.txt\"", {"Q:C:\\Users\\me\\notes.txt"}, windows},
        {"C:\\Users\\me\\notes.txt", {"C:\\Users\\me\\notes.txt"}, windows},
        {"\"My Documents\"\\a.txt next", {"Q:My Documents\\a.txt", "next"}, windows},
        {"\"My Documents\"\\\"a b.txt\" next", {"Q:My Documents\\a b.txt", "next"}, windows},
        {"\"My Documents\"/a.txt next", {"Q:My Documents/a.txt", "next"}},
        // as terminals and ls paste names: escaped blanks, parts side by side, escapes in double quotes
        {"my\\ notes.txt 'it'\\''s here.txt' \"say \\\"hi\\\".txt\"", {"Q:my notes.txt", "Q:it's here.txt", "Q:say \"hi\".txt"}},
        {"a\\\\b \"c\\d\" 'e\\f' g\\", {"Q:a\\b", "Q:c\\d", "Q:e\\f", "g\\"}},
        {"two\\\nlines \\q", {"twolines", "Q:q"}}, // an escaped q is no quit word
        {"a.txt \\\n\nb.txt \\\n", {"a.txt", "b.txt"}},   // a line join alone is no name
        {"\"a\"\"b\" 'it\"s' \"it's\"", {"Q:ab", "Q:it\"s", "Q:it's"}},
        {"\"a\"\"b\" \"it\\\"s\"", {"Q:ab", "Q:it\\s\""}, windows}, // a backslash escapes nothing there
        {"\"q\" 'q' q", {"Q:q", "Q:q", "q"}}, {"\"\" x", {"Q:", "x"}},
        {"it\"s.txt a\"b c\"", {"Q:its.txt ab", "c\""}}, {"it\"s.txt", {"it\"s.txt"}},
        {"\"odd.txt more words\nnext \"", {"\"odd.txt", "more", "words", "next", "\""}},
        {"\"a b\n\"c d\"", {"\"a", "b", "Q:c d"}}, {"'a \"b c\" d", {"'a", "Q:b c", "d"}},
        {"\"to the end", {"\"to", "the", "end"}}, {"\"a\\0b\" c", {"Q:a\\0b", "c"}},
        {std::string("\"a\0b\" c", 7), {std::string("Q:a\0b", 5), "c"}},
        {longest + " next", {longest, "next"}},   {longest + "y next", {"L:" + shown, "next"}},
        {"\"" + longest.substr(1) + "\" y", {"Q:" + longest.substr(1), "y"}}, {"\"" + longest + "\"y next", {"Q:L:" + shown, "next"}},
        // A closing quote further away than the longest name is not looked for.
        {"\"" + longest + " y\" next", {"L:\"" + shown.substr(1), "y\"", "next"}},
        {"\"a" + std::string(40000, ' ') + "b c\" d", {"\"a", "b", "c\"", "d"}},
        // The scan for a closing quote ends just after a backslash: what it read ahead is read again.
        {"\"" + longest + "\\y next.txt", {"Q:L:\"" + shown.substr(1), "next.txt"}},
        {std::string(64, 'x') + "\xC3\xA9" + longest, {"L:" + std::string(64, 'x') + "..."}},
        {std::string(63, 'x') + "\xC3\xA9" + longest, {"L:" + std::string(63, 'x') + "\xC3\xA9..."}},
        {"\xE6\x97\xA5" + longest, {"L:\xE6\x97\xA5" + std::string(63, 'x') + "..."}},
        {"a" + std::string(40000, '\xB0'), {"L:a" + std::string(63, '\xB0') + "..."}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(namesIn(c.input, c.backslashes), c.names) << "input: " << c.input.substr(0, 80);

    // Which names stood alone on their line, ended by its line end, so that a terminal's cursor
    // is at a line's start after them: not one among others, one before a blank, nor the last.
    std::istringstream typed("a\nb c\n\n d\ne \nf\\\ng\nh");
    NameReader reader(*typed.rdbuf(), true);
    std::string own;
    for (Name name; reader.next(name);)
        own += name.text + (name.ownLine ? "+ " : "- ");
    EXPECT_EQ(own, "a+ b- c- d+ e- fg+ h- ");
}

// 64 MiB of one word, then " a": only the start is kept, as it is read. After the end of input a terminal may
// deliver more (Ctrl-D, then more typing): nothing after the first end is read.
TEST(NameReader, DropsAnEndlessWordAndReadsNothingPastTheEnd)
{
    int part = 0;
    Parts typed([&part] { return ++part <= 1024 ? std::string(1 << 16, 'y') : part == 1025 ? " a" : part == 1027 ? "b" : ""; });
    NameReader reader(typed, true);
    Name name;
    ASSERT_TRUE(reader.next(name));
    EXPECT_TRUE(name.tooLong);
    EXPECT_EQ(name.text, std::string(64, 'y') + "...");
    EXPECT_LE(name.text.capacity(), 2 * texts::longestName);
    ASSERT_TRUE(reader.next(name));
    EXPECT_EQ(name.text, "a");
    EXPECT_FALSE(reader.next(name));
    EXPECT_FALSE(reader.next(name)) << "read on after the end: " << name.text;
}

TEST(Arguments, TellWhatIsAskedFor)
{
    using K = Command::Kind;
    using Lists = std::vector<Command::List>;
    const bool windows = sys::Style::windows.slashHelp; // "/?" asks for help there
    const struct {
        std::vector<std::string> arguments;
        bool slashHelp;
        K kind;
        Names names;
        std::string option;
        Lists lists = {};
    } cases[] = {
        {{"--files-from=l.txt", "a", "--files0-from", "-"}, false, K::copyNames, {"a"}, "", {{"l.txt", false}, {"-", true}}},
        {{"--files-from", "--", "--files0-from=a b"}, false, K::copyNames, {}, "", {{"--", false}, {"a b", true}}},
        {{"a", "--files-from"}, false, K::missingValue, {}, "--files-from"},
        {{"--files-fromx"}, false, K::unknownOption, {}, "--files-fromx"},
        {{"--", "--files-from=l"}, false, K::copyNames, {"--files-from=l"}, ""},
        {{}, false, K::askForNames, {}, ""},                          {{"a.txt", "q", "b c"}, false, K::copyNames, {"a.txt", "q", "b c"}, ""},
        {{"-h"}, false, K::help, {}, ""},                      {{"a.txt", "--help", "-x"}, false, K::help, {}, ""},
        {{"--version", "--help"}, false, K::version, {}, ""},  {{"a.txt", "-x", "--help"}, false, K::unknownOption, {}, "-x"},
        {{"-"}, false, K::unknownOption, {}, "-"},             {{"--", "-x", "--help", "--"}, false, K::copyNames, {"-x", "--help", "--"}, ""},
        {{"--"}, false, K::askForNames, {}, ""},                      {{"/?"}, false, K::copyNames, {"/?"}, ""},
        {{"/?"}, windows, K::help, {}, ""},                    {{"--", "/?"}, windows, K::copyNames, {"/?"}, ""},
    };
    for (const auto& c : cases) {
        std::vector<Argument> arguments;
        for (const std::string& word : c.arguments)
            arguments.push_back({word});
        const Command command = parseArguments(arguments, c.slashHelp);
        Names names;
        for (const Argument& name : command.names)
            names.push_back(name.text);
        const std::string seen = ::testing::PrintToString(c.arguments);
        EXPECT_EQ(command.kind, c.kind) << seen;
        EXPECT_EQ(names, c.names) << seen;
        EXPECT_EQ(command.option, c.option) << seen;
        EXPECT_EQ(command.lists, c.lists) << seen;
    }
}

// Lists of names as dir /b, ls and find -print0 write them: each whole, blanks, quotes and a q included.
TEST(NameList, TakesEachNameOfALineOrEndedByNulWhole)
{
    using namespace std::string_literals;
    const struct {
        std::string list;
        bool nulEnded;
        Names names;
    } cases[] = {
        {"New Text Document.txt\r\n\r\nq\r\n", false, {"New Text Document.txt", "q"}},
        {" a b \n\n\"c d\"\nlast", false, {" a b ", "\"c d\"", "last"}}, {"a\rb\r\r\n", false, {"a\rb\r"}},
        {"x\0\0y z\0line\nend\r"s, true, {"x", "y z", "line\nend\r"}}, {"", false, {}}, {"\n\r\n", false, {}},
        {longest + "\r\n" + longest + "y\nz", false, {longest, "L:" + shown, "z"}},
    };
    for (const auto& c : cases) {
        std::istringstream source(c.list);
        NameList list(*source.rdbuf(), c.nulEnded);
        Names names;
        for (Name name; list.next(name);)
            names.push_back((name.tooLong ? "L:" : "") + name.text);
        EXPECT_EQ(names, c.names) << testing::PrintToString(c.list.substr(0, 80));
    }
}

// What a byte-order mark says of a file, and of a stream of names; which words are UTF-8.
TEST(Encoding, ReadsTheMarkAndTellsUtf8)
{
    using namespace std::string_literals;
    const std::pair<std::string, Units> files[] = {
        {"\xFF\xFE\0\0x"s, Units::utf32le}, {"\0\0\xFE\xFF"s, Units::utf32be}, {"\xFF\xFE\0"s, Units::utf16le},
        {"\xFF\xFEx\0"s, Units::utf16le},   {"\xFE\xFF"s, Units::utf16be},     {"\xEF\xBB\xBFx", Units::bytes},
        {"\xFF", Units::bytes},             {"", Units::bytes},                 {"\0\0\xFE"s, Units::bytes},
    };
    for (const auto& [start, units] : files)
        EXPECT_EQ(unitsOf(start.data(), start.size()), units) << testing::PrintToString(start);

    const struct {
        std::string input;
        bool utf16, ctrlZEnds;
        std::string names;
        NamesMark mark;
        bool unmarked = true;
    } streams[] = {
        {"\xEF\xBB\xBF" "a b", false, false, "a b", NamesMark::utf8},
        {"\xEF\xBBx\xEF\xBB\xBF", false, false, "\xEF\xBBx\xEF\xBB\xBF", NamesMark::none},
        {"\xFF\xFEx\0"s, false, false, "\xFF\xFEx\0"s, NamesMark::none}, // UTF-16 is not read where names are bytes
        {"\xFF\xFEx\0\xE9\0=\xD8\0\xDE\x1A\x01\r\0\n\0"s, true, true, "x\xC3\xA9\xF0\x9F\x98\x80\xC4\x9A\r\n",
         NamesMark::utf16le},
        {"\xFF\xFE=\xD8x\0\0\xDEy"s, true, false, "\xEF\xBF\xBDx\xEF\xBF\xBD", NamesMark::utf16le}, // lone halves, odd byte
        {"\xFF\xFE\0\xD8\0\xD8\0\xDC"s, true, false, "\xEF\xBF\xBD\xF0\x90\x80\x80", NamesMark::utf16le}, // a half, then a pair
        {"\xFFx", true, false, "\xFFx", NamesMark::none},
        // cmd /u writes UTF-16LE without a mark: a NUL second byte tells it, where UTF-16 is read
        {"n\0e\0w\0 \0\xE9\0\r\0\n\0"s, true, true, "new \xC3\xA9\r\n", NamesMark::utf16le},
        {"n\0"s, false, false, "n\0"s, NamesMark::none}, {"na\0"s, true, false, "na\0"s, NamesMark::none},
        {"a\0b\0"s, true, false, "a\0b\0"s, NamesMark::none, false}, // names ended by NUL, one a character
        {"a\x1A b", false, true, "a", NamesMark::none},
        {"a\x1A b", true, false, "a\x1A b", NamesMark::none}, {"", true, true, "", NamesMark::none},
    };
    for (const auto& stream : streams) {
        std::istringstream source(stream.input);
        NamesInput input(*source.rdbuf(), stream.utf16, stream.ctrlZEnds, stream.unmarked);
        std::istream in(&input);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), stream.names) << testing::PrintToString(stream.input);
        EXPECT_EQ(input.mark(), stream.mark) << testing::PrintToString(stream.input);
    }

    const std::pair<std::string, bool> words[] = {
        {"caf\xC3\xA9.txt", true}, {"\xF0\x9F\x98\x80", true}, {"cafe.txt", false},    {"caf\xE9.txt", false},
        {"\xC0\xAF", false},       {"\xED\xA0\x80", false},    {"\xF4\x90\x80\x80", false}, {"\xE2\x82", false},
    };
    for (const auto& [word, utf8] : words)
        EXPECT_EQ(isUtf8BeyondAscii(word), utf8) << testing::PrintToString(word);
}

// What a name is opened as on Windows, given its full path as the system makes it.
TEST(LongPaths, AreOpenedByTheirFullPathAfterTheExtendedPrefix)
{
    const auto x = [](std::size_t n) { return std::wstring(n, L'x'); };
    const std::wstring work = L"C:\\work\\"; // 8 characters
    const struct {
        const char* what;
        std::wstring name, full, opened;
    } cases[] = {
        {"a short relative name", L"a.txt", work + L"a.txt", L"a.txt"},
        {"a relative name whose full path has 259 characters", x(251), work + x(251), x(251)},
        {"its copy, 9 more", x(251) + L"_noNl.txt", work + x(251) + L"_noNl.txt", L"\\\\?\\" + work + x(251) + L"_noNl.txt"},
        {"an absolute name of 260", work + x(252), work + x(252), L"\\\\?\\" + work + x(252)},
        {"a drive-relative name", L"C:" + x(300), work + x(300), L"\\\\?\\" + work + x(300)},
        {"forward slashes and ..", L"sub/../" + x(300), work + x(300), L"\\\\?\\" + work + x(300)},
        {"a network path", L"\\\\server\\share\\" + x(300), L"\\\\server\\share\\" + x(300),
         L"\\\\?\\UNC\\server\\share\\" + x(300)},
        {"a short network path", L"\\\\server\\share\\a.txt", L"\\\\server\\share\\a.txt", L"\\\\server\\share\\a.txt"},
        {"an extended name already", L"\\\\?\\" + work + x(300), L"\\\\?\\" + work + x(300), L"\\\\?\\" + work + x(300)},
        {"a drive's path after \\\\.\\, trimmed", L"\\\\.\\" + work + x(300), L"\\\\.\\" + work + x(300),
         L"\\\\?\\" + work + x(300)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pathToOpen(c.name, c.full), c.opened) << c.what;
}

// What a terminal shows: East Asian wide characters take two cells, combining marks none, a
// byte that is no UTF-8 one; control characters of a name are shown as "?", other bytes kept.
TEST(TerminalText, CountsCellsCutsAtThemAndShowsNoControlCharacter)
{
    const struct {
        std::string text;
        std::size_t cells;
        std::string inThree; // cut to three cells
    } cases[] = {
        {"abcd", 4, "abc"}, {"", 0, ""},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 6, "\xE6\x97\xA5"},  // CJK
        {"e\xCC\x81te", 3, "e\xCC\x81te"},                               // e and a combining acute
        {"\xF0\x9F\x98\x80" "a", 3, "\xF0\x9F\x98\x80" "a"},             // an emoji
        {"\xEF\xBC\xA1" "bc", 4, "\xEF\xBC\xA1" "b"},                       // a full-width A
        {"caf\xE9xx", 6, "caf"},                                           // Latin-1
        {"\xE6\x97", 2, "\xE6\x97"},                                        // a character cut short
        {"\xED\xA0\x80", 3, "\xED\xA0\x80"},                                 // half of a UTF-16 pair: no UTF-8
        {"\xE4\xB7\x80" "a", 3, "\xE4\xB7\x80" "a"},                           // a hexagram, U+4DC0
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cellsOf(c.text), c.cells) << testing::PrintToString(c.text);
        EXPECT_EQ(fitCells(c.text, 3), c.inThree) << testing::PrintToString(c.text);
    }
    EXPECT_EQ(harmless("a\x1b[2J\tb\x7f\xC2\x9B\xC2\xA0\xE9\x9B\n"), "a?[2J?b??\xC2\xA0\xE9\x9B?");
    // 0x9B is CSI on an 8-bit POSIX terminal; in a Windows code page a letter.
    EXPECT_EQ(harmless("\xE9\x9B\xC2\x9B", sys::Style::posix.eightBitControls), "\xE9??");
    EXPECT_EQ(harmless("\xE9\x9B\xC2\x9B", sys::Style::windows.eightBitControls), "\xE9\x9B?");
    EXPECT_EQ(harmless("\xC4\x9B\xC3\xA9", sys::Style::posix.eightBitControls, false), "\xC4?\xC3\xA9"); // in UTF-8 too, where the locale is not
    // The locale's codeset, after its dot: the first setting that is set decides.
    const struct {
        const char *lcAll, *lcCtype, *lang;
        bool utf8;
    } locales[] = {
        {nullptr, nullptr, "en_US.UTF-8", true}, {"", "C.utf8", "en_US.ISO-8859-1", true}, {"C", nullptr, "en_US.UTF-8", false},
        {nullptr, nullptr, nullptr, false},      {nullptr, "de_DE.utf-8@euro", nullptr, true}, {nullptr, nullptr, "POSIX", false},
        {nullptr, "en_US.ISO-8859-15", "C.UTF-8", false}, {nullptr, "UTF-8", nullptr, true}, {"C.UTF-16", nullptr, nullptr, false},
    };
    for (const auto& l : locales)
        EXPECT_EQ(utf8Locale(l.lcAll, l.lcCtype, l.lang), l.utf8) << &l - locales;
}

// A new copy's modes (created with, then given once in the input's group).
TEST(CopyModes, NeverGiveACopyAPermissionItsInputDenies)
{
    const struct {
        unsigned input, umask;
        bool namedAcl;
        CopyModes expected;
        const char* why;
    } rows[] = {
        {0644, 022, false, {0604, 0644}, "others read as the input's group does, group bits wait for the group"},
        {0640, 022, false, {0600, 0640}, "the input's group may read, its others not: a member of the copy's group is one"},
        {0604, 022, false, {0600, 0604}, "others of the input read, its group not: the copy's group could hold them"},
        {0666, 077, false, {0600, 0600}, "the umask takes group and others"},
        {0755, 022, false, {0604, 0644}, "no execute bits"},
        {0644, 022, true, {0600, 0600}, "named ACL entries leave the owner's bits only"},
        {0400, 0, false, {0400, 0400}, "a read-only input gives a read-only copy"},
        {04666, 0, false, {0606, 0666}, "no set-ID bits"},
    };
    for (const auto& row : rows) {
        const CopyModes modes = copyModes(row.input, row.umask, row.namedAcl);
        EXPECT_EQ(modes.made, row.expected.made) << row.why;
        EXPECT_EQ(modes.wanted, row.expected.wanted) << row.why;
    }
}
