#pragma once
// A status text that blinks: its owner switches it between its normal colour and the
// highlight colour. Left-aligned, vertically centred, no border; a text longer than the
// control is cut off, never scrolled.

#include <QLabel>

class TBlinkText final : public QLabel {
  Q_OBJECT

 public:
  explicit TBlinkText(QWidget* parent = nullptr);

  // True while the text is drawn in the highlight colour.
  bool Highlighted() const { return FHighlighted; }
  void SetHighlighted(bool on);

 signals:
  void Clicked();

 protected:
  // A text cut off at the right edge shows whole as the tooltip.
  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool FHighlighted = false;
  bool FPressed = false;
};
