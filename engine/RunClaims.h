#pragma once
// TRunClaims: what must hold before a run touches anything. Settings that would turn the run
// on its own feed (a target or mirror in a source root) or map a drive to a relative folder
// refuse the run; every folder the run writes in is claimed, so that two runs never work on
// the same folders, whoever started them; what killed runs left in those folders goes.
//
// Used by one run, on its own thread; the claims are let go by Release() or with the object.

#include <memory>
#include <string>
#include <vector>

#include "IniFile.h"
#include "RunTerms.h"

class TFolderLock;
class TPlatform;
class TRunVoice;

// The folders a run works in, as its settings name them.
struct TRunFolders {
  std::string SrcPath, DesPath, SzSrcPath, SzDesPath;
  TNameValues Mirrors;  // section 多路径拷贝
  std::string Home;     // the program's folder, where its day logs and backlog are kept
  // The files the run's starter writes when it is over (the report, the figures), each by
  // the setting or option that names it.
  TNameValues Files;
};

// What in the settings would make a run write into a source root, name one folder by two
// settings, resolve a drive against whatever the current folder is, or have its starter
// write over what a run reads or writes: one text naming the keys, "" when nothing.
std::string SettingsProblems(TPlatform& fs, const TRunFolders& folders);
// For each of folders.Files, what makes it a file the run's starter must not write, naming
// its setting or option: a file in a source root, one a run reads, a text or index name in a
// target or mirror, or the file of another of them. "" for a file that may be written; a
// starter leaves the others alone.
std::vector<std::string> OutputFileProblems(TPlatform& fs, const TRunFolders& folders);

class TRunClaims final {
 public:
  TRunClaims(TPlatform& fs, TRunVoice& voice);
  ~TRunClaims();
  TRunClaims(const TRunClaims&) = delete;
  TRunClaims& operator=(const TRunClaims&) = delete;

  // Refuses settings with problems, then claims every folder the run may write in and
  // removes what killed runs left there: false, with Outcome() and Notice() telling why and
  // one line logged, when the run must not go on.
  bool Claim(const TRunFolders& folders);
  // The claims are let go: the run has written its last byte in the folders.
  void Release();

  TRunOutcome Outcome() const { return FOutcome; }
  // Why a run that did not start did not (GBK): the busy notice naming the folder and, when
  // it can be told, the process; or what the settings or a folder's claim were refused for.
  const std::string& Notice() const { return FNotice; }

 private:
  // Claims every folder in one order (as every run does, so that of two runs started at
  // once one goes on and the other gives way at its first claim).
  bool ClaimFolders(const TRunFolders& folders);
  void RemoveLeftovers(const TRunFolders& folders);

  TPlatform& FPlatform;
  TRunVoice& FVoice;
  TRunOutcome FOutcome = TRunOutcome::Ran;
  std::string FNotice;
  std::vector<std::unique_ptr<TFolderLock>> FClaims;
};
