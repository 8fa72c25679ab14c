#include "Lines.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Platform.h"

TLines TLines::Parse(std::string_view bytes) {
  // Only the bytes before a zero byte are copied.
  return Adopt(std::string(bytes.substr(0, bytes.find('\0'))));
}

TLines TLines::Adopt(std::string bytes) {
  TLines out;
  if (const void* zero = std::memchr(bytes.data(), 0, bytes.size()))
    bytes.resize(static_cast<std::size_t>(static_cast<const char*>(zero) - bytes.data()));
  out.FBuffer = std::move(bytes);
  out.Split();
  return out;
}

void TLines::Split() {
  // One pass over the bytes, sixteen at a time where the processor allows, stopping only at
  // CR and LF: a text's lines are a few dozen bytes, and a library search per line end
  // costs more in calls than in bytes looked at.
  const char* const data = FBuffer.data();
  const std::size_t n = FBuffer.size();
  FLines.reserve(n / 64 + 4);
  std::size_t start = 0;        // where the current line begins
  std::size_t skip = n;         // an LF that ends the line together with the CR before it
  auto lineEnd = [&](std::size_t at) {
    if (at == skip) return;
    FLines.push_back(TSpan{start, at - start});
    FLineBytes += at - start;
    start = at + 1;
    if (data[at] == '\r' && at + 1 < n && data[at + 1] == '\n') {
      skip = at + 1;
      start = at + 2;
    }
  };
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    auto ends = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf))));
    while (ends != 0) {
      lineEnd(i + static_cast<std::size_t>(__builtin_ctz(ends)));
      ends &= ends - 1;
    }
  }
#endif
  for (; i < n; ++i)
    if (data[i] == '\r' || data[i] == '\n') lineEnd(i);
  if (start < n) {
    FLines.push_back(TSpan{start, n - start});
    FLineBytes += n - start;
  }
}

void TLines::Add(std::string_view line) {
  // `line` may point into our own buffer (adding a line of this list to itself), so the
  // append must not read it after a reallocation.
  if (line.data() >= FBuffer.data() && line.data() < FBuffer.data() + FBuffer.size()) {
    const std::size_t at = static_cast<std::size_t>(line.data() - FBuffer.data());
    const std::size_t offset = FBuffer.size();
    FBuffer.append(FBuffer, at, line.size());
    FLines.push_back(TSpan{offset, line.size()});
  } else {
    FLines.push_back(TSpan{FBuffer.size(), line.size()});
    FBuffer.append(line);
  }
  FLineBytes += line.size();
}

void TLines::AddAll(const TLines& other) {
  if (&other == this) {
    const TLines copy = other;
    AddAll(copy);
    return;
  }
  const std::size_t base = FBuffer.size();
  FBuffer.append(other.FBuffer);
  // Room for both, grown as push_back would grow it: a stock's sections are added one by
  // one, and room for exactly one more section each time would copy the list each time.
  if (FLines.capacity() < FLines.size() + other.FLines.size())
    FLines.reserve(std::max(FLines.size() + other.FLines.size(), 2 * FLines.capacity()));
  for (const TSpan& s : other.FLines) FLines.push_back(TSpan{base + s.Offset, s.Length});
  FLineBytes += other.FLineBytes;
}

void TLines::Clear() {
  FBuffer.clear();
  FLines.clear();
  FLineBytes = 0;
}

std::string TLines::Text() const {
  std::string out;
  out.reserve(JoinedLength());
  for (const TSpan& s : FLines) {
    out.append(FBuffer, s.Offset, s.Length);
    out.append("\r\n");
  }
  return out;
}

TLines LoadLines(TPlatform& fs, const std::string& path) {
  return TLines::Adopt(ReadWholeFile(fs, path));
}

void SaveLines(TPlatform& fs, const std::string& path, const TLines& lines) {
  WriteWholeFile(fs, path, lines.Text());
}
