#pragma once
// Text at the edge of the Windows API: the program's GBK bytes (code page 936, named
// explicitly: the process's ANSI code page may be anything) and UTF-8 against UTF-16.
// Internal to the platform folder.

#include <string>
#include <string_view>

namespace win32 {

// GBK -> UTF-16. A byte that does not start a valid character becomes the character of the
// same number in the range U+F700..U+F7FF, a private-use character no GBK text holds, so
// that Narrow() can give the byte back.
std::wstring Wide(std::string_view gbk);
// UTF-16 -> GBK; `exact` (when given) tells whether every character had a GBK form (else
// the result names something else). Private-use characters from Wide() become their bytes.
std::string Narrow(std::wstring_view wide, bool* exact = nullptr);
// UTF-8 <-> UTF-16, for host paths and the console.
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

}  // namespace win32
