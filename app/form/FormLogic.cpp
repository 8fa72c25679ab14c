#include "FormLogic.h"

#include <climits>
#include <filesystem>
#include <string_view>

#include "Convert.h"
#include "Failure.h"
#include "FormHost.h"
#include "FormTexts.h"
#include "IniFile.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "RunClaims.h"
#include "RunReport.h"
#include "RunSettings.h"
#include "RunTexts.h"
#include "SettingsCheck.h"
#include "uUniteThread.h"

namespace {

const std::string& Option() { return Texts::SectionOption; }

// The four root settings in the order they are loaded and saved, each with its key, its
// field, and its value among the loaded settings.
struct TRootSetting {
  const std::string& Key;
  TFormField Field;
  std::string TRunSettings::*Saved;
};
const TRootSetting kRoots[] = {
    {Texts::KeySrc, TFormField::SrcPath, &TRunSettings::SrcPath},
    {Texts::KeyDes, TFormField::DesPath, &TRunSettings::DesPath},
    {Texts::KeySzSrc, TFormField::SzSrcPath, &TRunSettings::SzSrcPath},
    {Texts::KeySzDes, TFormField::SzDesPath, &TRunSettings::SzDesPath},
};

}  // namespace

std::string ErrorBoxText(const std::string& message) {
  if (message.empty() || static_cast<unsigned char>(message.back()) <= '.') return message;
  return message + ".";
}

int MinutesToIntervalMs(long long minutes) {
  if (minutes <= 0) return 0;
  const long long ms = minutes * 60 * 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

TFormLogic::TFormLogic(TPlatform& fs, TFormView& view)
    : FPlatform(fs), FView(view), FHost(std::make_unique<TFormHost>(*this, view)) {}

TFormLogic::~TFormLogic() {
  FClosing = true;
  WaitForRun();
}

std::string TFormLogic::Title() { return ProgramTitle(FPlatform.ProgramPath()); }

std::string& TFormLogic::RootPath(TFormField field) {
  switch (field) {
    case TFormField::SrcPath: return FSrcPath;
    case TFormField::DesPath: return FDesPath;
    case TFormField::SzSrcPath: return FSzSrcPath;
    default: return FSzDesPath;
  }
}

// --- Events ---

void TFormLogic::Created() {
  ApplyTimer();
  Guarded([this] { FormCreate(); });
  // In front of the form once it is shown, not before it.
  FView.Post([this] { ShowSettingsWarnings(); });
}

void TFormLogic::ShowSettingsWarnings() {
  const std::string settings = SettingsPathFor(FPlatform.ProgramPath());
  if (!FPlatform.FileExists(settings)) return;
  const TSettingsFindings findings = CheckSettings(FPlatform, settings);
  std::string text;
  for (const TSettingsWarning& warning : findings.Warnings) text += WarningLine(FPlatform, settings, warning) + "\r\n";
  if (!findings.ConfiguresAMarket)
    text += Utf8ToGbk(FPlatform.HostPath(settings)) + " configures no market: runs find nothing to do until SRC and "
                                                       "DES, or SZSRC and SZDES, are set and saved\r\n";
  if (!text.empty()) FView.ShowWarning(Title(), text);
}

void TFormLogic::TimerTicked() { Guarded([this] { Timer1Timer(); }, /*fromTimer=*/true); }

void TFormLogic::RunNowClicked() { Guarded([this] { Timer1Timer(); }); }

void TFormLogic::SaveClicked() { Guarded([this] { Button1Click(); }); }

void TFormLogic::IndexChoiceClicked(bool make) {
  Guarded([this, make] { make ? RadioButton1Click() : RadioButton2Click(); });
}

void TFormLogic::StatusClicked() { Guarded([this] { RzMStatusClick(); }); }

void TFormLogic::BrowseClicked(TFormField field) { Guarded([this, field] { edDirectoryBrowse(field); }); }

char16_t TFormLogic::DirectoryKeyTyped(TFormField, char16_t key) {
  edSrcPathKeyPress(key);
  return key;
}

void TFormLogic::BlinkTicked() {
  FBlinkPhase = !FBlinkPhase;
  FView.SetStatusHighlighted(FBlinkPhase);
}

void TFormLogic::Minimized() {
  // Without a notification area the taskbar button stays, or nothing would bring the form
  // back.
  if (!FView.TrayAvailable()) return;
  FHiddenInTray = true;
  FView.HideToTray();
}

void TFormLogic::TrayDoubleClicked() {
  FHiddenInTray = false;
  FView.RestoreWindow();
}

void TFormLogic::TrayChanged() {
  // The notification area went away while the form hid in it: the taskbar button comes
  // back, or nothing would be left to bring the form back with.
  if (!FHiddenInTray || FView.TrayAvailable()) return;
  FHiddenInTray = false;
  FView.ShowMinimized();
}

bool TFormLogic::CloseRequested() {
  if (FClosing) return false;  // a second close while the first waits for the run
  FormClose();
  return true;
}

void TFormLogic::Guarded(const std::function<void()>& handler, bool fromTimer) {
  try {
    handler();
  } catch (const EFailure& failure) {
    // A tick that fails while the box of an earlier failure is still open adds no second box:
    // a bad LASTFILETIME would otherwise pile one up every interval.
    if (fromTimer && FErrorBoxOpen) return;
    ShowFailure(failure.Message());
  } catch (const std::exception& failure) {
    if (fromTimer && FErrorBoxOpen) return;
    ShowFailure(failure.what());
  }
}

void TFormLogic::ShowFailure(const std::string& message) {
  FErrorBoxOpen = true;
  FView.ShowError(Title(), ErrorBoxText(message));
  FErrorBoxOpen = false;
}

// --- Timer1 ---

void TFormLogic::SetTimerEnabled(bool on) {
  FTimerOn = on;
  ApplyTimer();
}

void TFormLogic::SetTimerInterval(int ms) {
  FIntervalMs = ms;
  ApplyTimer();
}

void TFormLogic::ApplyTimer() {
  // An interval of 0 means no ticks at all.
  FView.SetTimer(FTimerOn && FIntervalMs > 0 && !FClosing, FIntervalMs);
}

// --- Handlers ---

void TFormLogic::FormCreate() {
  FIniFile = std::make_unique<TIniFile>(FPlatform, SettingsPathFor(FPlatform.ProgramPath()));
  const TRunSettings saved = TRunSettings::Read(*FIniFile);
  // Settings that cannot be read whole are not shown as empty ones, nor run by the timer.
  if (FIniFile->ReadError() == kErrInvalidData) {
    SetTimerInterval(0);
    throw EFailure(Texts::CannotReadSettings + FIniFile->FileName() + " " + FIniFile->ReadErrorText());
  }

  for (const TRootSetting& root : kRoots) {
    FView.SetFieldText(root.Field, saved.*root.Saved);
    RootPath(root.Field) = FView.FieldText(root.Field);
  }

  FView.SetFieldText(TFormField::Interval, FIniFile->ReadString(Option(), Texts::KeyInternal, "1"));
  std::int32_t minutes = 0;
  try {
    minutes = StrToInt(FView.FieldText(TFormField::Interval));
  } catch (const EFailure&) {
    // No interval was configured that could be trusted: no timed runs until the next start
    // (the execute-now button still works, and a run's end does not switch ticks on).
    SetTimerInterval(0);
    throw;
  }
  SetTimerInterval(MinutesToIntervalMs(minutes));

  FMakeIndex = saved.MakeIndex;
  FView.SetMakeIndexChecked(FMakeIndex);

  CheckLastFileTime(*FIniFile, FPlatform.Now());
}

void TFormLogic::FormClose() {
  FClosing = true;
  ApplyTimer();
  FView.SetSettingsEnabled(false);
  WaitForRun();
  FIniFile.reset();
  FView.HideTrayIcon();
}

void TFormLogic::Button1Click() {
  if (!FIniFile) return;
  // Checked before anything is written: saved, a text that is no interval would switch timed
  // runs off at the next start, without a sign until then.
  const std::string interval = FView.FieldText(TFormField::Interval);
  if (!IsIntervalText(interval)) throw EFailure(Fmt(FormTexts::BadInterval, interval));
  // Each key is written before its field is taken over, so a failing write leaves the
  // form's paths as they were for that key and every later one.
  for (const TRootSetting& root : kRoots) {
    const std::string text = FView.FieldText(root.Field);
    FIniFile->WriteString(Option(), root.Key, text);
    RootPath(root.Field) = text;
  }
  FIniFile->WriteString(Option(), Texts::KeyInternal, std::string(Trim(interval)));
  if (FView.MakeIndexChecked()) {
    FIniFile->WriteInteger(Option(), Texts::KeyIndex, 1);
    FMakeIndex = true;
  } else {
    FIniFile->WriteInteger(Option(), Texts::KeyIndex, 0);
    FMakeIndex = false;
  }
}

void TFormLogic::Timer1Timer() {
  // One run at a time: a tick or click already queued when a run began starts nothing.
  if (FUniteThread || FClosing || !FIniFile) return;
  CheckLastFileTime(*FIniFile, FPlatform.Now());
  StartUnite();
}

void TFormLogic::StartUnite() {
  SetTimerEnabled(false);
  FView.SetRunButtonEnabled(false);
  auto* run = new TUniteThread(FPlatform, *FHost);
  // The saved roots, not the fields: a folder chosen in a field is not the run's until saved.
  TRunSettings{FSrcPath, FDesPath, FSzSrcPath, FSzDesPath, FMakeIndex}.HandTo(*run);
  run->FStageAhead = true;
  FRunReportPath = ReportPathFor(FPlatform, FIniFile->ReadString(Option(), Texts::KeyReport, ""));
  run->FOutputFiles = {{Option() + "\\" + Texts::KeyReport, FRunReportPath}};
  // A report aimed at the feed, the settings or the outputs is never written: the run refuses
  // to start and tells why, as for any settings that would turn it on its own files.
  if (!FRunReportPath.empty() &&
      !OutputFileProblems(FPlatform, TRunFolders{FSrcPath, FDesPath, FSzSrcPath, FSzDesPath,
                                                 FIniFile->ReadSectionValues(Texts::SectionMirrors), "",
                                                 run->FOutputFiles})[0]
           .empty())
    FRunReportPath.clear();
  if (!FRunReportPath.empty()) FRunReport = std::make_unique<TRunReport>(FPlatform.Now());
  run->FReport = FRunReport.get();
  FUniteThread = run;
  try {
    run->Start();
  } catch (...) {
    // No thread: the run never began, so the form goes back to idle itself.
    FUniteThread = nullptr;
    FRunReport.reset();
    delete run;
    SetTimerEnabled(true);
    FView.SetRunButtonEnabled(true);
    throw;
  }
}

void TFormLogic::RunFinished() {
  FUniteThread = nullptr;
  if (!FRunReport) return;
  try {
    WriteRunReport(FPlatform, FRunReportPath, *FRunReport);
  } catch (const EFailure& failure) {
    // Nobody reads a box at an unattended form: the status text tells, as for a run's failure.
    FView.SetStatus(Texts::ErrorCaption + FormTexts::CannotWriteReport + FRunReportPath + " " + failure.Message());
  }
  FRunReport.reset();
}

void TFormLogic::WaitForRun() {
  if (!FUniteThread) return;
  FUniteThread->Terminate();
  FView.ServeUntil([this] { return FUniteThread == nullptr; });
}

void TFormLogic::edSrcPathKeyPress(char16_t& key) {
  // Folders are chosen with the browse button; typing is not a way to name one.
  key = 0;
}

void TFormLogic::RadioButton1Click() { FMakeIndex = true; }

void TFormLogic::RadioButton2Click() { FMakeIndex = false; }

void TFormLogic::RzMStatusClick() {
  const std::string path = DayLogPath(FPlatform, FPlatform.Now());
  if (!FPlatform.FileExists(path)) return;
  FView.OpenDocument(FPlatform.HostPath(path));
  FView.SetStatus("");
}

void TFormLogic::edDirectoryBrowse(TFormField field) {
  const std::string current = FView.FieldText(field);
  std::string start;
  if (!current.empty() && FPlatform.DirectoryExists(current)) {
    start = FPlatform.HostPath(current);
  } else {
    // The current drive: the root of the drive the working folder lies on.
    std::error_code ec;
    const std::string here = FPlatform.DrivePath(HostPathText(std::filesystem::current_path(ec)));
    start = FPlatform.HostPath(here.substr(0, 2) + "\\");
  }
  const std::string chosen = FView.ChooseFolder(FormTexts::SelectDirectory, start);
  if (chosen.empty()) return;
  std::string folder = FPlatform.DrivePath(chosen);
  // No trailing backslash, except on a drive's root ("C:\").
  while (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';
  FView.SetFieldText(field, folder);
}
