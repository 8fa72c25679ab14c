#include "IconvText.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

#include "Convert.h"

namespace {

// One conversion descriptor per thread and direction: iconv_t is not safe to share, and
// opening one per call would cost more than most conversions.
class TConverter {
 public:
  TConverter(const char* to, const char* from) : FHandle(iconv_open(to, from)) {
    if (FHandle == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
  }
  ~TConverter() { iconv_close(FHandle); }
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;

  // Converts `in`; a byte that does not convert is copied as it is and conversion goes on
  // after it, so nothing is ever lost.
  std::string Run(std::string_view in) {
    std::string out(in.size() * 2 + 8, '\0');
    std::size_t used = 0;
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
    while (srcLeft > 0) {
      char* dst = out.data() + used;
      std::size_t dstLeft = out.size() - used;
      const std::size_t r = iconv(FHandle, &src, &srcLeft, &dst, &dstLeft);
      used = static_cast<std::size_t>(dst - out.data());
      if (r != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      // EILSEQ (no such character) or EINVAL (cut off at the end): carry the byte over.
      iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
      if (used == out.size()) out.resize(out.size() * 2);
      out[used++] = *src++;
      --srcLeft;
    }
    out.resize(used);
    return out;
  }

 private:
  iconv_t FHandle;
};

bool IsAscii(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  thread_local TConverter converter("UTF-8", "GBK");
  return converter.Run(gbk);
}

std::string Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  thread_local TConverter converter("GBK", "UTF-8");
  return converter.Run(utf8);
}

std::string HostToGbk(std::string_view text, const std::string& codeset) {
  TConverter converter("GBK", codeset.c_str());
  return converter.Run(text);
}
