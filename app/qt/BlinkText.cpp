#include "BlinkText.h"

#include <QMouseEvent>

TBlinkText::TBlinkText(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setWordWrap(false);
  setFrameShape(QFrame::NoFrame);
  setAutoFillBackground(false);
  // The label must not grow with its text: the text is cut at the right edge instead.
  setMinimumWidth(0);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void TBlinkText::SetHighlighted(bool on) {
  FHighlighted = on;
  QPalette p = palette();
  const QPalette base = parentWidget() ? parentWidget()->palette() : QPalette();
  p.setColor(QPalette::WindowText, on ? base.color(QPalette::Highlight)
                                      : base.color(QPalette::WindowText));
  setPalette(p);
}

void TBlinkText::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) FPressed = true;
  QLabel::mousePressEvent(event);
}

bool TBlinkText::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) setToolTip(text());
  return QLabel::event(event);
}

void TBlinkText::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = FPressed && event->button() == Qt::LeftButton &&
                     rect().contains(event->position().toPoint());
  FPressed = false;
  QLabel::mouseReleaseEvent(event);
  if (click) emit Clicked();
}
