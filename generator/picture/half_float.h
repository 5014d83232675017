// A 16-bit half float's value as a 32-bit float, exactly (every half is a float): for the
// readers of TIFF and OpenEXR, whose float samples may be halves.
#pragma once

#include <cstdint>
#include <cstring>

inline float halfToFloat(std::uint16_t half)
{
    const std::uint32_t sign = std::uint32_t{half & 0x8000u} << 16;
    std::uint32_t exponent = half >> 10 & 0x1Fu, mantissa = half & 0x3FFu, bits;
    if (exponent == 0x1F) {  // infinity, or NaN with its mantissa
        bits = sign | 0x7F800000u | mantissa << 13;
    } else if (exponent != 0) {  // normal: the exponent rebiased
        bits = sign | (exponent + 112) << 23 | mantissa << 13;
    } else if (mantissa == 0) {
        bits = sign;
    } else {  // subnormal, normalised
        exponent = 113;
        while ((mantissa & 0x400u) == 0) {
            mantissa <<= 1;
            --exponent;
        }
        bits = sign | exponent << 23 | (mantissa & 0x3FFu) << 13;
    }
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}
