#include "lf_kernels.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define NONL_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace {

// Every kernel works in place: each store lands at or before the bytes just
// loaded, and a byte looked at past the current one has not been written yet.

// Compacts [from, stop) down to out, which may be from itself or lie before it;
// a CR may look at the byte after it up to end.
template <LineEnds rule>
char* dropBytes(const char* from, const char* stop, const char* end, char* out)
{
    for (; from != stop; ++from) {
        out[0] = *from;
        bool lineEnd = *from == '\n';
        if constexpr (rule == LineEnds::crlf)
            lineEnd = lineEnd || (*from == '\r' && from + 1 != end && from[1] == '\n');
        out += !lineEnd;
    }
    return out;
}

// As dropBytes, but words of eight bytes without a line end move whole.
template <LineEnds rule>
char* dropPortable(const char* from, const char* end, char* out)
{
    constexpr std::uint64_t ones = 0x0101010101010101u;
    for (; end - from >= (rule == LineEnds::crlf ? 9 : 8); from += 8) { // a CR looks one byte on
        std::uint64_t word;
        std::memcpy(&word, from, 8);
        const std::uint64_t x = word ^ (ones * '\n'); // zero bytes where LF was
        bool lineEnd = ((x - ones) & ~x & (ones << 7)) != 0;
        if constexpr (rule == LineEnds::crlf)
            lineEnd = lineEnd || (from[7] == '\r' && from[8] == '\n'); // a CR before LF elsewhere has LF too
        if (lineEnd) {
            out = dropBytes<rule>(from, from + 8, end, out);
            continue;
        }
        std::memcpy(out, &word, 8);
        out += 8;
    }
    return dropBytes<rule>(from, end, end, out);
}

template <LineEnds rule>
std::size_t dropPortableKernel(char* data, std::size_t size)
{
    return dropPortable<rule>(data, data + size, data) - data;
}

#ifdef NONL_X86_KERNELS

// For each pattern of line ends among eight bytes: the positions of the bytes
// kept, packed to the front (a pshufb control), and how many are kept.
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

// Under the crlf rule the vector kernels take a CR last in one step back out of
// the copy when the next step starts with LF: it is the last byte kept, just
// before out.
template <LineEnds rule>
__attribute__((target("ssse3"))) std::size_t dropSsse3(char* data, std::size_t size)
{
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i highHalf = _mm_set_epi64x(0x0808080808080808, 0);
    char* out = data;
    __m128i v = _mm_setzero_si128(), last; // this step's bytes and the step before's, as loaded
    std::size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        last = v;
        v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const unsigned lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
        if (lfs == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
            out += 16;
            continue;
        }
        unsigned mask = lfs;
        if constexpr (rule == LineEnds::crlf) {
            // each CR that an LF follows, and the last one kept when this step starts with LF
            mask |= static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')))) & lfs >> 1;
            if ((lfs & 1) != 0 && i > 0 && _mm_extract_epi16(last, 7) >> 8 == '\r')
                --out;
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
    if (rule == LineEnds::crlf && i > 0 && i < size && data[i] == '\n' && _mm_extract_epi16(v, 7) >> 8 == '\r')
        --out;
    return dropPortable<rule>(data + i, data + size, out) - data;
}

template <LineEnds rule>
__attribute__((target("avx512f,avx512bw,avx512vbmi2"))) std::size_t dropAvx512(char* data, std::size_t size)
{
    const __m512i lf = _mm512_set1_epi8('\n');
    char* out = data;
    unsigned heldCr = 0;
    std::size_t i = 0;
    for (; i + 64 <= size; i += 64) {
        const __m512i v = _mm512_loadu_si512(data + i);
        const __mmask64 lfs = _mm512_cmpeq_epi8_mask(v, lf);
        __mmask64 ends = lfs;
        if constexpr (rule == LineEnds::crlf) {
            const __mmask64 crs = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\r'));
            out -= heldCr & lfs;
            heldCr = static_cast<unsigned>(crs >> 63);
            ends |= crs & lfs >> 1;
        }
        _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(~ends, v));
        out += 64 - __builtin_popcountll(ends);
    }
    out -= heldCr & (i < size && data[i] == '\n');
    return dropPortable<rule>(data + i, data + size, out) - data;
}

#endif

template <LineEnds rule>
std::vector<LfKernel> kernelsFor()
{
    std::vector<LfKernel> kernels{{"portable", dropPortableKernel<rule>}};
#ifdef NONL_X86_KERNELS
    __builtin_cpu_init(); // this may run among static initialisers, before the runtime's own
    if (__builtin_cpu_supports("ssse3"))
        kernels.push_back({"ssse3", dropSsse3<rule>});
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2"))
        kernels.push_back({"avx512vbmi2", dropAvx512<rule>});
#endif
    return kernels;
}

} // namespace

std::vector<LfKernel> lfKernels(LineEnds rule)
{
    return rule == LineEnds::crlf ? kernelsFor<LineEnds::crlf>() : kernelsFor<LineEnds::lf>();
}

std::size_t dropLineEnds(LineEnds rule, char* data, std::size_t size)
{
    // Chosen on first use, so a static initialiser elsewhere may already call this.
    static const LfKernel lf = lfKernels(LineEnds::lf).back();
    static const LfKernel crlf = lfKernels(LineEnds::crlf).back();
    return (rule == LineEnds::crlf ? crlf : lf).drop(data, size);
}
