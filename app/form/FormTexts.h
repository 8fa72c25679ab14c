#pragma once
// The form's fixed texts, in one place: written here in UTF-8 for the reader, held as GBK at
// run time like every text inside the program.

#include <string>

#include "Convert.h"

namespace FormTexts {

inline const std::string FormCaption = "Lorvane";
inline const std::string LabelShSource = Utf8ToGbk("原始上海路径");
inline const std::string LabelSzSource = Utf8ToGbk("原始深圳路径");
inline const std::string LabelShTarget = Utf8ToGbk("目标上海路径");
inline const std::string LabelSzTarget = Utf8ToGbk("目标深圳路径");
inline const std::string LabelTimer = Utf8ToGbk("定时设置");
inline const std::string LabelMinutes = Utf8ToGbk("分钟");
inline const std::string MakeIndex = Utf8ToGbk("生成索引");
inline const std::string NoIndex = Utf8ToGbk("不生成索引");
inline const std::string ExecuteNow = Utf8ToGbk("立即执行");
inline const std::string SaveSettings = Utf8ToGbk("保存设置");
inline const std::string SelectDirectory = "Select Directory";
inline const std::string TrayShow = Utf8ToGbk("显示");
inline const std::string TrayQuit = Utf8ToGbk("退出");
// The interval the form will not save (+ the text in quotes).
inline const std::string BadInterval =
    Utf8ToGbk("定时设置必须是 0 到 35791 之间的整数分钟（0 表示不定时运行），未保存：'%s'");
inline const std::string CannotWriteReport = Utf8ToGbk("无法写入运行报告：");  // + path + error

}  // namespace FormTexts
