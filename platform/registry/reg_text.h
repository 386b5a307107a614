#pragma once
// The text form of the settings store that `kvrreg export` writes and `kvrreg import` reads:
// a .reg file as Windows' registry editor writes it, without its header line.
//
//   [HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\KvrApp]     a key, its full path
//   "SoundType"=dword:00000001                                      DWORD, 8 hex digits
//   "RButton Path"="/usr/bin/RClick"                                string
//   @="default value"                                               the default value ("")
//   "Banner"=hex(1):41,00,0a,00,00,00                               a string with control
//                                                                   characters: its UTF-16LE
//                                                                   units and a final zero
//   (blank line after each key)
//
// In names and quoted strings \\ is a backslash, \" a quote and \xHH a control character.
// hex(1) lines longer than 80 characters end in '\' and go on, indented, on the next line.
// Bytes of a string that are not UTF-8 travel in hex(1) as the lone surrogates U+DC80..U+DCFF,
// so every string comes back byte for byte. Key paths are written as they are (a key name
// with control characters, which nothing in the suite creates, cannot be read back).
//
// The reader takes exactly that (also with CR LF line ends and the header line
// "Windows Registry Editor Version 5.00"); anything else is an error with its line number.

#include "platform/registry/registry.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::reg {

// "[path]" for a key (the path as `canonicalPath` gives it).
std::string formatKeyLine(std::string_view canonical);
// One value line (two or more lines for a long hex(1) string), without the final line feed.
std::string formatValueLine(const Value& value);
// True when a key path cannot be read back as written (control characters in a name).
bool keyPathIsAmbiguous(std::string_view canonical);

struct ParseError {
    std::size_t line = 0; // 1-based
    std::string reason;
};

// Reads a whole text; on success `out` holds every key with its values in file order.
bool parseRegText(std::string_view text, std::vector<KeyValues>& out, ParseError& error);

} // namespace kvr::reg
