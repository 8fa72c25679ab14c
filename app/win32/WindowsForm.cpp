#include "WindowsForm.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "Clock.h"
#include "Failure.h"
#include "FormTexts.h"
#include "FormWindow.h"
#include "Headless.h"
#include "HomeFolder.h"
#include "Platform.h"
#include "ProgramFiles.h"
#include "WideText.h"

namespace {

const char kFormLock[] = ".~lorvane.form.lock";

void ShowStop(const std::wstring& text) {
  MessageBoxW(nullptr, text.c_str(), GbkToWide(FormTexts::FormCaption).c_str(), MB_OK | MB_ICONSTOP);
}

// The folder --home names, read from the wide command line: the narrow arguments main()
// has are in the ANSI code page, which cannot hold every folder's name. Empty when no
// --home is given; `given` tells whether one was.
std::wstring HomeArgument(bool& given) {
  given = false;
  std::wstring home;
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!args) return home;
  for (int i = 1; i < count; ++i) {
    const std::wstring arg = args[i];
    if (arg == L"--home" && i + 1 < count) {
      home = args[++i];
      given = true;
    } else if (arg.rfind(L"--home=", 0) == 0) {
      home = arg.substr(7);
      given = true;
    }
  }
  LocalFree(args);
  return home;
}

// The settings folder of this form as a host path; empty, after telling the operator, when
// --home names no folder.
std::string SettingsFolder(bool& failed) {
  failed = false;
  bool given = false;
  const std::wstring home = HomeArgument(given);
  // The form keeps its settings in the default folder, made for it when missing.
  if (!given) return DefaultHome(true);
  std::error_code ec;
  const std::filesystem::path folder(home);
  if (home.empty() || !std::filesystem::is_directory(folder, ec)) {
    ShowStop(L"--home: no such folder: " + home);
    failed = true;
    return {};
  }
  std::string text = HostPathText(std::filesystem::absolute(folder, ec).lexically_normal());
  while (text.size() > 1 && (text.back() == '/' || text.back() == '\\') && text[text.size() - 2] != ':')
    text.pop_back();
  return text;
}

// Claims the settings folder for this form; false, after telling the operator, when
// another form has it: two forms would run their timers over the same feed and write the
// same settings file.
bool ClaimSettingsFolder(TPlatform& fs, std::unique_ptr<TFolderLock>& lock) {
  std::string home = ProgramDir(fs);
  if (!home.empty()) home.pop_back();
  std::string holder;
  if (fs.LockFolder(home, kFormLock, lock, holder) != kErrSharingViolation) return true;
  const std::wstring folder = Utf8ToWide(fs.HostPath(home));
  ShowStop(L"Lorvane already runs with the settings in " + folder + L": another form holds " + folder + L"\\" +
           Utf8ToWide(kFormLock) + L". Close that form first, or give this one another folder with --home.");
  return false;
}

}  // namespace

int OpenWindowsForm() {
  // Started from Explorer or the Start menu, the program was given a console of its own,
  // which would only stand empty behind the form. A console shared with the program that
  // started this one stays.
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();

  bool failed = false;
  const std::string home = SettingsFolder(failed);
  if (failed) return kRunNotRun;
  const std::unique_ptr<TPlatform> platform = NewSystemPlatform(home);
  TPlatform& fs = *platform;
  LoadRegionalFormats();
  try {
    LoadDrives(fs, SettingsPathFor(fs.ProgramPath()));
  } catch (const EFailure& failure) {
    ShowStop(GbkToWide(failure.Message()));
    return kRunNotRun;
  }

  // The folder dialog is a COM object of the shell's, made on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  int status = kRunNotRun;
  std::unique_ptr<TFolderLock> formLock;
  if (!ClaimSettingsFolder(fs, formLock)) {
    status = kRunBusy;
  } else {
    try {
      TFormWindow form(fs);
      status = form.Run();
    } catch (const std::exception& failure) {
      ShowStop(Utf8ToWide(failure.what()));
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return status;
}
