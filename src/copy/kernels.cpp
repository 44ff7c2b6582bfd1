#include "copy/kernels.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define NONL_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace {

// Every kernel works in place: each store lands at or before the units just
// loaded, and a unit looked at past the current one has not been written yet.
// A kernel is made for a rule, a unit size U and the file's byte order.

template <unsigned U>
using Unit = std::conditional_t<U == 1, std::uint8_t, std::conditional_t<U == 2, std::uint16_t, std::uint32_t>>;

// The unit of character c as it lies in the file, read as this processor reads it.
template <unsigned U, bool bigEndian>
Unit<U> unitOf(char c)
{
    unsigned char bytes[U] = {};
    bytes[bigEndian ? U - 1 : 0] = static_cast<unsigned char>(c);
    Unit<U> unit;
    std::memcpy(&unit, bytes, U);
    return unit;
}

template <unsigned U>
Unit<U> unitAt(const char* at)
{
    Unit<U> unit;
    std::memcpy(&unit, at, U);
    return unit;
}

// Compacts the units of [from, stop) down to out, which may be from itself or
// lie before it; a CR may look at the unit after it up to end.
template <LineEnds rule, unsigned U, bool bigEndian>
char* dropUnits(const char* from, const char* stop, const char* end, char* out)
{
    const Unit<U> lf = unitOf<U, bigEndian>('\n'), cr = unitOf<U, bigEndian>('\r');
    for (; from != stop; from += U) {
        const Unit<U> unit = unitAt<U>(from);
        std::memmove(out, from, U);
        bool lineEnd = unit == lf;
        if constexpr (rule == LineEnds::crlf)
            lineEnd = lineEnd || (unit == cr && end - from > static_cast<std::ptrdiff_t>(U) && unitAt<U>(from + U) == lf);
        out += lineEnd ? 0 : U;
    }
    return out;
}

// As dropUnits over the whole range, eight bytes a word: a word without a line
// end moves whole; from one with line ends each is taken out by shifting the
// units after it down (where the processor is little-endian, as nearly all are).
template <LineEnds rule, unsigned U, bool bigEndian>
char* dropPortable(const char* from, const char* end, char* out)
{
    constexpr std::uint64_t ones = U == 1 ? 0x0101010101010101u : U == 2 ? 0x0001000100010001u : 0x0000000100000001u;
    constexpr unsigned bits = 8 * U;
    constexpr std::uint64_t tops = ones << (bits - 1), lows = ones * ((std::uint64_t{1} << (bits - 1)) - 1);
    const std::uint64_t lfs = ones * unitOf<U, bigEndian>('\n');
    // The top bit of each unit of x that is zero.
    const auto zeroUnits = [](std::uint64_t x) { return ~(((x & lows) + lows) | x) & tops; };
    constexpr std::ptrdiff_t look = rule == LineEnds::crlf ? U : 0; // a CR looks one unit on
    for (; end - from >= 8 + look; from += 8) {
        std::uint64_t word;
        std::memcpy(&word, from, 8);
        std::uint64_t ends = zeroUnits(word ^ lfs);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        if constexpr (rule == LineEnds::crlf)
            ends |= unitAt<U>(from + 8 - U) == unitOf<U, bigEndian>('\r') && unitAt<U>(from + 8) == unitOf<U, bigEndian>('\n');
        if (ends != 0) {
            out = dropUnits<rule, U, bigEndian>(from, from + 8, end, out);
            continue;
        }
        std::memcpy(out, &word, 8);
        out += 8;
#else
        if constexpr (rule == LineEnds::crlf) {
            // a CR whose next unit, in this word or the next, is LF
            const std::uint64_t next =
                ends >> bits | (unitAt<U>(from + 8) == unitOf<U, bigEndian>('\n') ? std::uint64_t{1} << 63 : 0);
            ends |= zeroUnits(word ^ ones * unitOf<U, bigEndian>('\r')) & next;
        }
        if (ends == tops) // nothing kept, as in a run of empty lines
            continue;
        std::size_t kept = 8;
        while (ends != 0) {
            const std::uint64_t below = ((ends & (0 - ends)) >> (bits - 1)) - 1; // the units before the first line end
            word = (word & below) | (word >> bits & ~below);
            ends = ends >> bits & ~below;
            kept -= U;
        }
        std::memcpy(out, &word, 8);
        out += kept;
#endif
    }
    return dropUnits<rule, U, bigEndian>(from, end, end, out);
}

template <LineEnds rule, unsigned U, bool bigEndian>
std::size_t dropPortableKernel(char* data, std::size_t size)
{
    return dropPortable<rule, U, bigEndian>(data, data + size, data) - data;
}

#ifdef NONL_X86_KERNELS

// For each pattern of bytes to drop among eight: the positions of the bytes
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

template <unsigned U>
__attribute__((target("ssse3"))) inline __m128i sameUnits(__m128i a, __m128i b)
{
    if constexpr (U == 1)
        return _mm_cmpeq_epi8(a, b);
    else if constexpr (U == 2)
        return _mm_cmpeq_epi16(a, b);
    else
        return _mm_cmpeq_epi32(a, b);
}

template <unsigned U>
__attribute__((target("ssse3"))) inline __m128i everyUnit(Unit<U> unit)
{
    if constexpr (U == 1)
        return _mm_set1_epi8(static_cast<char>(unit));
    else if constexpr (U == 2)
        return _mm_set1_epi16(static_cast<short>(unit));
    else
        return _mm_set1_epi32(static_cast<int>(unit));
}

// Whether the last unit of v is the one in every lane of cr.
template <unsigned U>
__attribute__((target("ssse3"))) inline bool endsWith(__m128i v, __m128i cr)
{
    return (_mm_movemask_epi8(sameUnits<U>(v, cr)) >> 15 & 1) != 0;
}

// Stores the bytes of v whose bit in drop is clear at out, eight at a time, and
// returns the end of what it stored.
__attribute__((target("ssse3"))) inline char* packSixteen(char* out, __m128i v, unsigned drop)
{
    const unsigned low = drop & 0xFF, high = drop >> 8 & 0xFF;
    const __m128i order = _mm_add_epi8(_mm_set_epi64x(static_cast<long long>(packTable.order[high]),
                                                      static_cast<long long>(packTable.order[low])),
                                       _mm_set_epi64x(0x0808080808080808, 0));
    const __m128i packed = _mm_shuffle_epi8(v, order);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
    out += packTable.kept[low];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_srli_si128(packed, 8));
    return out + packTable.kept[high];
}

// Under the crlf rule the vector kernels take a CR last in one step back out of
// the copy when the next step starts with LF: it is the last unit kept, just
// before out. The masks hold a bit per byte, U bits per unit.
template <LineEnds rule, unsigned U, bool bigEndian>
__attribute__((target("ssse3"))) std::size_t dropSsse3(char* data, std::size_t size)
{
    const __m128i lf = everyUnit<U>(unitOf<U, bigEndian>('\n'));
    const __m128i cr = everyUnit<U>(unitOf<U, bigEndian>('\r'));
    char* out = data;
    __m128i v = _mm_setzero_si128(), last; // this step's bytes and the step before's, as loaded
    std::size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        last = v;
        v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const unsigned lfs = static_cast<unsigned>(_mm_movemask_epi8(sameUnits<U>(v, lf)));
        if (lfs == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
            out += 16;
            continue;
        }
        unsigned mask = lfs;
        if constexpr (rule == LineEnds::crlf) {
            // each CR that an LF follows, and the last one kept when this step starts with LF
            mask |= static_cast<unsigned>(_mm_movemask_epi8(sameUnits<U>(v, cr))) & lfs >> U;
            if ((lfs & 1) != 0 && i > 0 && endsWith<U>(last, cr))
                out -= U;
        }
        out = packSixteen(out, v, mask);
    }
    if (rule == LineEnds::crlf && i > 0 && i < size && unitAt<U>(data + i) == unitOf<U, bigEndian>('\n') &&
        endsWith<U>(v, cr))
        out -= U;
    return dropPortable<rule, U, bigEndian>(data + i, data + size, out) - data;
}

#define NONL_AVX2 __attribute__((target("avx2,bmi,popcnt")))

template <unsigned U>
NONL_AVX2 inline __m256i sameUnits256(__m256i a, __m256i b)
{
    if constexpr (U == 1)
        return _mm256_cmpeq_epi8(a, b);
    else if constexpr (U == 2)
        return _mm256_cmpeq_epi16(a, b);
    else
        return _mm256_cmpeq_epi32(a, b);
}

template <unsigned U>
NONL_AVX2 inline __m256i everyUnit256(Unit<U> unit)
{
    if constexpr (U == 1)
        return _mm256_set1_epi8(static_cast<char>(unit));
    else if constexpr (U == 2)
        return _mm256_set1_epi16(static_cast<short>(unit));
    else
        return _mm256_set1_epi32(static_cast<int>(unit));
}

// Bytes 0 to 31 are 0, 32 to 63 all ones: read from 32 - k, a blend mask for
// the bytes from k on.
alignas(64) constexpr std::array<char, 64> fromOn = [] {
    std::array<char, 64> bytes{};
    for (std::size_t at = 32; at < 64; ++at)
        bytes[at] = -1;
    return bytes;
}();

NONL_AVX2 inline __m256i blendFrom(unsigned at)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(fromOn.data() + 32 - at));
}

// The 32 bytes from at.
NONL_AVX2 inline __m256i load256(const char* at)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

// The bits of a movemask that stand for the first byte of each unit.
template <unsigned U>
constexpr std::uint32_t firstBytes = U == 1 ? 0xFFFFFFFFu : U == 2 ? 0x55555555u : 0x11111111u;

// Bits 32, 32 + U, ... for n units.
template <unsigned U, unsigned n>
constexpr std::uint64_t sentinels = [] {
    std::uint64_t bits = 0;
    for (unsigned j = 0; j < n; ++j)
        bits |= std::uint64_t{1} << (32 + j * U);
    return bits;
}();

// 32 bytes a step. The k-th unit to drop (from 0), at byte p, is taken out by
// blending in, from byte p - kU on, the step read again k + 1 units on: memory
// from the step on has not been written yet. Whether a step has a line end is
// as hard to foresee as text, so its first takes no branch; a step with more,
// rarer in text of lines longer than a step, is packed as the SSSE3 kernel packs.
template <LineEnds rule, unsigned U, bool bigEndian>
NONL_AVX2 std::size_t dropAvx2(char* data, std::size_t size)
{
    const __m256i lf = everyUnit256<U>(unitOf<U, bigEndian>('\n')), cr = everyUnit256<U>(unitOf<U, bigEndian>('\r'));
    constexpr unsigned sure = rule == LineEnds::crlf ? 2 : 1; // units dropped without a branch: one line end
    char* out = data;
    std::uint32_t heldCr = 0; // the last unit of the step before is a CR, kept
    const char* step = data;
    for (; static_cast<std::size_t>(data + size - step) >= 64; step += 32) { // reads 32 bytes past a step
        const __m256i v = load256(step);
        const auto lfs = static_cast<std::uint32_t>(_mm256_movemask_epi8(sameUnits256<U>(v, lf)));
        std::uint32_t ends = lfs;
        if constexpr (rule == LineEnds::crlf) {
            const auto crs = static_cast<std::uint32_t>(_mm256_movemask_epi8(sameUnits256<U>(v, cr)));
            out -= heldCr & lfs & 1 ? U : 0;
            heldCr = crs >> 31;
            ends |= crs & lfs >> U;
        }
        const unsigned dropped = _mm_popcnt_u32(ends);
        std::uint32_t more = ends & firstBytes<U>; // the units to drop past the first line end
        for (unsigned k = 0; k < sure; ++k)
            more &= more - 1;
        if (more != 0) { // each half as the SSSE3 kernel packs it: v is loaded, so the first may store over the second
            out = packSixteen(out, _mm256_castsi256_si128(v), ends);
            out = packSixteen(out, _mm256_extracti128_si256(v, 1), ends >> 16);
            continue;
        }
        // The j-th unit to drop past the step stands at 32 + jU: its blend starts
        // at 32 - dropped, where no byte kept is.
        std::uint64_t units = (ends & firstBytes<U>) | sentinels<U, sure>;
        __m256i kept = v;
        for (unsigned k = 0; k < sure; ++k, units &= units - 1)
            kept = _mm256_blendv_epi8(kept, load256(step + (k + 1) * U),
                                      blendFrom(static_cast<unsigned>(__builtin_ctzll(units)) - k * U));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), kept);
        out += 32;
        out -= dropped;
    }
    if (heldCr != 0 && step < data + size && unitAt<U>(step) == unitOf<U, bigEndian>('\n'))
        out -= U;
    return dropPortable<rule, U, bigEndian>(step, data + size, out) - data;
}

#undef NONL_AVX2

#define NONL_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi2")))

template <unsigned U>
NONL_AVX512 inline __m512i everyUnit512(Unit<U> unit)
{
    if constexpr (U == 1)
        return _mm512_set1_epi8(static_cast<char>(unit));
    else if constexpr (U == 2)
        return _mm512_set1_epi16(static_cast<short>(unit));
    else
        return _mm512_set1_epi32(static_cast<int>(unit));
}

// A bit for each unit of a that is the same in b.
template <unsigned U>
NONL_AVX512 inline std::uint64_t sameUnits512(__m512i a, __m512i b)
{
    if constexpr (U == 1)
        return _mm512_cmpeq_epi8_mask(a, b);
    else if constexpr (U == 2)
        return _mm512_cmpeq_epi16_mask(a, b);
    else
        return _mm512_cmpeq_epi32_mask(a, b);
}

// The units of v whose bit is set in keep, packed to the front.
template <unsigned U>
NONL_AVX512 inline __m512i keptUnits512(std::uint64_t keep, __m512i v)
{
    if constexpr (U == 1)
        return _mm512_maskz_compress_epi8(keep, v);
    else if constexpr (U == 2)
        return _mm512_maskz_compress_epi16(static_cast<__mmask32>(keep), v);
    else
        return _mm512_maskz_compress_epi32(static_cast<__mmask16>(keep), v);
}

// The masks here hold a bit per unit.
template <LineEnds rule, unsigned U, bool bigEndian>
NONL_AVX512 std::size_t dropAvx512(char* data, std::size_t size)
{
    constexpr unsigned lanes = 64 / U;
    const __m512i lf = everyUnit512<U>(unitOf<U, bigEndian>('\n')), cr = everyUnit512<U>(unitOf<U, bigEndian>('\r'));
    char* out = data;
    std::uint32_t heldCr = 0;
    std::size_t i = 0;
    for (; i + 64 <= size; i += 64) {
        const __m512i v = _mm512_loadu_si512(data + i);
        const std::uint64_t lfs = sameUnits512<U>(v, lf);
        std::uint64_t ends = lfs;
        if constexpr (rule == LineEnds::crlf) {
            const std::uint64_t crs = sameUnits512<U>(v, cr);
            out -= U * (heldCr & lfs);
            heldCr = crs >> (lanes - 1);
            ends |= crs & lfs >> 1;
        }
        _mm512_storeu_si512(out, keptUnits512<U>(~ends, v));
        out += U * (lanes - static_cast<unsigned>(__builtin_popcountll(ends)));
    }
    if (heldCr != 0 && i < size && unitAt<U>(data + i) == unitOf<U, bigEndian>('\n'))
        out -= U;
    return dropPortable<rule, U, bigEndian>(data + i, data + size, out) - data;
}

#undef NONL_AVX512

#endif

template <LineEnds rule, unsigned U, bool bigEndian>
std::vector<LineEndKernel> kernelsFor()
{
    std::vector<LineEndKernel> kernels{{"portable", dropPortableKernel<rule, U, bigEndian>}};
#ifdef NONL_X86_KERNELS
    __builtin_cpu_init(); // this may run among static initialisers, before the runtime's own
    if (__builtin_cpu_supports("ssse3"))
        kernels.push_back({"ssse3", dropSsse3<rule, U, bigEndian>});
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt"))
        kernels.push_back({"avx2", dropAvx2<rule, U, bigEndian>});
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi2"))
        kernels.push_back({"avx512vbmi2", dropAvx512<rule, U, bigEndian>});
#endif
    return kernels;
}

template <LineEnds rule>
std::vector<LineEndKernel> kernelsFor(Units units)
{
    switch (units) {
    case Units::utf16le:
        return kernelsFor<rule, 2, false>();
    case Units::utf16be:
        return kernelsFor<rule, 2, true>();
    case Units::utf32le:
        return kernelsFor<rule, 4, false>();
    case Units::utf32be:
        return kernelsFor<rule, 4, true>();
    case Units::bytes:
        break;
    }
    return kernelsFor<rule, 1, false>();
}

constexpr int unitKinds = 5;
static_assert(static_cast<int>(Units::utf32be) + 1 == unitKinds && static_cast<int>(Units::bytes) == 0,
              "dropLineEnds indexes its kernels by the order of Units");

} // namespace

std::vector<LineEndKernel> lineEndKernels(TextRule rule)
{
    return rule.ends == LineEnds::crlf ? kernelsFor<LineEnds::crlf>(rule.units) : kernelsFor<LineEnds::lf>(rule.units);
}

std::size_t dropLineEnds(TextRule rule, char* data, std::size_t size)
{
    // Chosen on first use, so a static initialiser elsewhere may already call this.
    static const auto fastest = [] {
        std::array<LineEndKernel, 2 * unitKinds> chosen{};
        for (int units = 0; units < unitKinds; ++units)
            for (const LineEnds ends : {LineEnds::lf, LineEnds::crlf})
                chosen[2 * units + (ends == LineEnds::crlf)] = lineEndKernels({static_cast<Units>(units), ends}).back();
        return chosen;
    }();
    return fastest[2 * static_cast<int>(rule.units) + (rule.ends == LineEnds::crlf)].drop(data, size);
}
