#pragma once
// TLogBox: the form's read-only log. Lines arrive one at a time, thousands a second during a
// run. The box holds and counts each line the moment it is added, and lays out, scrolls and
// draws itself once a frame, with all the lines of that frame.

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>

class TLogBox final : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit TLogBox(QWidget* parent = nullptr);

  // Adds `text` at the end (a "\n" inside it starts a new line); at the end of the frame the
  // box shows the end of the log, whatever the operator had scrolled to. Main thread only,
  // like every call below.
  void AddLine(const QString& text);
  // Empties the log.
  void ClearLines();
  // Lines held: 0 when empty, one more per AddLine and per line break inside its text.
  int LineCount() const { return FLines; }
  // Lines were added or cleared that the box has not yet scrolled to and drawn.
  bool FramePending() const { return FFrame.isActive(); }

 private:
  void BeginFrame();
  void EndFrame();
  void CloseEdit();

  int FLines = 0;
  // The frame's lines go in through one edit of the text, still open: the text holds them
  // at once, but the box lays out only what it shows when the edit closes.
  QTextCursor FEdit;
  bool FEditing = false;
  QTimer FFrame;
};
