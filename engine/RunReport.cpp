#include "RunReport.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "Convert.h"
#include "Failure.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "RunTerms.h"

namespace {

// "1 file left alone", "2 files left alone".
std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}


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

// A number as JSON and the Prometheus text format both take it.
std::string Number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.3f", value);
  std::string out = text;
  while (out.back() == '0') out.pop_back();
  if (out.back() == '.') out.pop_back();
  return out;
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

const char* ProgramVersion() { return LORVANE_VERSION; }

TRunReport::TRunReport(const TDateTime& start)
    : FStart(start), FClock(std::chrono::steady_clock::now()), FStartUnix(std::chrono::system_clock::now()) {}

void TRunReport::Warned(const std::string& file, int line, const std::string& key, const std::string& text) {
  std::lock_guard<std::mutex> guard(FLock);
  FWarnings.push_back({file, line, key, text});
}

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
  const double seconds = SecondsLocked();
  char secondsText[32];
  std::snprintf(secondsText, sizeof secondsText, "%.3f", seconds);
  const double startUnix = std::chrono::duration<double>(FStartUnix.time_since_epoch()).count();
  std::string out = "{\n";
  out += "  \"version\": " + Quoted(ProgramVersion()) + ",\n";
  out += "  \"start\": \"" + IsoTime(FStart) + "\",\n";
  out += "  \"end\": \"" + IsoTime(end) + "\",\n";
  out += "  \"start_unix\": " + Number(startUnix) + ",\n";
  out += "  \"end_unix\": " + Number(startUnix + seconds) + ",\n";
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
  out += "  \"mirror_copies\": {\"failed\": " + std::to_string(FMirrorCopiesFailed) +
         ", \"owed\": " + std::to_string(FWaitingCopies.size()) + ", \"waiting\": " +
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
         ",\n";
  out += "  \"warnings\": " +
         List(FWarnings, "  ",
              [](const TWarning& w) {
                return "{\"file\": " + Quoted(w.File) + ", \"line\": " + std::to_string(w.Line) +
                       ", \"key\": " + Quoted(w.Key) + ", \"message\": " + Quoted(w.Text) + "}";
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

int TRunReport::MergedLocked(const std::string& market) const { return FMerged[market == "2" ? 1 : 0]; }

int TRunReport::FailedLocked(const std::string& market) const {
  int failed = 0;
  for (const TReportFailure& f : FStockFailures) failed += f.Market == market;
  return failed;
}

double TRunReport::SecondsLocked() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - FClock).count();
}

std::string TRunReport::Summary(int status) const {
  std::lock_guard<std::mutex> guard(FLock);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", SecondsLocked());
  std::string line = FOutcome + ", status " + std::to_string(status);
  if (FOutcome != "ran" && FOutcome != "stopped") {
    if (!FNotice.empty()) line += ": " + GbkToUtf8(FNotice);
  } else {
    for (const std::string market : {"1", "2"}) {
      bool configured = true;
      for (const std::string& skipped : FSkipped) configured = configured && skipped != market;
      line += market == "1" ? "; Shanghai " : "; Shenzhen ";
      line += configured
                  ? std::to_string(MergedLocked(market)) + " merged, " + std::to_string(FailedLocked(market)) + " failed"
                  : "not configured";
    }
    line += "; composites " + std::to_string(FCompositesBuilt.size()) + " built, " +
            std::to_string(FCompositeFailures.size()) + " failed";
    if (!FRunFailures.empty()) {
      const TReportFailure& f = FRunFailures.front();
      line += "; the run failed: " + GbkToUtf8(f.Message);
      if (f.Error != 0) line += " (" + CauseText(f.Error) + ")";
    }
    line += "; " + Counted(FWaitingCopies.size(), "mirror copy owed", "mirror copies owed");
    line += "; " + Counted(FRefused.size(), "file left alone", "files left alone");
  }
  line += "; " + Counted(FWarnings.size(), "settings warning", "settings warnings") + "; " + seconds;
  return line;
}

std::string TRunReport::Metrics(double lastSuccess) const {
  std::lock_guard<std::mutex> guard(FLock);
  const double start = std::chrono::duration<double>(FStartUnix.time_since_epoch()).count();
  const double seconds = SecondsLocked();
  const int status = StatusLocked();
  if (status == 0) lastSuccess = start + seconds;
  std::string out;
  const auto metric = [&out](const char* name, const char* help, const std::string& samples) {
    out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " gauge\n" + samples;
  };
  const auto sample = [](const char* name, double value, const std::string& labels = "") {
    return std::string(name) + (labels.empty() ? "" : "{" + labels + "}") + " " + Number(value) + "\n";
  };
  const auto count = [](std::size_t n) { return static_cast<double>(n); };
  metric("lorvane_build_info", "The program's version.",
         sample("lorvane_build_info", 1, "version=\"" + std::string(ProgramVersion()) + "\""));
  metric("lorvane_run_status", "Exit status of the latest run: 0 clean, 1 failures reported, 2 not run, 3 busy.",
         sample("lorvane_run_status", status));
  metric("lorvane_run_start_timestamp_seconds", "When the latest run started.",
         sample("lorvane_run_start_timestamp_seconds", start));
  metric("lorvane_run_end_timestamp_seconds", "When the latest run ended.",
         sample("lorvane_run_end_timestamp_seconds", start + seconds));
  metric("lorvane_run_duration_seconds", "How long the latest run took.",
         sample("lorvane_run_duration_seconds", seconds));
  metric("lorvane_last_success_timestamp_seconds", "When a run last ended with status 0 (0: none known).",
         sample("lorvane_last_success_timestamp_seconds", lastSuccess));
  metric("lorvane_run_stocks_merged", "Stocks the latest run merged, per market.",
         sample("lorvane_run_stocks_merged", MergedLocked("1"), "market=\"sh\"") +
             sample("lorvane_run_stocks_merged", MergedLocked("2"), "market=\"sz\""));
  metric("lorvane_run_stocks_failed", "Stocks whose merge failed in the latest run, per market.",
         sample("lorvane_run_stocks_failed", FailedLocked("1"), "market=\"sh\"") +
             sample("lorvane_run_stocks_failed", FailedLocked("2"), "market=\"sz\""));
  metric("lorvane_run_composites_built", "Composites the latest run built.",
         sample("lorvane_run_composites_built", count(FCompositesBuilt.size())));
  metric("lorvane_run_composites_failed", "Composites that failed in the latest run.",
         sample("lorvane_run_composites_failed", count(FCompositeFailures.size())));
  metric("lorvane_run_failures", "Failures that ended the latest run or kept it from starting.",
         sample("lorvane_run_failures", count(FRunFailures.size())));
  metric("lorvane_mirror_copies_failed", "Mirror copies that failed in the latest run.",
         sample("lorvane_mirror_copies_failed", FMirrorCopiesFailed));
  metric("lorvane_mirror_copies_owed", "Mirror copies still owed to later runs.",
         sample("lorvane_mirror_copies_owed", count(FWaitingCopies.size())));
  metric("lorvane_files_left_alone", "Entries of the feed the latest run left where they are.",
         sample("lorvane_files_left_alone", count(FRefused.size())));
  metric("lorvane_settings_warnings", "Findings of the check of the settings file.",
         sample("lorvane_settings_warnings", count(FWarnings.size())));
  return out;
}

void WriteRunMetrics(TPlatform& fs, const std::string& path, const TRunReport& report) {
  // The last success is carried over from the figures this file held: a run that failed
  // must not make the runs before it look as if they never happened.
  double lastSuccess = 0;
  try {
    const std::string before = "\n" + ReadWholeFile(fs, path);
    const std::string name = "\nlorvane_last_success_timestamp_seconds ";
    if (const std::size_t at = before.find(name); at != std::string::npos)
      lastSuccess = std::strtod(before.c_str() + at + name.size(), nullptr);
  } catch (const EFailure&) {
    // No figures before these.
  }
  WriteWholeFile(fs, path, report.Metrics(lastSuccess));
}
