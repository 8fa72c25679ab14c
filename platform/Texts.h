#pragma once
// The fixed texts of the settings file, in one place. They are written here in UTF-8 for the
// reader and held as GBK at run time, as every text inside the program is. The runtime's
// texts are in Failure.h, the run's messages in engine/RunTexts.h, the form's in
// app/form/FormTexts.h.

#include <string>

#include "Convert.h"
#include "Failure.h"

namespace Texts {

// --- Settings ---
inline const std::string SectionOption = "OPTION";
inline const std::string KeySrc = "SRC";        // the Shanghai source root
inline const std::string KeyDes = "DES";        // the Shanghai target root
inline const std::string KeySzSrc = "SZSRC";    // the Shenzhen source root
inline const std::string KeySzDes = "SZDES";    // the Shenzhen target root
inline const std::string KeyInternal = "INTERNAL";  // minutes between timed runs
inline const std::string KeyIndex = "INDEX";    // not 0: runs generate indexes
inline const std::string KeyLastFileTime = "LASTFILETIME";
inline const std::string KeyReport = "REPORT";    // the file each run's report goes to
inline const std::string KeyMetrics = "METRICS";  // the file each run's figures go to
inline const std::string SectionDrives = "DRIVES";
inline const std::string SectionMirrors = Utf8ToGbk("多路径拷贝");
inline const std::string SectionIndexCodes = Utf8ToGbk("大盘代码");

// Why a settings file was refused for its encoding (see TIniFile).
inline const std::string SettingsNotUtf8 = Utf8ToGbk("文件按 UTF-8 读取，但第 %s 行不是有效的 UTF-8");
inline const std::string SettingsNotGbk = Utf8ToGbk("文件按 UTF-8 读取，但第 %s 行含有 GBK 无法表示的字符");
inline const std::string SettingsMixed = Utf8ToGbk("文件的节名混用了 GBK 和 UTF-8 两种编码");
}  // namespace Texts
