// Extended: x87's extended-precision results on every machine, from integer
// arithmetic. The effects and the sound form some products, sums and
// quotients in extended precision before rounding them to double or
// truncating them; these few operations are all they need.
#include "Extended.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

using u128 = unsigned __int128;

// std::bit_cast, spelled out: the C++ library of Emscripten 3.1.6 (Debian 12's)
// does not have it yet.
template <class To, class From>
static To bitCast(From from) {
    static_assert(sizeof(To) == sizeof(From), "same size");
    To to;
    memcpy(&to, &from, sizeof to);
    return to;
}

constexpr int SIGNIFICAND_BITS = 64;
constexpr uint64_t TOP_BIT = uint64_t{1} << 63;

static int topBit(u128 m) {
    const uint64_t hi = static_cast<uint64_t>(m >> 64);
    return hi ? 127 - std::countl_zero(hi) : 63 - std::countl_zero(static_cast<uint64_t>(m));
}

// m * 2^e, m not 0, rounded to 64 significant bits, ties to even. `sticky`
// says that the exact value lies a little above m * 2^e (by less than one
// unit of m's lowest bit); callers that set it leave at least two bits of m
// below the 64 kept.
static Extended rounded(bool negative, u128 m, int32_t e, bool sticky) {
    const int top = topBit(m);
    if (top < SIGNIFICAND_BITS) {
        const int shift = SIGNIFICAND_BITS - 1 - top;
        return {negative, static_cast<uint64_t>(m) << shift, e - shift};
    }
    const int drop = top - (SIGNIFICAND_BITS - 1);
    uint64_t kept = static_cast<uint64_t>(m >> drop);
    const u128 rest = drop ? m & ((u128{1} << drop) - 1) : 0;
    const u128 half = drop ? u128{1} << (drop - 1) : 0;
    const bool up = drop && (rest > half || (rest == half && (sticky || (kept & 1))));
    e += drop;
    if (up && ++kept == 0) {  // carried out of the top: 2^64
        kept = TOP_BIT;
        e++;
    }
    return {negative, kept, e};
}

Extended::Extended(double d) {
    const uint64_t bits = bitCast<uint64_t>(d);
    negative = bits >> 63;
    const int biased = static_cast<int>(bits >> 52 & 0x7FF);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    if (biased == 0 && fraction == 0) {
        significand = 0;
        exponent = 0;
        return;
    }
    // Normal: 1.fraction * 2^(biased - 1023); subnormal: 0.fraction * 2^-1022.
    const uint64_t whole = biased ? fraction | uint64_t{1} << 52 : fraction;
    const int shift = std::countl_zero(whole);
    significand = whole << shift;
    exponent = (biased ? biased : 1) - 1075 - shift;
}

Extended operator-(Extended a) {
    a.negative = !a.negative;
    return a;
}

Extended abs(Extended a) {
    a.negative = false;
    return a;
}

Extended operator*(Extended a, Extended b) {
    const bool negative = a.negative != b.negative;
    if (!a.significand || !b.significand) return {negative, 0, 0};
    return rounded(negative, u128{a.significand} * b.significand, a.exponent + b.exponent, false);
}

Extended operator/(Extended a, Extended b) {
    const bool negative = a.negative != b.negative;
    if (!a.significand) return {negative, 0, 0};
    // The numerator shifted so that the quotient has exactly 64 bits; the
    // remainder against half the divisor then decides the rounding.
    const int shift = a.significand >= b.significand ? 63 : 64;
    const u128 numerator = u128{a.significand} << shift;
    uint64_t q = static_cast<uint64_t>(numerator / b.significand);
    const u128 twiceRest = (numerator - u128{q} * b.significand) << 1;
    int32_t e = a.exponent - b.exponent - shift;
    if (twiceRest > b.significand || (twiceRest == b.significand && (q & 1))) {
        if (++q == 0) {  // carried out of the top: 2^64
            q = TOP_BIT;
            e++;
        }
    }
    return {negative, q, e};
}

// Both significands aligned on a 128-bit grid with their top bit at 125, so
// that a carry has room; bits shifted out of the smaller one are kept as a
// set lowest bit, which lies far below the bits that decide the rounding.
Extended operator+(Extended a, Extended b) {
    if (!a.significand) return b.significand ? b : Extended{a.negative && b.negative, 0, 0};
    if (!b.significand) return a;
    if (b.exponent > a.exponent || (b.exponent == a.exponent && b.significand > a.significand)) std::swap(a, b);
    constexpr int GUARD = 62;
    const u128 big = u128{a.significand} << GUARD;
    const int64_t apart = static_cast<int64_t>(a.exponent) - b.exponent;
    u128 small = 0;
    if (apart < 128) {
        const u128 full = u128{b.significand} << GUARD;
        small = apart ? full >> apart : full;
        if (apart && (full & ((u128{1} << apart) - 1))) small |= 1;
    } else {
        small = 1;
    }
    const int32_t e = a.exponent - GUARD;
    if (a.negative == b.negative) return rounded(a.negative, big + small, e, false);
    if (big == small) return {false, 0, 0};  // x + (-x) is +0 when rounding to nearest
    return rounded(a.negative, big - small, e, false);
}

Extended operator-(Extended a, Extended b) { return a + -b; }

// The value rounded, ties to even, to a binary format of `precision`
// significand bits whose smallest normal exponent is `minExponent` (the
// significand read as 1.xxx); below it the precision shrinks as in the
// format's subnormals. The result is exact in that format, so ldexp places it.
static double roundedTo(Extended a, int precision, int minExponent) {
    if (!a.significand) return a.negative ? -0.0 : 0.0;
    const int top = a.exponent + SIGNIFICAND_BITS - 1;  // the value's leading power of two
    const int keep = top >= minExponent ? precision : precision - (minExponent - top);
    if (keep < 0) return a.negative ? -0.0 : 0.0;  // below half the smallest subnormal
    const int drop = SIGNIFICAND_BITS - keep;
    uint64_t kept = drop < 64 ? a.significand >> drop : 0;
    const uint64_t rest = drop < 64 ? a.significand & ((uint64_t{1} << drop) - 1) : a.significand;
    const uint64_t half = drop <= 64 ? uint64_t{1} << (drop - 1) : 0;
    if (drop <= 64 && (rest > half || (rest == half && (kept & 1)))) kept++;
    const double magnitude = std::ldexp(static_cast<double>(kept), a.exponent + drop);
    return a.negative ? -magnitude : magnitude;
}

double toDouble(Extended a) {
    // Normal doubles, the usual case, are put together from their fields.
    constexpr int DROPPED = SIGNIFICAND_BITS - 53;
    const int top = a.exponent + SIGNIFICAND_BITS - 1;
    if (!a.significand || top < -1022 || top > 1022) return roundedTo(a, 53, -1022);
    uint64_t kept = a.significand >> DROPPED;
    const uint64_t rest = a.significand & ((uint64_t{1} << DROPPED) - 1), half = uint64_t{1} << (DROPPED - 1);
    if (rest > half || (rest == half && (kept & 1))) kept++;  // 2^53 at most: the exponent field takes the carry
    const uint64_t bits = (static_cast<uint64_t>(a.negative) << 63) |
                          ((static_cast<uint64_t>(top + 1023) << 52) + (kept - (uint64_t{1} << 52)));
    return bitCast<double>(bits);
}

float toFloat(Extended a) { return static_cast<float>(roundedTo(a, 24, -126)); }

int64_t truncated(Extended a) {
    if (!a.significand || a.exponent <= -SIGNIFICAND_BITS) return 0;
    uint64_t magnitude;
    if (a.exponent < 0)
        magnitude = a.significand >> -a.exponent;
    else if (a.exponent == 0)
        magnitude = a.significand;
    else
        magnitude = UINT64_MAX;  // beyond 2^64: saturated below
    if (magnitude > static_cast<uint64_t>(INT64_MAX)) return a.negative ? INT64_MIN : INT64_MAX;
    return a.negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
}

// n / d in double is n / d rounded once; x87 rounds to 64 bits first and then
// to 53, which differs only where the 64-bit quotient falls exactly halfway
// between two doubles. The remainder n - q * d (exact through fma) tells how
// far the true quotient lies from q: well inside half a unit of q's last
// place, the 64-bit rounding cannot reach a halfway point and q stands.
// Elsewhere (about one quotient in a thousand) the quotient is formed in
// full. Quotients that are not normal doubles take the full path too.
double quotientToDouble(double n, double d) {
    const double q = n / d;
    const uint64_t bits = bitCast<uint64_t>(q);
    const uint64_t exponentField = bits >> 52 & 0x7FF;
    const bool powerOfTwo = (bits & ((uint64_t{1} << 52) - 1)) == 0;
    if (exponentField > 53 && exponentField < 0x7FE && !powerOfTwo) {
        const double rest = std::fma(-q, d, n);
        if (rest == 0) return q;
        const double ulp = bitCast<double>((exponentField - 52) << 52);
        if (std::fabs(rest) < std::fabs(d) * (0.5 * ulp * (1 - 0x1p-10))) return q;
    }
    return toDouble(Extended(n) / Extended(d));
}

// A finite double as odd * 2^exponent (odd 0 for zero), sign apart.
struct OddPart {
    uint64_t odd;
    int exponent;
};
static inline OddPart oddPart(double d) {
    const uint64_t bits = bitCast<uint64_t>(d);
    const int biased = static_cast<int>(bits >> 52 & 0x7FF);
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    const uint64_t whole = biased ? fraction | uint64_t{1} << 52 : fraction;
    if (!whole) return {0, 0};
    const int zeros = std::countr_zero(whole);
    return {whole >> zeros, (biased ? biased : 1) - 1075 + zeros};
}

// Where the exact product has at most 64 significant bits, extended precision
// holds it as it is and only the truncation is left: the sines of the sound
// times small factors (mostly exact in double as well), and of the row shifts
// times jitters below 2^11.
int64_t truncatedProduct(double a, double b) {
    const double p = a * b;
    if (std::fabs(p) < 0x1p62 && std::fma(a, b, -p) == 0) return static_cast<int64_t>(p);  // exact in double too
    const OddPart x = oddPart(a), y = oddPart(b);
    if (!x.odd || !y.odd) return 0;
    if (std::bit_width(x.odd) + std::bit_width(y.odd) <= SIGNIFICAND_BITS) {
        const uint64_t product = x.odd * y.odd;
        const int exponent = x.exponent + y.exponent;
        if (exponent <= 0 && exponent > -SIGNIFICAND_BITS) {
            const int64_t whole = static_cast<int64_t>(product >> -exponent);  // below 2^63: a double's range
            return (a < 0) != (b < 0) ? -whole : whole;
        }
        if (exponent <= -SIGNIFICAND_BITS) return 0;
    }
    return truncated(Extended(a) * Extended(b));
}
