#include "RunReport.h"

#include <cstdio>
#include <ctime>

#include "Convert.h"
#include "Failure.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "RunTerms.h"

namespace {

// A JSON string of a GBK text: UTF-8, as JSON must be. A byte that is no UTF-8 after the
// conversion (GBK that was not GBK) becomes U+FFFD, so a reader's parser never stops at it.
std::string Quoted(const std::string& gbk) {
  const std::string text = GbkToUtf8(gbk);
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      switch (b) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (b < 0x20 || b == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", b);
            out += escaped;
          } else {
            out += static_cast<char>(b);
          }
      }
      ++i;
      continue;
    }
    // The length of a well-formed sequence starting here, 0 when there is none.
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) n = 2;
    else if (b == 0xE0) n = 3, low = 0xA0;
    else if (b == 0xED) n = 3, high = 0x9F;
    else if (b >= 0xE1 && b <= 0xEF) n = 3;
    else if (b == 0xF0) n = 4, low = 0x90;
    else if (b == 0xF4) n = 4, high = 0x8F;
    else if (b >= 0xF1 && b <= 0xF3) n = 4;
    bool whole = n > 0 && i + n <= text.size();
    for (std::size_t k = 1; whole && k < n; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      whole = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
    }
    if (whole) {
      out.append(text, i, n);
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out + "\"";
}

// ISO 8601 with the host's offset from UTC at that moment: "2026-12-08T10:30:00+08:00".
std::string IsoTime(const TDateTime& t) {
  std::tm fields{};
  fields.tm_year = t.Year - 1900;
  fields.tm_mon = t.Month - 1;
  fields.tm_mday = t.Day;
  fields.tm_hour = t.Hour;
  fields.tm_min = t.Minute;
  fields.tm_sec = t.Second;
  fields.tm_isdst = -1;
  std::tm asUtc = fields;
  const std::time_t local = std::mktime(&fields);
#ifdef _WIN32
  const std::time_t utc = _mkgmtime(&asUtc);
#else
  const std::time_t utc = timegm(&asUtc);
#endif
  const long offset = local == -1 || utc == -1 ? 0 : static_cast<long>(utc - local) / 60;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", t.Year, t.Month, t.Day,
                t.Hour, t.Minute, t.Second, offset < 0 ? '-' : '+', (offset < 0 ? -offset : offset) / 60,
                (offset < 0 ? -offset : offset) % 60);
  return text;
}

const char* MarketName(const std::string& market) {
  return market == "1" ? "sh" : market == "2" ? "sz" : "";
}

std::string FailureJson(TPlatform& fs, const TReportFailure& f, bool withMarket, bool withCode) {
  std::string out = "{";
  if (withMarket) out += "\"market\": " + Quoted(MarketName(f.Market)) + ", ";
  if (withCode) out += "\"code\": " + Quoted(f.Code) + ", ";
  out += "\"message\": " + Quoted(f.Message) + ", \"error\": " + std::to_string(f.Error) +
         ", \"operation\": " + Quoted(f.Operation) + ", \"file\": " + Quoted(f.Path);
  const std::string host = f.Path.empty() ? std::string() : fs.HostPath(f.Path);
  if (!host.empty()) out += ", \"host_file\": " + Quoted(Utf8ToGbk(host));
  return out + "}";
}

template <typename T, typename F>
std::string List(const std::vector<T>& items, const std::string& indent, F&& each) {
  if (items.empty()) return "[]";
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i)
    out += (i ? ",\n" : "\n") + indent + "  " + each(items[i]);
  return out + "\n" + indent + "]";
}

}  // namespace

TRunReport::TRunReport(const TDateTime& start) : FStart(start), FClock(std::chrono::steady_clock::now()) {}

void TRunReport::MarketSkipped(const std::string& market) {
  std::lock_guard<std::mutex> guard(FLock);
  FSkipped.push_back(market);
}

void TRunReport::StockMerged(const std::string& market, const std::string&) {
  std::lock_guard<std::mutex> guard(FLock);
  ++FMerged[market == "2" ? 1 : 0];
}

void TRunReport::Failed(bool composite, const std::string& market, const std::string& code,
                        const EFailure& failure) {
  std::lock_guard<std::mutex> guard(FLock);
  TReportFailure f{market, code, failure.Message(), failure.Code(), failure.Operation(), failure.Path()};
  if (code.empty())
    FRunFailures.push_back(std::move(f));
  else
    (composite ? FCompositeFailures : FStockFailures).push_back(std::move(f));
}

void TRunReport::CompositeDone(const std::string& market, const std::string& code) {
  std::lock_guard<std::mutex> guard(FLock);
  for (const TReportFailure& f : FCompositeFailures)
    if (f.Market == market && f.Code == code) return;
  FCompositesBuilt.push_back({market, code});
}

void TRunReport::MirrorCopyFailed(const std::string&, const std::string&) {
  std::lock_guard<std::mutex> guard(FLock);
  ++FMirrorCopiesFailed;
}

void TRunReport::Refused(const std::string& reason, const std::string& path) {
  // The log's reason leads up to the path with a colon the report has no use for.
  static const std::string colon = Utf8ToGbk("：");
  std::string text = reason;
  if (text.size() >= colon.size() && text.compare(text.size() - colon.size(), colon.size(), colon) == 0)
    text.resize(text.size() - colon.size());
  std::lock_guard<std::mutex> guard(FLock);
  FRefused.emplace_back(std::move(text), path);
}

void TRunReport::RunEnded(TRunOutcome outcome, bool stopped, const std::string& notice,
                          std::vector<std::pair<std::string, std::string>> waitingCopies) {
  std::lock_guard<std::mutex> guard(FLock);
  FWaitingCopies = std::move(waitingCopies);
  switch (outcome) {
    case TRunOutcome::Busy: FOutcome = "busy"; break;
    case TRunOutcome::Refused: FOutcome = "refused"; break;
    case TRunOutcome::Ran: FOutcome = stopped ? "stopped" : "ran"; break;
  }
  if (outcome != TRunOutcome::Ran) FNotice = notice;
}

void TRunReport::NotRun(const std::string& reason) {
  std::lock_guard<std::mutex> guard(FLock);
  FOutcome = "not run";
  FNotice = reason;
}

int TRunReport::Status() const {
  std::lock_guard<std::mutex> guard(FLock);
  return StatusLocked();
}

int TRunReport::StatusLocked() const {
  if (FOutcome == "busy") return 3;
  if (FOutcome == "refused" || FOutcome == "not run") return 2;
  if (FOutcome == "stopped") return 1;
  return FStockFailures.empty() && FCompositeFailures.empty() && FRunFailures.empty() ? 0 : 1;
}

std::string TRunReport::Json(TPlatform& fs, const TDateTime& end) const {
  std::lock_guard<std::mutex> guard(FLock);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - FClock).count();
  char secondsText[32];
  std::snprintf(secondsText, sizeof secondsText, "%.3f", seconds);
  std::string out = "{\n";
  out += "  \"start\": \"" + IsoTime(FStart) + "\",\n";
  out += "  \"end\": \"" + IsoTime(end) + "\",\n";
  out += "  \"seconds\": " + std::string(secondsText) + ",\n";
  out += "  \"status\": " + std::to_string(StatusLocked()) + ",\n";
  out += "  \"outcome\": " + Quoted(FOutcome) + ",\n";
  out += "  \"notice\": " + Quoted(FNotice) + ",\n";
  out += "  \"markets\": [";
  const bool ran = FOutcome == "ran" || FOutcome == "stopped";
  for (const std::string market : {"1", "2"}) {
    bool configured = ran;
    for (const std::string& skipped : FSkipped) configured = configured && skipped != market;
    std::vector<TReportFailure> failed;
    for (const TReportFailure& f : FStockFailures)
      if (f.Market == market) failed.push_back(f);
    out += std::string(market == "1" ? "\n" : ",\n") + "    {\"market\": " + Quoted(MarketName(market)) +
           ", \"configured\": " + (configured ? "true" : "false") +
           ", \"merged\": " + std::to_string(FMerged[market == "2" ? 1 : 0]) + ", \"failed\": " +
           List(failed, "    ", [&fs](const TReportFailure& f) { return FailureJson(fs, f, false, true); }) + "}";
  }
  out += "\n  ],\n";
  out += "  \"composites\": {\n    \"built\": " +
         List(FCompositesBuilt, "    ",
              [](const TComposite& c) {
                return "{\"market\": " + Quoted(MarketName(c.Market)) + ", \"code\": " + Quoted(c.Code) + "}";
              }) +
         ",\n    \"failed\": " +
         List(FCompositeFailures, "    ", [&fs](const TReportFailure& f) { return FailureJson(fs, f, true, true); }) +
         "\n  },\n";
  out += "  \"failures\": " +
         List(FRunFailures, "  ", [&fs](const TReportFailure& f) { return FailureJson(fs, f, true, false); }) + ",\n";
  out += "  \"mirror_copies\": {\"failed\": " + std::to_string(FMirrorCopiesFailed) + ", \"waiting\": " +
         List(FWaitingCopies, "  ",
              [](const std::pair<std::string, std::string>& c) {
                return "{\"from\": " + Quoted(c.first) + ", \"to\": " + Quoted(c.second) + "}";
              }) +
         "},\n";
  out += "  \"refused\": " +
         List(FRefused, "  ",
              [](const std::pair<std::string, std::string>& r) {
                return "{\"reason\": " + Quoted(r.first) + ", \"file\": " + Quoted(r.second) + "}";
              }) +
         "\n";
  return out + "}\n";
}

void WriteRunReport(TPlatform& fs, const std::string& path, const TRunReport& report) {
  WriteWholeFile(fs, path, report.Json(fs, fs.Now()));
}

std::string ReportPathFor(TPlatform& fs, const std::string& value) {
  const std::string path(Trim(value));
  if (path.empty()) return path;
  const bool rooted = path[0] == '\\' || path[0] == '/' || (path.size() >= 2 && path[1] == ':');
  return rooted ? path : ProgramDir(fs) + path;
}
