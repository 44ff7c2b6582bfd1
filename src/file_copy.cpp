#include "file_copy.hpp"

#include "encoding.hpp"
#include "progress.hpp"
#include "system.hpp"

namespace {

const char suffix[] = "_noNl.txt";

Outcome outcomeOf(CopyResult result)
{
    switch (result) {
    case CopyResult::readFailed:
        return Outcome::readFailed;
    case CopyResult::writeFailed:
        return Outcome::writeFailed;
    case CopyResult::copied:
        break;
    }
    return Outcome::copied;
}

} // namespace

std::string copyName(const std::string& name) { return name + suffix; }

Outcome removeLineFeeds(const std::string& oldFileName, CopyBuffer& buffer, bool lineFree)
{
    // The system would cut a name at a NUL byte, so it names some other file.
    if (oldFileName.find('\0') != std::string::npos)
        return Outcome::openFailed;
    sys::File myfile = sys::openInput(oldFileName);
    if (!myfile.isOpen())
        return Outcome::openFailed;
    // The first block is read before the copy exists: a file that cannot be
    // read at all leaves nothing behind.
    const std::ptrdiff_t first = myfile.read(buffer.data(), buffer.size());
    if (first < 0)
        return Outcome::openFailed;
    sys::File mynewfile = sys::openCopy(myfile, copyName(oldFileName));
    if (!mynewfile.isOpen())
        return Outcome::createFailed;

    // A byte-order mark at the start says whether the line ends are bytes or the units of UTF-16 or UTF-32.
    const TextRule rule{unitsOf(buffer.data(), static_cast<std::size_t>(first)),
                        sys::crBeforeLfEndsLine ? LineEnds::crlf : LineEnds::lf};
    Progress progress(oldFileName, myfile.size(), lineFree ? sys::progressLine() : Progress::Draw());
    auto done = static_cast<std::uint64_t>(first);
    Outcome outcome = outcomeOf(copyWithoutLineEnds(
        [&](char* data, std::size_t size) {
            const std::ptrdiff_t got = myfile.read(data, size);
            if (got > 0)
                progress.advance(done += static_cast<std::uint64_t>(got));
            return got;
        },
        [&](const char* data, std::size_t size) { return mynewfile.write(data, size); }, rule, buffer.data(),
        buffer.size(), static_cast<std::size_t>(first)));
    progress.finish();
    myfile.close();
    // A full disk or a lost network file may only show when the copy is closed.
    if (!mynewfile.close() && outcome == Outcome::copied)
        outcome = Outcome::writeFailed;
    return outcome;
}
