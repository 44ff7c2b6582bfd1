#include "lf_copy.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define NONL_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace {

// Compacts [from, end) down to out, which may be from itself or lie before it.
char* dropBytes(const char* from, const char* end, char* out)
{
    for (; from != end; ++from) {
        out[0] = *from;
        out += *from != '\n';
    }
    return out;
}

// As dropBytes, but words of eight bytes without LF move whole.
char* dropPortable(const char* from, const char* end, char* out)
{
    constexpr std::uint64_t ones = 0x0101010101010101u;
    for (; end - from >= 8; from += 8) {
        std::uint64_t word;
        std::memcpy(&word, from, 8);
        const std::uint64_t x = word ^ (ones * '\n'); // zero bytes where LF was
        if (((x - ones) & ~x & (ones << 7)) != 0) {
            out = dropBytes(from, from + 8, out);
            continue;
        }
        std::memcpy(out, &word, 8);
        out += 8;
    }
    return dropBytes(from, end, out);
}

std::size_t dropLineFeedsPortable(char* data, std::size_t size)
{
    return dropPortable(data, data + size, data) - data;
}

#ifdef NONL_X86_KERNELS

// For each pattern of LFs among eight bytes: the positions of the bytes kept,
// packed to the front (a pshufb control), and how many are kept.
struct PackTable {
    std::array<std::uint64_t, 256> order{};
    std::array<std::uint8_t, 256> kept{};
};

constexpr PackTable makePackTable()
{
    PackTable table;
    for (unsigned mask = 0; mask < 256; ++mask) {
        unsigned n = 0;
        for (unsigned byte = 0; byte < 8; ++byte) {
            if ((mask >> byte & 1) == 0)
                table.order[mask] |= std::uint64_t{byte} << (8 * n++);
        }
        table.kept[mask] = static_cast<std::uint8_t>(n);
    }
    return table;
}

constexpr PackTable packTable = makePackTable();

// Every store below lands at or before the bytes just loaded, so working in place is safe.
__attribute__((target("ssse3"))) std::size_t dropLineFeedsSsse3(char* data, std::size_t size)
{
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i highHalf = _mm_set_epi64x(0x0808080808080808, 0);
    char* out = data;
    std::size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
        if (mask == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
            out += 16;
            continue;
        }
        const unsigned low = mask & 0xFF, high = mask >> 8;
        const __m128i order = _mm_add_epi8(
            _mm_set_epi64x(static_cast<long long>(packTable.order[high]),
                           static_cast<long long>(packTable.order[low])),
            highHalf);
        const __m128i packed = _mm_shuffle_epi8(v, order);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
        out += packTable.kept[low];
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_srli_si128(packed, 8));
        out += packTable.kept[high];
    }
    return dropPortable(data + i, data + size, out) - data;
}

__attribute__((target("avx512f,avx512bw,avx512vbmi2"))) std::size_t
dropLineFeedsAvx512(char* data, std::size_t size)
{
    const __m512i lf = _mm512_set1_epi8('\n');
    char* out = data;
    std::size_t i = 0;
    for (; i + 64 <= size; i += 64) {
        const __m512i v = _mm512_loadu_si512(data + i);
        const __mmask64 keep = _mm512_cmpneq_epi8_mask(v, lf);
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(keep, v));
        out += __builtin_popcountll(keep);
    }
    return dropPortable(data + i, data + size, out) - data;
}

#endif

} // namespace

std::vector<LfKernel> lfKernels()
{
    std::vector<LfKernel> kernels{{"portable", dropLineFeedsPortable}};
#ifdef NONL_X86_KERNELS
    __builtin_cpu_init(); // this may run among static initialisers, before the runtime's own
    if (__builtin_cpu_supports("ssse3"))
        kernels.push_back({"ssse3", dropLineFeedsSsse3});
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2"))
        kernels.push_back({"avx512vbmi2", dropLineFeedsAvx512});
#endif
    return kernels;
}

// Chosen on first use, so a static initialiser elsewhere may already call dropLineFeeds.
const LfKernel& activeKernel()
{
    static const LfKernel fastest = lfKernels().back();
    return fastest;
}

std::size_t dropLineFeeds(char* data, std::size_t size)
{
    return activeKernel().drop(data, size);
}

void setReadBuffer(std::ifstream& file, char* buffer, std::size_t size)
{
    file.rdbuf()->pubsetbuf(buffer, static_cast<std::streamsize>(size));
}

CopyResult copyWithoutLineFeeds(std::istream& in, std::ostream& out, char* buffer,
                                std::size_t size)
{
    if (size == 0)
        throw std::invalid_argument("copyWithoutLineFeeds: a buffer of 0 bytes holds no block");
    const auto most = static_cast<std::streamsize>(std::min<std::size_t>(
        size, static_cast<std::size_t>(std::numeric_limits<std::streamsize>::max())));
    // peek makes the stream buffer fetch data; taking no more than its get area then holds
    // means no byte is read from the source straight into buffer, where a read error would
    // lose the bytes already delivered (as istream::read does).
    while (!std::istream::traits_type::eq_int_type(in.peek(), std::istream::traits_type::eof())) {
        const std::streamsize ready = in.rdbuf()->in_avail();
        // A stream buffer without a get area hands out one byte at a time.
        const std::streamsize got =
            ready > 0 ? in.readsome(buffer, std::min(ready, most)) : in.read(buffer, 1).gcount();
        if (got > 0 &&
            !out.write(buffer, static_cast<std::streamsize>(
                                   dropLineFeeds(buffer, static_cast<std::size_t>(got)))))
            return CopyResult::writeFailed;
    }
    // peek sets eof at the end of in, bad at a read error.
    return in.bad() ? CopyResult::readFailed : CopyResult::copied;
}
