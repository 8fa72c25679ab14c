#pragma once
// The program's texts as the wide text of the Windows API, for the Windows form. The same
// tables as the platform's own conversions: a GBK byte that is no character survives the
// trip to wide text and back. Windows only.

#include <string>
#include <string_view>

#ifdef _WIN32

std::wstring GbkToWide(std::string_view gbk);
std::string WideToGbk(std::wstring_view wide);
// Host paths are UTF-8 inside the program.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

#endif
