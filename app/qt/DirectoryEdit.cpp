#include "DirectoryEdit.h"

#include <QAction>
#include <QKeyEvent>
#include <QStyle>

TDirectoryEdit::TDirectoryEdit(QWidget* parent) : QLineEdit(parent) {
  FBrowse = addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
  FBrowse->setToolTip(QStringLiteral("..."));
  connect(FBrowse, &QAction::triggered, this, &TDirectoryEdit::BrowseRequested);
  // Text composed by an input method is typed text as well; the field takes none of it.
  setAttribute(Qt::WA_InputMethodEnabled, false);
  // A long folder does not fit the field: its whole path shows when the mouse rests on it.
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { setToolTip(text); });
}

namespace {

// The field's own edit commands, which keep their effect whatever OnKeyPress does.
bool IsEditCommand(QKeyEvent* event) {
  static const QKeySequence::StandardKey commands[] = {
      QKeySequence::Cut,  QKeySequence::Copy, QKeySequence::Paste,
      QKeySequence::Undo, QKeySequence::Redo, QKeySequence::SelectAll,
  };
  for (QKeySequence::StandardKey command : commands)
    if (event->matches(command)) return true;
  return false;
}

}  // namespace

void TDirectoryEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Down && (event->modifiers() & Qt::AltModifier)) {
    event->accept();
    emit BrowseRequested();
    return;
  }
  // Delete produces "\x7f" on some platforms, yet it is a key, not a typed character.
  if (event->key() == Qt::Key_Delete || IsEditCommand(event)) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  QString text = event->text();
  if (event->key() == Qt::Key_Backspace) text = QStringLiteral("\b");
  if (text.isEmpty()) {  // arrows, Home, End, Shift...: no character
    QLineEdit::keyPressEvent(event);
    return;
  }
  QString kept;
  for (QChar c : text) {
    char16_t key = c.unicode();
    if (OnKeyPress) OnKeyPress(*this, key);
    if (key != 0) kept.append(QChar(key));
  }
  event->accept();
  if (kept.isEmpty()) return;
  if (kept == QStringLiteral("\b"))
    backspace();
  else
    insert(kept);
}
