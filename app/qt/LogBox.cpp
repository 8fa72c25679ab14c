#include "LogBox.h"

#include <QScrollBar>
#include <QTextDocument>

namespace {

// One frame of a 60 Hz display: drawing the box more often shows nothing more.
constexpr int kFrameMs = 16;

}  // namespace

TLogBox::TLogBox(QWidget* parent) : QPlainTextEdit(parent) {
  // Nothing typed into a read-only log is ever undone; an undo history would only keep a
  // copy of every line.
  document()->setUndoRedoEnabled(false);
  FFrame.setSingleShot(true);
  FFrame.setInterval(kFrameMs);
  connect(&FFrame, &QTimer::timeout, this, [this] { EndFrame(); });
}

void TLogBox::AddLine(const QString& text) {
  BeginFrame();
  if (!FEditing) {
    FEdit = QTextCursor(document());
    FEdit.movePosition(QTextCursor::End);
    FEdit.beginEditBlock();
    FEditing = true;
  }
  if (FLines > 0) FEdit.insertBlock();
  FEdit.insertText(text);
  FLines += static_cast<int>(text.count(QLatin1Char('\n'))) + 1;
}

void TLogBox::ClearLines() {
  BeginFrame();
  CloseEdit();
  clear();
  FLines = 0;
}

void TLogBox::BeginFrame() {
  if (FFrame.isActive()) return;
  // However many lines come within the frame, the box is laid out and drawn once, with all
  // of them: a run brings thousands a second, the screen shows sixty pictures.
  setUpdatesEnabled(false);
  FFrame.start();
}

void TLogBox::CloseEdit() {
  if (!FEditing) return;
  FEditing = false;
  FEdit.endEditBlock();
  FEdit = QTextCursor();
}

void TLogBox::EndFrame() {
  CloseEdit();
  // The newest line, from its start.
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
  setUpdatesEnabled(true);
  // Drawn now rather than on a later pass of the event loop: the next line, due before that
  // pass, would hold the drawing again, and the box could go undrawn for a whole run.
  repaint();
}
