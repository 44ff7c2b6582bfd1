#include "copy/file.hpp"

#include "system/system.hpp"

#include <optional>
#include <utility>

Outcome makeCopy(const std::string& oldFileName, LineEnds ends, CopyBuffer& buffer, const Progress::Draw& draw)
{
    // The system would cut a name at a NUL byte, so it names some other file.
    if (oldFileName.find('\0') != std::string::npos)
        return Outcome::openFailed;
    sys::Input myfile = sys::openInput(oldFileName);
    if (!myfile.file.isOpen())
        return Outcome::openFailed;
    // Taken before the first read: a file changed after it gives no copy.
    const sys::File::Stamp before = myfile.file.stamp();
    // Both made once the first block is read: a file that cannot be read at all says so.
    std::optional<sys::PendingCopy> mynewfile;
    std::optional<Progress> progress;
    const std::uint64_t total = myfile.file.size();
    std::uint64_t done = 0;
    Outcome outcome = copyTextWithoutLineEnds(
        [&](char* data, std::size_t size) {
            const std::ptrdiff_t got = myfile.file.read(data, size);
            done += got > 0 ? static_cast<std::uint64_t>(got) : 0;
            if (got > 0 && progress)
                progress->advance(done, total);
            return got;
        },
        [&](const char* data, std::size_t size) { return mynewfile->write(data, size); }, ends, buffer.data(),
        buffer.size(), [&] {
            mynewfile.emplace(sys::openCopy(myfile, copyName(oldFileName)));
            progress.emplace(oldFileName, draw);
            return mynewfile->isOpen();
        });
    if (progress)
        progress->finish();
    // Written into meanwhile, the file read matches neither its old text nor its new one.
    if (outcome == Outcome::copied && myfile.file.stamp() != before)
        outcome = Outcome::readFailed;
    if (outcome != Outcome::copied)
        return outcome; // the pending copy goes, and the name keeps what it held
    switch (sys::publish(std::move(*mynewfile), myfile, copyName(oldFileName))) {
    case sys::Publication::published:
        return Outcome::copied;
    case sys::Publication::refused:
        return Outcome::createFailed;
    case sys::Publication::lost:
        break;
    }
    return Outcome::writeFailed;
}
