// One file by name: open it, make its copy without line ends beside it, and say how it went.
#pragma once

#include "console/progress.hpp"
#include "copy/blocks.hpp"
#include "copy/name.hpp"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// The one block a copy works in, allocated once and used for every file. It
// starts on a page: the system copies into such a buffer fastest.
class CopyBuffer {
public:
    explicit CopyBuffer(std::size_t size) : bytes_(size + page), size_(size)
    {
        void* start = bytes_.data();
        std::size_t room = bytes_.size();
        data_ = static_cast<char*>(std::align(page, size, start, room));
    }
    char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    static constexpr std::size_t page = 4096;
    std::vector<char> bytes_;
    std::size_t size_;
    char* data_;
};

// Copies the file called oldFileName to copyName(oldFileName) without its line
// ends. The copy takes its name only once it is whole and the input did not
// change meanwhile; until then that name keeps what it held, an old copy or
// nothing. The input is never written. draw, where given, shows a long copy's
// progress.
Outcome makeCopy(const std::string& oldFileName, LineEnds ends, CopyBuffer& buffer, const Progress::Draw& draw);
