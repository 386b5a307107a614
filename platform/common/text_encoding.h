#pragma once
// Text files that people write with whatever editor they have: UTF-8, or the single-byte
// Windows code page (Windows-1252) that the suite's text files were written in on the old
// systems. Everything the suite shows is UTF-8.

#include <string>
#include <string_view>

namespace kvr::text {

// True when `text` is valid UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF).
bool isUtf8(std::string_view text);

// Each byte of `text` as Windows-1252, in UTF-8 (the five bytes that code page leaves
// undefined keep their own code points, as Windows converts them).
std::string windows1252ToUtf8(std::string_view text);

// `text` as valid UTF-8: unchanged when it already is, else taken as Windows-1252.
std::string toUtf8(std::string_view text);

} // namespace kvr::text
