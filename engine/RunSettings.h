#pragma once
// What section OPTION of the settings file tells a run: its four roots and whether it
// generates indexes. The headless run reads them at its start; the form reads them when it
// is made and keeps them as last loaded or saved (its index choice as the radio buttons
// show it); both hand them to a run the same way.

#include <string>

struct TDateTime;
class TIniFile;
class TUniteThread;

struct TRunSettings {
  std::string SrcPath;    // SRC, default empty
  std::string DesPath;    // DES
  std::string SzSrcPath;  // SZSRC
  std::string SzDesPath;  // SZDES
  bool MakeIndex = false; // INDEX (default 0) not 0

  // Reads SRC, DES, SZSRC, SZDES and INDEX, in that order.
  static TRunSettings Read(TIniFile& ini);
  // Puts them into the run context of `run` (FSrcPath ... FMakeIndex) before it starts.
  void HandTo(TUniteThread& run) const;
};

// Reads LASTFILETIME (by default the date-time text of `now` less two days) and converts it,
// for its failure alone: EFailure when it is no date and time, and then no run starts.
void CheckLastFileTime(TIniFile& ini, const TDateTime& now);
