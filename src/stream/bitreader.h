#pragma once

#include <cstddef>
#include <cstdint>

// Reads bits most significant first from a byte string that has had its
// emulation-prevention bytes removed. Reading past the end returns zeros and
// marks the reader failed, so a parser checks ok() once after a group of
// fields instead of after each one.
class BitReader
{
public:
    BitReader(const uint8_t *data, size_t size) : data(data), size(size) {}

    // n from 0 to 32.
    uint32_t bits(int n);
    bool flag() { return bits(1) != 0; }
    // Exp-Golomb codes; longer than 32 bits counts as a failure.
    uint32_t ue();
    int32_t se();
    void skip(size_t n);

    bool ok() const { return !failed; }
    void fail() { failed = true; }

private:
    const uint8_t *data;
    size_t size;
    size_t pos = 0; // in bits
    bool failed = false;
};
