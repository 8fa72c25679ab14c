#pragma once
// The messages of a run, in one place: written here in UTF-8 for the reader, held as GBK at
// run time like every text inside the program.

#include <string>

#include "Convert.h"
#include "Texts.h"

namespace Texts {

inline const std::string ErrorCaption = Utf8ToGbk("Lorvane错误");         // + message
inline const std::string DirCreateError = Utf8ToGbk(" 目录创建错误");     // path + this
inline const std::string DirCreateErrorCaption = Utf8ToGbk("目录创建错误");  // no blank
inline const std::string CannotDelete = Utf8ToGbk("无法删除文件：");       // + path
inline const std::string CannotMove = Utf8ToGbk("不能移动");              // code + this
inline const std::string MergeStart = Utf8ToGbk("合并");                  // + code + "..."
inline const std::string MergeDone = Utf8ToGbk("合并完毕");               // code + this
inline const std::string FileNotFound = Utf8ToGbk("找不到文件");          // + path
inline const std::string Ellipses = Utf8ToGbk("……………………");        // path + this
inline const std::string GenerateStart = Utf8ToGbk("生成");               // + name + GenerateEnd
inline const std::string GenerateEnd = Utf8ToGbk("索引");
inline const std::string DefaultTitle = Utf8ToGbk("标题");
inline const std::string BannerText = Utf8ToGbk("Talvik资讯就是投资者的Talvik资讯");
// A backtick, two ideographic spaces, four blanks, one ideographic space, BannerText.
inline const std::string BannerTail = Utf8ToGbk("`\u3000\u3000    \u3000") + BannerText;
inline const std::string Arrow = Utf8ToGbk("→");
inline const std::string Backtick = "`";

// Our own texts for roots that are not configured, names that would leave their folder and
// files the run must write or read to go on.
inline const std::string MarketSh = Utf8ToGbk("上海");
inline const std::string MarketSz = Utf8ToGbk("深圳");
inline const std::string MarketNotConfigured = Utf8ToGbk("市场未设置原始路径或目标路径，本次不处理");  // market + this
inline const std::string CodeSkippedNoTemplate = Utf8ToGbk("：未设置原始上海路径，无法读取大盘模板索引，跳过");  // code + this
inline const std::string CodeSkippedNoTarget = Utf8ToGbk("：未设置该市场的目标路径，跳过");  // code + this
inline const std::string CannotWrite = Utf8ToGbk("无法写入文件：");  // + path
inline const std::string CannotWriteLog = Utf8ToGbk("无法写入日志文件：");  // + path + error
inline const std::string CannotReadSettings = Utf8ToGbk("无法读取设置文件：");  // + path + error
inline const std::string IndexNotStaged = Utf8ToGbk("索引无法复制到暂存目录：");  // + path
inline const std::string BadTextFileName = Utf8ToGbk("索引中的文件名不合法，已拒绝：");  // + field text

// What a run leaves alone in a feed it does not trust, and runs that must not start.
inline const std::string RefusedNotAFile = Utf8ToGbk("不是普通文件，未处理：");  // + path
inline const std::string RefusedOddName = Utf8ToGbk("文件名含有无法处理的字符，未处理：");  // + path
inline const std::string RefusedBeingWritten = Utf8ToGbk("文件仍在写入，本次未处理：");  // + path
inline const std::string RefusedShortIndex = Utf8ToGbk("索引文件的记录少于文件头所述（仍在写入？），本次未处理：");  // + path
inline const std::string RefusedCannotStage = Utf8ToGbk("无法建立 %s（名称过长或系统不接受），股票未处理：");  // + index path
inline const std::string RunBusy = Utf8ToGbk("另一个运行正在使用此文件夹，本次不运行：");  // + folder
inline const std::string RunBusyProcess = Utf8ToGbk("（进程 %s）");
inline const std::string SettingsRefused = Utf8ToGbk("设置有误，本次不运行：");  // + problems
inline const std::string SameOrInside = Utf8ToGbk(" 与 %s 相同或在其中");  // key + this
inline const std::string SameFolderAs = Utf8ToGbk(" 与 %s 是同一个文件夹");  // key=path + this
inline const std::string SameFileAs = Utf8ToGbk(" 与 %s 是同一个文件");  // key + this
inline const std::string ReadByTheRun = Utf8ToGbk(" 是运行要读取的文件 %s");  // key + this
inline const std::string AmongTheOutputs = Utf8ToGbk(" 在 %s 中，会被当作文本或索引，或被它们替换");  // key + this
inline const std::string NotAbsolute = Utf8ToGbk(" 不是绝对路径");  // DRIVES\letter + this
inline const std::string ProblemSeparator = Utf8ToGbk("；");

}  // namespace Texts
