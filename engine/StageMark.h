#pragma once
// The mark of a stock whose merge has not finished: {source}\DATA\{code} + kPendingMark, an
// empty file. Staging makes it before the first section file leaves the source root; the
// merge removes it once the stock's text (and index) are done. A run lists a marked stock
// even with no section files waiting, so a stock stopped half way by a failure or by the end
// of the process is merged again by the next run instead of being left empty or stale.

#include <string>

inline const std::string kPendingMark = ".pending";
