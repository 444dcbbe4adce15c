// Extended precision in software against the machine's own: where long double
// is x87's 80-bit format (x86), every operation must give its bits exactly.
// Elsewhere these tests skip, and the cross-machine pictures and sounds of
// test_portable.cpp stand in for them.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "Extended.h"

namespace {

constexpr bool X87 = std::numeric_limits<long double>::digits == 64;

#define REQUIRE_X87()                                                      \
    if (!X87) {                                                            \
        GTEST_SKIP() << "long double is not x87's 80-bit format here"; \
    }

// An x87 value's own significand and exponent.
Extended fromX87(long double x) {
    uint8_t raw[16] = {};
    memcpy(raw, &x, 10);
    uint64_t significand;
    memcpy(&significand, raw, 8);
    const int biased = (raw[8] | raw[9] << 8) & 0x7FFF;
    const bool negative = raw[9] & 0x80;
    if (!significand) return {negative, 0, 0};
    return {negative, significand, biased - 16383 - 63};
}

long double toX87(Extended e) {
    const long double m = std::ldexp(static_cast<long double>(e.significand), e.exponent);
    return e.negative ? -m : m;
}

// Random values with full 64-bit significands: exponents near one another,
// so that sums cancel and round, and low bits that often sit on a tie.
struct Operands {
    std::mt19937_64 bits{20261207};
    long double next(int exponentSpread) {
        uint64_t significand = bits() | uint64_t{1} << 63;
        switch (bits() % 4) {
        case 0: significand &= ~uint64_t{0} << 11; break;  // a double's significand
        case 1: significand = (significand & ~uint64_t{0x3FF}) | 0x200; break;
        default: break;
        }
        const int exponent = static_cast<int>(bits() % (2 * exponentSpread + 1)) - exponentSpread - 63;
        const long double v = std::ldexp(static_cast<long double>(significand), exponent);
        return bits() & 1 ? -v : v;
    }
};

void expectSame(long double want, Extended got, const char* what, long double a, long double b) {
    const Extended w = fromX87(want);
    ASSERT_TRUE(w.significand == got.significand && w.exponent == got.exponent &&
                (w.negative == got.negative || !w.significand))
        << what << " of " << static_cast<double>(a) << " and " << static_cast<double>(b) << ": want "
        << static_cast<double>(want) << ", got " << static_cast<double>(toX87(got));
}

TEST(Extended, ArithmeticGivesX87sBits) {
    REQUIRE_X87()
    Operands r;
    for (int k = 0; k < 400000; k++) {
        const int spread = k % 3 == 0 ? 2 : k % 3 == 1 ? 70 : 200;
        volatile long double a = r.next(spread), b = r.next(spread);
        const Extended ea = fromX87(a), eb = fromX87(b);
        expectSame(a + b, ea + eb, "sum", a, b);
        expectSame(a - b, ea - eb, "difference", a, b);
        expectSame(a * b, ea * eb, "product", a, b);
        expectSame(a / b, ea / eb, "quotient", a, b);
    }
}

// Results a hair away from a tie, where bits far below the 64 kept decide.
TEST(Extended, NearTiesRoundTheWayX87Does) {
    REQUIRE_X87()
    Operands r;
    for (int k = 0; k < 20000; k++) {
        volatile long double a = r.next(5);
        const int e = fromX87(a).exponent;
        // Half a unit of a's last place, nudged up or down by 2^-j of itself.
        for (int j : {1, 2, 30, 62, 63}) {
            const long double nudge = std::ldexp(1.0L, -j);
            for (long double h : {std::ldexp(1.0L + nudge, e - 1), std::ldexp(1.0L - nudge, e - 1)}) {
                volatile long double b = k & 1 ? -h : h;
                expectSame(a + b, fromX87(a) + fromX87(b), "sum near a tie", a, b);
            }
        }
    }
    // 2^63 / (2^64 - 1) is 0.5 * (1 + 2^-64 + 2^-128 + ...): a tie but for a tail
    // 128 bits down.
    const long double almostOne = 1.0L - std::ldexp(1.0L, -64);
    for (int scale = -3; scale <= 3; scale++) {
        volatile long double a = std::ldexp(1.0L, scale), b = almostOne;
        expectSame(a / b, fromX87(a) / fromX87(b), "quotient near a tie", a, b);
        volatile long double c = std::ldexp(1.0L + std::ldexp(1.0L, -62), scale);
        expectSame(c / b, fromX87(c) / fromX87(b), "quotient near a tie", c, b);
    }
}

TEST(Extended, CancellationAndZeros) {
    REQUIRE_X87()
    Operands r;
    for (int k = 0; k < 100000; k++) {
        volatile long double a = r.next(10);
        // b one or a few units of the last place away from -a.
        volatile long double b = -std::nextafter(static_cast<long double>(a), (k & 1) ? LDBL_MAX : -LDBL_MAX);
        expectSame(a + b, fromX87(a) + fromX87(b), "near cancellation", a, b);
        expectSame(a - a, fromX87(a) - fromX87(a), "exact cancellation", a, a);
        expectSame(a * 0.0L, fromX87(a) * Extended(0.0), "product with zero", a, 0);
    }
}

TEST(Extended, RoundingToDoubleFloatAndIntegers) {
    REQUIRE_X87()
    Operands r;
    for (int k = 0; k < 400000; k++) {
        const int spread = k % 2 ? 40 : 1100;  // past double's range too, into its subnormals
        volatile long double a = r.next(spread);
        const Extended e = fromX87(a);
        const double d = static_cast<double>(a), ed = toDouble(e);
        ASSERT_EQ(memcmp(&d, &ed, sizeof d), 0) << static_cast<double>(a);
        const float f = static_cast<float>(a);
        const float g = toFloat(e);
        ASSERT_EQ(memcmp(&f, &g, sizeof f), 0) << static_cast<double>(a);
        if (std::fabs(a) < 9e18L) {
            ASSERT_EQ(static_cast<int64_t>(a), truncated(e)) << static_cast<double>(a);
        }
    }
    EXPECT_EQ(truncated(Extended(1e30)), INT64_MAX);
    EXPECT_EQ(truncated(Extended(-1e30)), INT64_MIN);
    EXPECT_EQ(truncated(Extended(-0.75)), 0);
}

// Doubles, including subnormal ones, become the same value exactly.
TEST(Extended, DoublesConvertExactly) {
    REQUIRE_X87()
    for (double d : {1.0, -2.5, 0.1, DBL_MAX, DBL_MIN, DBL_TRUE_MIN, -3 * DBL_TRUE_MIN, 1e-310, 0.0, -0.0}) {
        const Extended e(d);
        EXPECT_EQ(toX87(e), static_cast<long double>(d)) << d;
        EXPECT_EQ(toDouble(e), d) << d;
    }
}

}  // namespace
