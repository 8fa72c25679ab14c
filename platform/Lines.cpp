#include "Lines.h"

#include <cstring>
#include <utility>

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
  // The next CR and the next LF are found with memchr, each searched again only once the
  // cut has passed it: a text of long lines, or of LF alone, is not walked byte by byte.
  const char* const data = FBuffer.data();
  const std::size_t n = FBuffer.size();
  const char* const end = data + n;
  const char* cr = nullptr;
  const char* lf = nullptr;
  auto next = [end](const char* from, const char*& found, char c) {
    if (found && found >= from) return;
    const void* at = std::memchr(from, c, static_cast<std::size_t>(end - from));
    found = at ? static_cast<const char*>(at) : end;
  };
  const char* p = data;
  while (p < end) {
    next(p, cr, '\r');
    next(p, lf, '\n');
    const char* stop = cr < lf ? cr : lf;
    FLines.push_back(TSpan{static_cast<std::size_t>(p - data), static_cast<std::size_t>(stop - p)});
    FLineBytes += static_cast<std::size_t>(stop - p);
    p = stop;
    if (p < end && *p == '\r') ++p;
    if (p < end && *p == '\n') ++p;
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
  FLines.reserve(FLines.size() + other.FLines.size());
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
