// formprobe: drives the Windows form of a running lorvane.exe through its window's own
// messages, for tests/windows/form.sh. One command a call; prints what it found and exits 0,
// or 1 with the reason on standard error. Waits are for events (a window appearing, a button
// enabled again), polled, with a limit in seconds against a hang only.
//
//   formprobe wait-window SECONDS   the form's window exists and is visible
//   formprobe frame                 the window's frame on the screen, as WxH+X+Y
//   formprobe layout                the client size, then "id left top width height" per
//                                   control, client coordinates
//   formprobe run SECONDS           presses execute-now (BM_CLICK), then waits until the
//                                   button is enabled again: the run has ended
//   formprobe log LINES SECONDS     waits until the log box holds LINES lines; prints its
//                                   line count and its last line (UTF-8)
//   formprobe keys SECONDS          types into the Shanghai source field: a character and a
//                                   backspace change nothing, cut (Ctrl+X) and paste (Ctrl+V)
//                                   still work
//   formprobe minimize SECONDS      minimizes the form (SC_MINIMIZE): prints "hidden" when it
//                                   went into the notification area, else "minimized"; a
//                                   hidden form is brought back as a double click on the
//                                   icon would, and must show again
//   formprobe close SECONDS         asks the form to close (WM_CLOSE) and waits until its
//                                   window is gone

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "FormIds.h"

namespace {

int Fail(const std::string& reason) {
  std::fprintf(stderr, "formprobe: %s\n", reason.c_str());
  return 1;
}

HWND Form() { return FindWindowW(kFormWindowClass, L"Lorvane"); }

// Asks `holds` every 20 ms until it holds or `seconds` have gone by.
bool WaitFor(const std::function<bool()>& holds, double seconds) {
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  for (;;) {
    if (holds()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Sends a message and waits for its answer, within a limit; false when the form did not
// answer in time (a modal box of its own may be holding it).
bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, double seconds, DWORD_PTR* answer = nullptr) {
  DWORD_PTR result = 0;
  const bool answered = SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL,
                                            static_cast<UINT>(seconds * 1000), &result) != 0;
  if (answer) *answer = result;
  return answered;
}

std::wstring LogText(HWND log, double seconds) {
  DWORD_PTR length = 0;
  if (!Send(log, WM_GETTEXTLENGTH, 0, 0, seconds, &length)) return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  Send(log, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), seconds, &copied);
  text.resize(copied);
  return text;
}

int WaitWindow(double seconds) {
  if (!WaitFor([] { return Form() != nullptr && IsWindowVisible(Form()); }, seconds))
    return Fail("no visible window of class LorvaneForm titled Lorvane within " + std::to_string(seconds) + " s");
  std::printf("window\n");
  return 0;
}

int Frame() {
  const HWND form = Form();
  if (!form) return Fail("the form's window is not there");
  RECT frame{};
  GetWindowRect(form, &frame);
  std::printf("%ldx%ld+%ld+%ld\n", frame.right - frame.left, frame.bottom - frame.top, frame.left, frame.top);
  return 0;
}

int Layout() {
  const HWND form = Form();
  if (!form) return Fail("the form's window is not there");
  RECT client{};
  GetClientRect(form, &client);
  std::printf("client %ld %ld\n", client.right, client.bottom);
  for (int id : {kIdLog, kIdSrcPath, kIdSzSrcPath, kIdDesPath, kIdSzDesPath, kIdInterval, kIdMakeIndex, kIdNoIndex,
                 kIdRunNow, kIdSave, kIdStatus}) {
    const HWND control = GetDlgItem(form, id);
    if (!control) return Fail("the form has no control " + std::to_string(id));
    RECT box{};
    GetWindowRect(control, &box);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&box), 2);
    std::printf("%d %ld %ld %ld %ld\n", id, box.left, box.top, box.right - box.left, box.bottom - box.top);
  }
  return 0;
}

int Run(double seconds) {
  const HWND form = Form();
  const HWND button = form ? GetDlgItem(form, kIdRunNow) : nullptr;
  if (!button) return Fail("the form or its execute-now button is not there");
  if (!IsWindowEnabled(button)) return Fail("the execute-now button is disabled before the click");
  // Answered once the form's click handler has returned: by then the run has disabled the
  // button, or has already ended.
  if (!Send(button, BM_CLICK, 0, 0, seconds))
    return Fail("the click was not answered within " + std::to_string(seconds) + " s (an error box?)");
  if (!WaitFor([button] { return IsWindowEnabled(button) != FALSE; }, seconds))
    return Fail("the execute-now button was not enabled again within " + std::to_string(seconds) + " s");
  std::printf("run ended\n");
  return 0;
}

int Log(int lines, double seconds) {
  const HWND form = Form();
  const HWND log = form ? GetDlgItem(form, kIdLog) : nullptr;
  if (!log) return Fail("the form or its log box is not there");
  DWORD_PTR count = 0;
  // The box takes its lines once a frame: the last ones arrive at the frame's end.
  WaitFor([&] { return Send(log, EM_GETLINECOUNT, 0, 0, seconds, &count) && static_cast<int>(count) == lines; },
          seconds);
  const std::wstring text = LogText(log, seconds);
  const std::size_t lastBreak = text.rfind(L"\r\n");
  const std::wstring last = lastBreak == std::wstring::npos ? text : text.substr(lastBreak + 2);
  std::printf("lines %d\n%s\n", static_cast<int>(count), Utf8(last).c_str());
  return static_cast<int>(count) == lines ? 0 : Fail("the log box holds " + std::to_string(count) + " lines, not " +
                                                     std::to_string(lines));
}

std::wstring FieldText(HWND field, double seconds) {
  wchar_t text[1024] = {};
  Send(field, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), seconds);
  return text;
}

int Keys(double seconds) {
  const HWND form = Form();
  const HWND field = form ? GetDlgItem(form, kIdSrcPath) : nullptr;
  if (!field) return Fail("the form or its Shanghai source field is not there");
  const std::wstring before = FieldText(field, seconds);
  if (before.empty()) return Fail("the Shanghai source field is empty: nothing to cut");
  for (const wchar_t typed : {L'x', L'\\', L'\b'}) {
    Send(field, WM_CHAR, typed, 1, seconds);
    if (FieldText(field, seconds) != before)
      return Fail("typing character " + std::to_string(typed) + " changed the field to '" +
                  Utf8(FieldText(field, seconds)) + "'");
  }
  Send(field, EM_SETSEL, 0, -1, seconds);
  Send(field, WM_CHAR, 0x18, 1, seconds);  // Ctrl+X
  if (!FieldText(field, seconds).empty()) return Fail("Ctrl+X did not cut the field's text");
  Send(field, WM_CHAR, 0x16, 1, seconds);  // Ctrl+V
  if (FieldText(field, seconds) != before)
    return Fail("Ctrl+V gave '" + Utf8(FieldText(field, seconds)) + "', not the text cut");
  std::printf("typing ignored, cut and paste kept\n");
  return 0;
}

int Minimize(double seconds) {
  const HWND form = Form();
  if (!form) return Fail("the form's window is not there");
  // Answered once the form has handled its minimizing, hiding itself or not.
  if (!Send(form, WM_SYSCOMMAND, SC_MINIMIZE, 0, seconds)) return Fail("the minimize was not answered");
  if (IsWindowVisible(form)) {
    std::printf(IsIconic(form) ? "minimized\n" : "not minimized\n");
    return IsIconic(form) ? 0 : Fail("the form did not minimize");
  }
  std::printf("hidden\n");
  // The icon's double click brings it back.
  if (!Send(form, kTrayMessage, 1, WM_LBUTTONDBLCLK, seconds)) return Fail("the double click was not answered");
  if (!WaitFor([form] { return IsWindowVisible(form) && !IsIconic(form); }, seconds))
    return Fail("the form did not come back from the notification area");
  std::printf("restored\n");
  return 0;
}

int Close(double seconds) {
  const HWND form = Form();
  if (!form) return Fail("the form's window is not there");
  PostMessageW(form, WM_CLOSE, 0, 0);
  if (!WaitFor([form] { return !IsWindow(form); }, seconds))
    return Fail("the form's window was still there " + std::to_string(seconds) + " s after WM_CLOSE");
  std::printf("closed\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  const double seconds = argc > 2 ? std::atof(argv[argc - 1]) : 60;
  if (command == "wait-window") return WaitWindow(seconds);
  if (command == "frame") return Frame();
  if (command == "layout") return Layout();
  if (command == "run") return Run(seconds);
  if (command == "log" && argc > 3) return Log(std::atoi(argv[2]), seconds);
  if (command == "keys") return Keys(seconds);
  if (command == "minimize") return Minimize(seconds);
  if (command == "close") return Close(seconds);
  return Fail("usage: formprobe wait-window|frame|layout|run|log LINES|keys|minimize|close SECONDS");
}
