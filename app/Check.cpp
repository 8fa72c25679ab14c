// --check: what a run would do with the settings as they are, and what is wrong with them,
// read without writing anything.

#include <ostream>
#include <string>
#include <vector>

#include "Clock.h"
#include "Convert.h"
#include "Failure.h"
#include "Headless.h"
#include "IniFile.h"
#include "MirrorBacklog.h"
#include "MirrorCopies.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "RunClaims.h"
#include "RunReport.h"
#include "RunSettings.h"
#include "RunTexts.h"
#include "SettingsCheck.h"
#include "uUniteThread.h"

namespace {

class TPlan final {
 public:
  TPlan(TPlatform& fs, std::ostream& out) : FPlatform(fs), FOut(out) {}

  void Line(const std::string& gbk) { FOut << GbkToUtf8(gbk) << '\n'; }

  // A folder as the settings name it, where it is on this machine, and whether it is there.
  std::string Folder(const std::string& path) {
    const std::string host = FPlatform.HostPath(path);
    if (host.empty()) return path + " (on no folder of this machine)";
    return path + " = " + Utf8ToGbk(host) + (FPlatform.DirectoryExists(path) ? "" : " (missing)");
  }
  std::string File(const std::string& path) {
    const std::string host = FPlatform.HostPath(path);
    return host.empty() ? path + " (on no folder of this machine)" : Utf8ToGbk(host);
  }

  void Market(const char* name, const std::string& market, const std::string& source, const std::string& target,
              const TNameValues& mirrors) {
    if (source.empty() || target.empty()) {
      Line(std::string(name) + ": not configured, left alone by every run");
      return;
    }
    Line(std::string(name) + ": source " + Folder(source));
    Line("  archive " + Folder(source + "\\" + kArchiveFolder));
    Line("  target " + Folder(target));
    for (const std::string& mirror : MirrorsOf(mirrors, market)) Line("  mirror " + Folder(mirror));
  }

 private:
  TPlatform& FPlatform;
  std::ostream& FOut;
};

}  // namespace

int CheckSettingsOnly(TPlatform& fs, std::ostream& out) {
  TPlan plan(fs, out);
  const std::string settings = SettingsPathFor(fs.ProgramPath());
  std::string why;  // why a run could not start; empty when it could
  plan.Line("Settings: " + plan.File(settings));
  if (!fs.FileExists(settings)) {
    why = "there is no settings file";
  } else {
    TIniFile ini(fs, settings);
    const TRunSettings roots = TRunSettings::Read(ini);
    const TNameValues mirrors = ini.ReadSectionValues(Texts::SectionMirrors);
    const TNameValues codes = ini.ReadSectionValues(Texts::SectionIndexCodes);
    if (ini.ReadError()) {
      why = "the settings cannot be read: " + ini.ReadErrorText();
    } else {
      plan.Market("Shanghai", kMarketSh, roots.SrcPath, roots.DesPath, mirrors);
      plan.Market("Shenzhen", kMarketSz, roots.SzSrcPath, roots.SzDesPath, mirrors);
      for (const auto& [name, code] : codes) {
        const bool sh = name.find(kTagSh) != std::string::npos;
        const std::string& target = sh ? roots.DesPath : roots.SzDesPath;
        if (!NamesAMarket(name)) continue;
        plan.Line("Composite " + code + " (" + (sh ? "Shanghai" : "Shenzhen") + "): " +
                  (roots.SrcPath.empty() || target.empty() ? std::string("skipped, its roots are not set")
                                                           : target + "\\" + code + kTextExtension));
      }
      if (!codes.empty() && !roots.SrcPath.empty())
        plan.Line("  template " + roots.SrcPath + "\\" + kTemplateCode + ".F10" +
                  (fs.FileExists(roots.SrcPath + "\\" + kTemplateCode + ".F10") ? "" : " (missing)"));
      plan.Line(std::string("Indexes: ") + (roots.MakeIndex ? "generated" : "not generated"));
      const std::string report = ReportPathFor(fs, ini.ReadString(Texts::SectionOption, Texts::KeyReport, ""));
      const std::string metrics = ReportPathFor(fs, ini.ReadString(Texts::SectionOption, Texts::KeyMetrics, ""));
      plan.Line("Report: " + (report.empty() ? std::string("none") : plan.File(report)));
      plan.Line("Figures: " + (metrics.empty() ? std::string("none") : plan.File(metrics)));
      TMirrorBacklog backlog(fs, ProgramDir(fs) + kMirrorBacklogName);
      backlog.Load();
      plan.Line("Mirror copies owed: " + std::to_string(backlog.Waiting().size()));

      const TSettingsFindings findings = CheckSettings(fs, settings);
      for (const TSettingsWarning& warning : findings.Warnings) plan.Line("Warning: " + WarningLine(fs, settings, warning));
      const std::string problems = SettingsProblems(
          fs, TRunFolders{roots.SrcPath, roots.DesPath, roots.SzSrcPath, roots.SzDesPath, mirrors, "",
                          {{Texts::SectionOption + "\\" + Texts::KeyReport, report},
                           {Texts::SectionOption + "\\" + Texts::KeyMetrics, metrics}}});
      if (!findings.ConfiguresAMarket) why = "the settings configure no market";
      else if (!problems.empty()) why = Texts::SettingsRefused + problems;
      else {
        try {
          CheckLastFileTime(ini, fs.Now());
        } catch (const EFailure& failure) {
          why = Texts::SectionOption + "\\" + Texts::KeyLastFileTime + ": " + failure.Message();
        }
      }
    }
  }
  plan.Line("Day log: " + plan.File(DayLogPath(fs, fs.Now())));
  plan.Line(why.empty() ? "A run could start." : "A run could not start: " + why + ".");
  return why.empty() ? kRunClean : kRunNotRun;
}
