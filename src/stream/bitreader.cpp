#include "bitreader.h"

uint32_t BitReader::bits(int n)
{
    if (failed || n < 0 || n > 32 || size_t(n) > size * 8 - pos) {
        failed = true;
        return 0;
    }
    uint64_t value = 0;
    for (int i = 0; i < n; ++i, ++pos)
        value = (value << 1) | ((data[pos / 8] >> (7 - pos % 8)) & 1);
    return uint32_t(value);
}

uint32_t BitReader::ue()
{
    int zeros = 0;
    while (!failed && bits(1) == 0) {
        if (++zeros > 31) {
            failed = true;
            return 0;
        }
    }
    if (failed)
        return 0;
    return uint32_t((uint64_t(1) << zeros) - 1 + bits(zeros));
}

int32_t BitReader::se()
{
    const uint32_t code = ue();
    // 1, 2, 3, 4 ... map to 1, -1, 2, -2 ...
    const int64_t magnitude = (int64_t(code) + 1) / 2;
    return int32_t(code % 2 ? magnitude : -magnitude);
}

void BitReader::skip(size_t n)
{
    if (failed || n > size * 8 - pos) {
        failed = true;
        return;
    }
    pos += n;
}
