#pragma once
// Texts cross into Qt here: the program's texts are GBK bytes, Qt's are QString.

#include <QString>

#include <string>

#include "Convert.h"

inline QString QtFromGbk(const std::string& gbk) {
  return QString::fromStdString(GbkToUtf8(gbk));
}

inline std::string GbkFromQt(const QString& text) { return Utf8ToGbk(text.toStdString()); }
