#include "file_copy.hpp"

#include "encoding.hpp"
#include "progress.hpp"
#include "system.hpp"

#include <utility>

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
    // Taken before the first read: a file changed after it gives no copy.
    const sys::File::Stamp before = myfile.stamp();
    // The first block is read before the copy is made: it tells the text's units.
    const std::ptrdiff_t first = myfile.read(buffer.data(), buffer.size());
    if (first < 0)
        return Outcome::readFailed;
    sys::PendingCopy mynewfile = sys::openCopy(myfile, copyName(oldFileName));
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
    // Written into meanwhile, the file read matches neither its old text nor its new one.
    if (outcome == Outcome::copied && myfile.stamp() != before)
        outcome = Outcome::readFailed;
    if (outcome != Outcome::copied)
        return outcome; // the pending copy goes, and the name keeps what it held
    switch (sys::publish(std::move(mynewfile), myfile, copyName(oldFileName))) {
    case sys::Publication::published:
        return Outcome::copied;
    case sys::Publication::refused:
        return Outcome::createFailed;
    case sys::Publication::lost:
        break;
    }
    return Outcome::writeFailed;
}
