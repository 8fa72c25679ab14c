#include "Lines.h"

#include "Platform.h"

TLines TLines::Parse(std::string_view bytes) {
  TLines out;
  const std::size_t zero = bytes.find('\0');
  if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
  out.FBuffer.assign(bytes);
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const std::size_t start = i;
    while (i < n && bytes[i] != '\r' && bytes[i] != '\n') ++i;
    out.FLines.push_back(TSpan{start, i - start});
    out.FLineBytes += i - start;
    if (i < n && bytes[i] == '\r') ++i;
    if (i < n && bytes[i] == '\n') ++i;
  }
  return out;
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
  return TLines::Parse(ReadWholeFile(fs, path));
}

void SaveLines(TPlatform& fs, const std::string& path, const TLines& lines) {
  WriteWholeFile(fs, path, lines.Text());
}
