#pragma once
// Text in the host's own character sets, carried into GBK by iconv. Private to the platform
// library; the GBK <-> UTF-8 conversions of Convert.h are made here too.

#include <string>
#include <string_view>

// Text in the host character set `codeset` (any that iconv knows, as nl_langinfo names it) ->
// GBK; bytes that do not convert are carried over. Throws std::runtime_error when iconv does
// not know `codeset`.
std::string HostToGbk(std::string_view text, const std::string& codeset);
