// Builds a request: the word (ending in "|") and its arguments joined by single "|",
// nothing after the last. Numbers go in unsigned decimal.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/byte_string.h"

class RequestText {
  public:
    explicit RequestText(std::string_view word);

    RequestText& arg(std::string_view text);
    RequestText& arg(const ByteString* text);  // null counts as empty
    RequestText& arg(uint32_t number);
    // Appends to the last argument without a separator.
    RequestText& glue(std::string_view text);
    RequestText& glue(const ByteString* text);

    const ByteString* get() const { return text_.get(); }
    ByteStringPtr release() { return std::move(text_); }

  private:
    ByteStringPtr text_;
    bool first_ = true;
};
