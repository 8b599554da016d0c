// Shared by the entries: the input as a byte string, and the input taken apart into pieces
// (a length, then that many bytes) that stand for separate reads or replies.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/byte_string.h"

namespace fuzzinput {

inline ByteStringPtr bytesOf(const uint8_t* data, size_t size) {
    if (size > INT32_MAX / 2) size = INT32_MAX / 2;
    ByteStringPtr s(ByteString_create(static_cast<int32_t>(size)));
    ByteString_appendBytes(s.get(), data, static_cast<int32_t>(size));
    return s;
}

inline bool terminated(const ByteString* s) {
    return s == nullptr || s->data[s->length] == 0;
}

class Pieces {
  public:
    // Each piece's length takes `lengthBytes` bytes (1 or 2, little-endian) modulo `modulo`.
    Pieces(std::span<const uint8_t> input, int lengthBytes, size_t modulo)
        : input_(input), lengthBytes_(lengthBytes), modulo_(modulo) {}

    bool done() const { return at_ >= input_.size(); }
    std::span<const uint8_t> next() {
        size_t n = 0;
        for (int i = 0; i < lengthBytes_ && at_ < input_.size(); ++i) {
            n |= static_cast<size_t>(input_[at_++]) << (8 * i);
        }
        n = std::min(n % modulo_, input_.size() - at_);
        auto piece = input_.subspan(at_, n);
        at_ += n;
        return piece;
    }

  private:
    std::span<const uint8_t> input_;
    int lengthBytes_;
    size_t modulo_;
    size_t at_ = 0;
};

}  // namespace fuzzinput
