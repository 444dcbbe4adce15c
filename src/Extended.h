// Extended: the program's extended-precision steps, in software, the same on
// every machine: x87's format with its 64-bit significand, every result
// rounded to nearest, ties to even. x87's long double does the same on x86;
// on arm64 and in WebAssembly long double is IEEE binary128, whose wider
// results can round or truncate differently. Values are finite and their
// exponent range is not limited.
#pragma once

#include <cstdint>

struct Extended {
    bool negative;
    uint64_t significand;  // top bit set, or 0 for zero
    int32_t exponent;      // the value is significand * 2^exponent
    Extended() = default;
    constexpr Extended(bool negative_, uint64_t significand_, int32_t exponent_)
        : negative(negative_), significand(significand_), exponent(exponent_) {}
    Extended(double d);  // exact; d finite
};
Extended operator+(Extended a, Extended b);
Extended operator-(Extended a, Extended b);
Extended operator*(Extended a, Extended b);
Extended operator/(Extended a, Extended b);  // b not 0
Extended operator-(Extended a);
Extended abs(Extended a);
double toDouble(Extended a);  // rounded to nearest, ties to even
float toFloat(Extended a);    // likewise, straight from the 64-bit significand
int64_t truncated(Extended a);  // toward zero; beyond 64 bits saturated
// toDouble(Extended(n) / Extended(d)), most often by a double division: d not 0.
double quotientToDouble(double n, double d);
// truncated(Extended(a) * Extended(b)), in one call for the per-byte and per-row loops.
int64_t truncatedProduct(double a, double b);
