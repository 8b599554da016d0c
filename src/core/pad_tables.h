// The two 2048-byte pad tables of our deployment. The server and the packages it delivers
// use the same tables, so these values must never change.
#pragma once

#include <array>
#include <cstdint>

constexpr std::array<uint8_t, 2048> makePadTable(uint32_t seed) {
    std::array<uint8_t, 2048> table{};
    uint32_t x = seed;
    for (auto& entry : table) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        entry = static_cast<uint8_t>(x >> 24);
    }
    return table;
}

// Scrambles the request field of every server request.
inline constexpr std::array<uint8_t, 2048> requestPadTable = makePadTable(0x2545F491u);

// Scrambles package images and external section files; byte i uses entry
// (packagePadStart + i * packagePadStep) mod 2048.
inline constexpr std::array<uint8_t, 2048> packagePadTable = makePadTable(0x9E3779B9u);
inline constexpr int32_t packagePadStart = 1187;
inline constexpr int32_t packagePadStep = 1433;
