#pragma once
// Windows' MulDiv: a * b / c through a 64-bit product, rounded half away from zero; -1 when c is 0
// or the result is beyond +-2147483647.
#include <cstdint>
#include <limits>

inline int32_t MulDiv(int32_t a, int32_t b, int32_t c)
{
    if (c == 0)
        return -1;
    const int64_t Product = int64_t(a) * b;
    const bool Negative = (Product < 0) != (c < 0);
    const uint64_t Num = Product < 0 ? uint64_t(-Product) : uint64_t(Product);
    const uint64_t Den = c < 0 ? uint64_t(-int64_t(c)) : uint64_t(c);
    const uint64_t Quotient = (Num + Den / 2) / Den;
    if (Quotient > uint64_t(std::numeric_limits<int32_t>::max()))
        return -1;
    return Negative ? int32_t(-int64_t(Quotient)) : int32_t(Quotient);
}
