#include "server/request_text.h"

RequestText::RequestText(std::string_view word) : text_(makeByteString(word)) {}

RequestText& RequestText::arg(std::string_view text) {
    if (!first_) ByteString_appendByte(text_.get(), '|');
    first_ = false;
    return glue(text);
}

RequestText& RequestText::arg(const ByteString* text) {
    return arg(ByteString_view(text));
}

RequestText& RequestText::arg(uint32_t number) {
    ByteStringPtr digits(ByteString_fromUnsigned(number));
    return arg(digits.get());
}

RequestText& RequestText::glue(std::string_view text) {
    ByteString_appendBytes(text_.get(), text.data(), static_cast<int32_t>(text.size()));
    return *this;
}

RequestText& RequestText::glue(const ByteString* text) {
    return glue(ByteString_view(text));
}
