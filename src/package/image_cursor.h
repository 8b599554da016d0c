// Bounds-checked reading of package image fields. Every read checks the end of the data
// before it touches a byte; a failed read leaves the cursor unchanged.
#pragma once

#include <cstdint>

#include "core/byte_string.h"

class ImageCursor {
  public:
    ImageCursor(const ByteString* bytes, int32_t position) : bytes_(bytes), position_(position) {}

    int32_t position() const { return position_; }
    bool atEnd() const { return remaining() == 0; }

    bool byte(uint32_t& out) {
        if (remaining() < 1) return false;
        out = bytes_->data[position_++];
        return true;
    }

    bool u16(uint32_t& out) {
        if (remaining() < 2) return false;
        const uint8_t* p = bytes_->data + position_;
        out = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
        position_ += 2;
        return true;
    }

    bool u32(uint32_t& out) {
        if (remaining() < 4) return false;
        const uint8_t* p = bytes_->data + position_;
        out = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        position_ += 4;
        return true;
    }

    // `count` bytes as a new string; null when they run past the end.
    ByteStringPtr take(uint32_t count) {
        if (count > static_cast<uint32_t>(remaining())) return nullptr;
        ByteStringPtr s(ByteString_substring(bytes_, position_, static_cast<int32_t>(count)));
        position_ += static_cast<int32_t>(count);
        return s;
    }

    // One length byte, then that many bytes.
    ByteStringPtr shortString() {
        int32_t start = position_;
        uint32_t n = 0;
        if (!byte(n)) return nullptr;
        ByteStringPtr s = take(n);
        if (s == nullptr) position_ = start;
        return s;
    }

  private:
    int32_t remaining() const {
        if (position_ < 0 || position_ >= bytes_->length) return 0;
        return bytes_->length - position_;
    }

    const ByteString* bytes_;
    int32_t position_;
};
