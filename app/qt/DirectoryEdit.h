#pragma once
// A one-line field for a folder, with a browse button at its right end. Typed characters go
// through OnKeyPress first, which may change or take away the character (0 = none).

#include <QLineEdit>

#include <functional>

class QAction;

class TDirectoryEdit final : public QLineEdit {
  Q_OBJECT

 public:
  explicit TDirectoryEdit(QWidget* parent = nullptr);

  // Called with every character typed into the field (Backspace and control characters
  // included); keys that produce no character and the edit commands do not come here.
  std::function<void(TDirectoryEdit& sender, char16_t& key)> OnKeyPress;

  QAction* BrowseButton() const { return FBrowse; }

 signals:
  // The browse button was pressed, or Alt+Down typed in the field.
  void BrowseRequested();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QAction* FBrowse;
};
