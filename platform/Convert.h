#pragma once
// Text conversions at the program's edges and the number rules of the settings.

#include <cstdint>
#include <string>
#include <string_view>

// GBK <-> UTF-8. Bytes that do not convert are carried over as they are, so a conversion
// never fails and a round trip gives back the bytes it was given.
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

// A whole decimal integer (leading blanks, a sign, "$"/"0x" hexadecimal as the runtime reads
// them), else EFailure "'%s' is not a valid integer value".
std::int32_t StrToInt(const std::string& text);
// The settings rule for integers: decimal; "0x"/"0X" hexadecimal when longer than two
// characters; anything else gives `fallback`.
std::int32_t ProfileInt(const std::string& text, std::int32_t fallback);
// Removes the bytes 0x00 to 0x20 from both ends (the ideographic space is not trimmed).
std::string_view Trim(std::string_view text);
// Upper-cases the bytes a to z; every other byte stays.
std::string UpperAscii(std::string_view text);
// True when `a` and `b` are equal but for the case of ASCII letters. The second byte of a GBK
// double-byte character is compared as it is, so two different characters never match.
bool SameText(std::string_view a, std::string_view b);
// The offset of the last "\" or "/" of a path that is a separator (not the second byte of a
// GBK character), or npos.
std::size_t LastPathDelimiter(std::string_view path);
// True when `lead` starts a GBK double-byte character (0x81 to 0xFE). (Not `byte`: the
// Windows headers declare a type of that name, which a parameter would shadow.)
inline bool IsGbkLead(unsigned char lead) { return lead >= 0x81 && lead <= 0xFE; }
