#include "BlinkText.h"

#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

// One timer for all blinking texts, so they blink in step. It lives while any text does.
class TBlinkClock final {
 public:
  static void Attach(TBlinkText* text) {
    if (!FInstance) FInstance = new TBlinkClock;
    FInstance->FTexts.push_back(text);
    text->SetHighlighted(FInstance->FPhase);
  }
  static void Detach(TBlinkText* text) {
    if (!FInstance) return;
    auto& texts = FInstance->FTexts;
    texts.erase(std::remove(texts.begin(), texts.end(), text), texts.end());
    if (texts.empty()) {
      delete FInstance;
      FInstance = nullptr;
    }
  }

 private:
  TBlinkClock() {
    FTimer.setInterval(TBlinkText::kBlinkMs);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      FPhase = !FPhase;
      for (TBlinkText* text : FTexts) text->SetHighlighted(FPhase);
    });
    FTimer.start();
  }

  static inline TBlinkClock* FInstance = nullptr;
  QTimer FTimer;
  bool FPhase = false;
  std::vector<TBlinkText*> FTexts;
};

}  // namespace

TBlinkText::TBlinkText(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  setWordWrap(false);
  setFrameShape(QFrame::NoFrame);
  setAutoFillBackground(false);
  // The label must not grow with its text: the text is cut at the right edge instead.
  setMinimumWidth(0);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  TBlinkClock::Attach(this);
}

TBlinkText::~TBlinkText() { TBlinkClock::Detach(this); }

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
