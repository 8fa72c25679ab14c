#include "RunSettings.h"

#include "Clock.h"
#include "IniFile.h"
#include "Texts.h"
#include "uUniteThread.h"

TRunSettings TRunSettings::Read(TIniFile& ini) {
  const std::string& option = Texts::SectionOption;
  TRunSettings settings;
  settings.SrcPath = ini.ReadString(option, Texts::KeySrc, "");
  settings.DesPath = ini.ReadString(option, Texts::KeyDes, "");
  settings.SzSrcPath = ini.ReadString(option, Texts::KeySzSrc, "");
  settings.SzDesPath = ini.ReadString(option, Texts::KeySzDes, "");
  settings.MakeIndex = ini.ReadInteger(option, Texts::KeyIndex, 0) != 0;
  return settings;
}

void TRunSettings::HandTo(TUniteThread& run) const {
  run.FSrcPath = SrcPath;
  run.FDesPath = DesPath;
  run.FSzSrcPath = SzSrcPath;
  run.FSzDesPath = SzDesPath;
  run.FMakeIndex = MakeIndex;
}

void CheckLastFileTime(TIniFile& ini, const TDateTime& now) {
  const std::string fallback = DateTimeToStr(IncDays(now, -2));
  StrToDateTime(ini.ReadString(Texts::SectionOption, Texts::KeyLastFileTime, fallback));
}
