#include "FormWindow.h"

#include <commctrl.h>
#include <imm.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>

#include "FormIds.h"
#include "FormTexts.h"
#include "WideText.h"

namespace {

// The form's first size, the smallest it can be made: every control has its place in it.
// Sizes are in pixels at 96 DPI and scaled to the monitor's.
constexpr int kFormWidth = 512;
constexpr int kFormHeight = 272;
constexpr int kLogWidth = 281;
constexpr int kFormLeft = 295;
constexpr int kFormTop = 223;
// The form's text: 12 pixels, the size its controls were laid out for.
constexpr int kFontPixels = 12;

constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;

// Private messages of the form window.
constexpr UINT kPostMessage = WM_APP + 1;  // ops handed over by Post() are waiting

constexpr UINT_PTR kTimer1 = 1;
constexpr UINT_PTR kBlinkTimer = 2;
constexpr UINT_PTR kLogFrameTimer = 3;
constexpr UINT_PTR kTrayWatchTimer = 4;
// One frame of a 60 Hz display: drawing the log more often shows nothing more.
constexpr UINT kLogFrameMs = 16;
// While the form hides in the notification area: how often it looks whether the area is
// still there.
constexpr UINT kTrayWatchMs = 2000;
constexpr UINT kTrayIconId = 1;

enum : UINT { kMenuShow = 1, kMenuRunNow, kMenuQuit };

// The fields the browse buttons kIdBrowse + 0..3 belong to.
constexpr TFormField kBrowseRoles[] = {TFormField::SrcPath, TFormField::SzSrcPath, TFormField::DesPath,
                                       TFormField::SzDesPath};

// A function of user32 that older systems lack, or null there.
template <typename F>
F UserFunction(const char* name) {
  const FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(found));
}

UINT DpiOf(HWND window) {
  using TGetDpiForWindow = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = UserFunction<TGetDpiForWindow>("GetDpiForWindow");
  if (getDpiForWindow) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi) return dpi;
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The size of the form's window for a client area of `width` x `height` at `dpi`.
SIZE WindowSizeFor(int width, int height, UINT dpi) {
  using TAdjust = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = UserFunction<TAdjust>("AdjustWindowRectExForDpi");
  RECT rect{0, 0, width, height};
  if (!adjustForDpi || !adjustForDpi(&rect, kFormStyle, FALSE, kFormExStyle, dpi))
    AdjustWindowRectEx(&rect, kFormStyle, FALSE, kFormExStyle);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

bool FontInstalled(const wchar_t* face) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
  bool found = false;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExW(
      screen, &wanted,
      [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM seen) -> int {
        *reinterpret_cast<bool*>(seen) = true;
        return 0;
      },
      reinterpret_cast<LPARAM>(&found), 0);
  ReleaseDC(nullptr, screen);
  return found;
}

HFONT FormFont(UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  using TParametersForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const auto forDpi = UserFunction<TParametersForDpi>("SystemParametersInfoForDpi");
  if (!forDpi || !forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi))
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  LOGFONTW font = metrics.lfMessageFont;
  // The labels are Chinese. The system's message font (Segoe UI, Tahoma) may draw them only
  // through a fallback that Wine does not have, so a face with their glyphs is named: the
  // system's Chinese UI faces, then the CJK faces a Linux host gives Wine.
  static const wchar_t* const kFaces[] = {L"Microsoft YaHei UI", L"Microsoft YaHei", L"SimSun",
                                          L"WenQuanYi Micro Hei", L"Noto Sans CJK SC"};
  for (const wchar_t* face : kFaces) {
    if (!FontInstalled(face)) continue;
    lstrcpynW(font.lfFaceName, face, LF_FACESIZE);
    break;
  }
  font.lfHeight = -MulDiv(kFontPixels, static_cast<int>(dpi), 96);
  font.lfWidth = 0;
  font.lfWeight = FW_NORMAL;
  font.lfItalic = FALSE;
  font.lfCharSet = DEFAULT_CHARSET;
  return CreateFontIndirectW(&font);
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  const int n = GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

struct TBrowseStart {
  std::wstring Title;
  std::wstring Folder;
};

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) {
    const auto* start = reinterpret_cast<const TBrowseStart*>(data);
    SetWindowTextW(dialog, start->Title.c_str());
    if (!start->Folder.empty())
      SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(start->Folder.c_str()));
  }
  return 0;
}

}  // namespace

TFormWindow::TFormWindow(TPlatform& fs) {
  FLogic = std::make_unique<TFormLogic>(fs, *this);
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  FIconLarge = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                             GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
  FIconSmall = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                             LR_DEFAULTCOLOR));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  if (!GetClassInfoExW(instance, kFormWindowClass, &windowClass)) {
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = FIconLarge;
    windowClass.hIconSm = FIconSmall;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kFormWindowClass;
    RegisterClassExW(&windowClass);
  }
  FTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
  CreateWindowExW(kFormExStyle, kFormWindowClass, GbkToWide(FormTexts::FormCaption).c_str(), kFormStyle, kFormLeft,
                  kFormTop, kFormWidth, kFormHeight, nullptr, nullptr, instance, this);
  if (!FWindow) throw std::runtime_error("the form's window cannot be made (error " + std::to_string(GetLastError()) + ")");
  {
    std::lock_guard<std::mutex> guard(FPostLock);
    FPostTarget = FWindow;
  }
  SendMessageW(FWindow, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(FIconLarge));
  SendMessageW(FWindow, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(FIconSmall));
  BuildControls();
  ApplyDpi(DpiOf(FWindow));
  const SIZE size = WindowSizeFor(Scaled(kFormWidth), Scaled(kFormHeight), FDpi);
  SetWindowPos(FWindow, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  AddTrayIcon();
  ::SetTimer(FWindow, kBlinkTimer, TFormLogic::kBlinkMs, nullptr);
  FLogic->Created();
}

TFormWindow::~TFormWindow() {
  // The logic waits for a run in progress, serving its hand-overs through this window.
  FLogic.reset();
  if (FWindow) DestroyWindow(FWindow);
  if (FFont) DeleteObject(FFont);
  if (FIconLarge) DestroyIcon(FIconLarge);
  if (FIconSmall) DestroyIcon(FIconSmall);
}

int TFormWindow::Run() {
  // As the program was started: a shortcut set to start minimized sends the form to the
  // notification area at once.
  ShowWindow(FWindow, SW_SHOWDEFAULT);
  UpdateWindow(FWindow);
  MSG message{};
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    Dispatch(message);
  }
}

void TFormWindow::Dispatch(MSG& message) {
  // Tab, Enter and the arrow keys among the radio buttons as in a dialog.
  if (FWindow && IsDialogMessageW(FWindow, &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

// --- Controls ---

HWND TFormWindow::Child(const wchar_t* windowClass, const std::wstring& text, DWORD style, int id, DWORD exStyle) {
  return CreateWindowExW(exStyle, windowClass, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, FWindow,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

void TFormWindow::BuildControls() {
  FLog = Child(WC_EDITW, L"",
               WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
               kIdLog, WS_EX_CLIENTEDGE);
  // The log holds its last 200 lines, however long: no limit of the box's own.
  SendMessageW(FLog, EM_SETLIMITTEXT, 0, 0);

  const DWORD label = SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_NOPREFIX;
  struct TRow {
    const std::string& Caption;
    TFormField Role;
    HWND& Field;
    int Id;
  };
  const TRow rows[] = {
      {FormTexts::LabelShSource, TFormField::SrcPath, FSrcPath, kIdSrcPath},
      {FormTexts::LabelSzSource, TFormField::SzSrcPath, FSzSrcPath, kIdSzSrcPath},
      {FormTexts::LabelShTarget, TFormField::DesPath, FDesPath, kIdDesPath},
      {FormTexts::LabelSzTarget, TFormField::SzDesPath, FSzDesPath, kIdSzDesPath},
  };
  int labels = 0;
  for (const TRow& row : rows) {
    FLabels[labels] = Child(WC_STATICW, GbkToWide(row.Caption), label, kIdFirstLabel + labels);
    FSettingsControls.push_back(FLabels[labels]);
    ++labels;
    // The field keeps its text out from under the button that lies over its right end.
    row.Field = Child(WC_EDITW, L"", WS_TABSTOP | WS_CLIPSIBLINGS | ES_AUTOHSCROLL, row.Id, WS_EX_CLIENTEDGE);
    SetWindowSubclass(row.Field, DirectoryFieldProc, static_cast<UINT_PTR>(row.Role), reinterpret_cast<DWORD_PTR>(this));
    // Text composed by an input method is typed text as well; the field takes none of it.
    ImmAssociateContextEx(row.Field, nullptr, 0);
    FSettingsControls.push_back(row.Field);
  }
  for (int i = 0; i < 4; ++i) {
    FBrowse[i] = Child(WC_BUTTONW, L"...", BS_PUSHBUTTON, kIdBrowse + i);
    FSettingsControls.push_back(FBrowse[i]);
  }
  FLabels[labels] = Child(WC_STATICW, GbkToWide(FormTexts::LabelTimer), label, kIdFirstLabel + labels);
  FSettingsControls.push_back(FLabels[labels++]);
  FInterval = Child(WC_EDITW, L"", WS_TABSTOP | ES_AUTOHSCROLL, kIdInterval, WS_EX_CLIENTEDGE);
  FSettingsControls.push_back(FInterval);
  FLabels[labels] = Child(WC_STATICW, GbkToWide(FormTexts::LabelMinutes), label, kIdFirstLabel + labels);
  FSettingsControls.push_back(FLabels[labels++]);

  FMakeIndex = Child(WC_BUTTONW, GbkToWide(FormTexts::MakeIndex), WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON,
                     kIdMakeIndex);
  FNoIndex = Child(WC_BUTTONW, GbkToWide(FormTexts::NoIndex), BS_AUTORADIOBUTTON, kIdNoIndex);
  SendMessageW(FNoIndex, BM_SETCHECK, BST_CHECKED, 0);
  FRunNow = Child(WC_BUTTONW, GbkToWide(FormTexts::ExecuteNow), WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON, kIdRunNow);
  FSave = Child(WC_BUTTONW, GbkToWide(FormTexts::SaveSettings), WS_TABSTOP | BS_PUSHBUTTON, kIdSave);
  FStatus = Child(WC_STATICW, L"", WS_GROUP | SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_NOPREFIX | SS_NOTIFY, kIdStatus);
  for (HWND control : {FMakeIndex, FNoIndex, FSave, FStatus}) FSettingsControls.push_back(control);
}

int TFormWindow::Scaled(int pixels) const { return MulDiv(pixels, static_cast<int>(FDpi), 96); }

void TFormWindow::ApplyDpi(UINT dpi) {
  FDpi = dpi;
  HFONT old = FFont;
  FFont = FormFont(dpi);
  EnumChildWindows(
      FWindow,
      [](HWND child, LPARAM font) -> BOOL {
        SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(font), FALSE);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(FFont));
  if (old) DeleteObject(old);
  LayOut();
  InvalidateRect(FWindow, nullptr, TRUE);
}

void TFormWindow::LayOut() {
  if (!FLog) return;  // still being made
  RECT client{};
  GetClientRect(FWindow, &client);
  // The first geometry, stretched: half of the extra width goes to the log, half to the
  // settings' fields; the extra height to the log, the status text staying at the bottom.
  const int width = MulDiv(client.right, 96, static_cast<int>(FDpi));
  const int height = MulDiv(client.bottom, 96, static_cast<int>(FDpi));
  const int extraWidth = std::max(0, width - kFormWidth);
  const int logWidth = kLogWidth + extraWidth / 2;
  const int grow = extraWidth - extraWidth / 2;
  const int bottom = std::max(kFormHeight, height);

  HDWP moves = BeginDeferWindowPos(20);
  const auto place = [this, &moves, logWidth](HWND control, int left, int top, int w, int h) {
    const int x = Scaled(logWidth + left);
    moves = DeferWindowPos(moves, control, nullptr, x, Scaled(top), Scaled(logWidth + left + w) - x, Scaled(h),
                           SWP_NOZORDER | SWP_NOACTIVATE);
  };
  // The log panel's lowered bevel is drawn by the form (WM_PAINT); the box fills it.
  FLogPanel = {0, 0, Scaled(logWidth), client.bottom};
  moves = DeferWindowPos(moves, FLog, nullptr, 1, 1, FLogPanel.right - 2, FLogPanel.bottom - 2,
                         SWP_NOZORDER | SWP_NOACTIVATE);
  const int tops[] = {17, 49, 80, 110};
  const HWND fields[] = {FSrcPath, FSzSrcPath, FDesPath, FSzDesPath};
  // Each browse button lies over its field's right end, inside the field's sunken edge,
  // above it; the field's text stops before it.
  const int edge = GetSystemMetrics(SM_CXEDGE);
  const int side = Scaled(21) - 2 * edge;
  for (int i = 0; i < 4; ++i) {
    place(FLabels[i], 10, tops[i], 82, 21);
    place(fields[i], 94, tops[i], 124 + grow, 21);
    moves = DeferWindowPos(moves, FBrowse[i], HWND_TOP, Scaled(logWidth + 94 + 124 + grow) - edge - side,
                           Scaled(tops[i]) + edge, side, side, SWP_NOACTIVATE);
    SendMessageW(fields[i], EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, side + Scaled(2)));
  }
  place(FLabels[4], 10, 139, 82, 21);
  place(FInterval, 95, 139, 101, 21);
  place(FLabels[5], 200, 139, 30, 21);
  place(FMakeIndex, 32, 176, 86, 17);
  place(FNoIndex, 120, 176, 108, 17);
  place(FRunNow, 32, 216, 75, 25);
  place(FSave, 136, 216, 75, 25);
  place(FStatus, 4, bottom - (kFormHeight - 246), 133 + grow, 24);
  if (moves) EndDeferWindowPos(moves);
}

HWND TFormWindow::Field(TFormField field) const {
  switch (field) {
    case TFormField::SrcPath: return FSrcPath;
    case TFormField::SzSrcPath: return FSzSrcPath;
    case TFormField::DesPath: return FDesPath;
    case TFormField::SzDesPath: return FSzDesPath;
    default: return FInterval;
  }
}

// --- Messages ---

LRESULT CALLBACK TFormWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* made = static_cast<TFormWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(made));
    made->FWindow = window;
  }
  auto* self = reinterpret_cast<TFormWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  try {
    return self->Handle(window, message, wParam, lParam);
  } catch (const std::exception& failure) {
    // The logic shows its handlers' failures itself; what reaches here is the form's own.
    MessageBoxW(window, Utf8ToWide(failure.what()).c_str(), GbkToWide(FormTexts::FormCaption).c_str(),
                MB_OK | MB_ICONSTOP);
  }
  return 0;
}

LRESULT TFormWindow::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      for (UINT_PTR timer : {kTimer1, kBlinkTimer, kLogFrameTimer, kTrayWatchTimer}) ::KillTimer(window, timer);
      HideTrayIcon();
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY: {
      // What is still waiting to be handed over goes with the window.
      std::deque<std::function<void()>> dropped;
      {
        std::lock_guard<std::mutex> guard(FPostLock);
        FPostTarget = nullptr;
        dropped.swap(FPosts);
      }
      FWindow = nullptr;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
      break;
  }
  // The logic has gone: the form is being destroyed.
  if (!FLogic) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case kPostMessage:
      ServePosts();
      return 0;
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_TIMER:
      switch (wParam) {
        case kTimer1: FLogic->TimerTicked(); break;
        case kBlinkTimer: FLogic->BlinkTicked(); break;
        case kLogFrameTimer: EndLogFrame(); break;
        case kTrayWatchTimer:
          if (IsWindowVisible(window))
            ::KillTimer(window, kTrayWatchTimer);
          else
            FLogic->TrayChanged();
          break;
        default: break;
      }
      return 0;
    case kTrayMessage:
      switch (LOWORD(lParam)) {
        case WM_LBUTTONDBLCLK: FLogic->TrayDoubleClicked(); break;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU: ShowTrayMenu(); break;
        default: break;
      }
      return 0;
    case WM_SIZE:
      // Told once the window is minimized, so a form hidden now comes back from the
      // notification area as it was before (SW_RESTORE); and whoever minimized it finds
      // the logic's answer given when the minimizing returns.
      if (wParam == SIZE_MINIMIZED) {
        if (IsWindowVisible(window)) FLogic->Minimized();
      } else {
        LayOut();
      }
      return 0;
    case WM_GETMINMAXINFO: {
      const SIZE smallest = WindowSizeFor(Scaled(kFormWidth), Scaled(kFormHeight), FDpi);
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {smallest.cx, smallest.cy};
      return 0;
    }
    case WM_DPICHANGED: {
      ApplyDpi(HIWORD(wParam));
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const HWND control = reinterpret_cast<HWND>(lParam);
      if (control == FLog) {
        // Read-only, yet a text box: the window's colours, not the form's.
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      if (control == FStatus) {
        SetTextColor(dc, GetSysColor(FStatusHighlighted ? COLOR_HIGHLIGHT : COLOR_BTNTEXT));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      HDC dc = BeginPaint(window, &paint);
      RECT panel = FLogPanel;
      DrawEdge(dc, &panel, BDR_SUNKENOUTER, BF_RECT);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_CLOSE:
      if (FLogic->CloseRequested()) DestroyWindow(window);
      return 0;
    case WM_ENDSESSION:
      // The session ends: the run is asked to stop before its next stock, as a close does.
      if (wParam && FLogic->CloseRequested()) DestroyWindow(window);
      return 0;
    default:
      if (message == FTaskbarCreated && FTaskbarCreated != 0) {
        // The shell started again (after a crash, or late at logon): the icon it had is gone.
        if (FTrayWanted) AddTrayIcon();
        return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void TFormWindow::Command(int id, int code) {
  switch (id) {
    case kIdRunNow:
      if (code == BN_CLICKED) FLogic->RunNowClicked();
      break;
    case kIdSave:
      if (code == BN_CLICKED) FLogic->SaveClicked();
      break;
    case kIdMakeIndex:
    case kIdNoIndex:
      if (code == BN_CLICKED) FLogic->IndexChoiceClicked(id == kIdMakeIndex);
      break;
    case kIdStatus:
      if (code == STN_CLICKED) FLogic->StatusClicked();
      break;
    case kIdBrowse:
    case kIdBrowse + 1:
    case kIdBrowse + 2:
    case kIdBrowse + 3:
      if (code == BN_CLICKED) FLogic->BrowseClicked(kBrowseRoles[id - kIdBrowse]);
      break;
    default:
      // Enter and Escape arrive as IDOK and IDCANCEL: the form has no default button.
      break;
  }
}

LRESULT CALLBACK TFormWindow::DirectoryFieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                                 DWORD_PTR data) {
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(field, DirectoryFieldProc, id);
    return DefSubclassProc(field, message, wParam, lParam);
  }
  auto* self = reinterpret_cast<TFormWindow*>(data);
  if (!self->FLogic) return DefSubclassProc(field, message, wParam, lParam);
  try {
    return self->DirectoryFieldMessage(field, static_cast<TFormField>(id), message, wParam, lParam);
  } catch (const std::exception& failure) {
    MessageBoxW(field, Utf8ToWide(failure.what()).c_str(), GbkToWide(FormTexts::FormCaption).c_str(),
                MB_OK | MB_ICONSTOP);
  }
  return 0;
}

LRESULT TFormWindow::DirectoryFieldMessage(HWND field, TFormField role, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SYSKEYDOWN:
      // Alt+Down opens the folder dialog, as the button does.
      if (wParam == VK_DOWN && (lParam & (1 << 29))) {
        FLogic->BrowseClicked(role);
        return 0;
      }
      break;
    case WM_CHAR: {
      const auto key = static_cast<wchar_t>(wParam);
      // The field's own edit commands come as control characters (select all, copy, paste,
      // cut, undo) and keep their effect; Delete and the arrows are keys, not characters.
      if (key == 0x01 || key == 0x03 || key == 0x16 || key == 0x18 || key == 0x1A) break;
      const char16_t kept = FLogic->DirectoryKeyTyped(role, static_cast<char16_t>(key));
      if (kept == 0) return 0;
      wParam = kept;
      break;
    }
    default:
      break;
  }
  return DefSubclassProc(field, message, wParam, lParam);
}

// --- TFormView: controls ---

std::string TFormWindow::FieldText(TFormField field) { return WideToGbk(WindowText(Field(field))); }

void TFormWindow::SetFieldText(TFormField field, const std::string& text) {
  SetWindowTextW(Field(field), GbkToWide(text).c_str());
}

bool TFormWindow::MakeIndexChecked() { return SendMessageW(FMakeIndex, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void TFormWindow::SetMakeIndexChecked(bool on) {
  SendMessageW(FMakeIndex, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
  SendMessageW(FNoIndex, BM_SETCHECK, on ? BST_UNCHECKED : BST_CHECKED, 0);
}

void TFormWindow::SetRunButtonEnabled(bool on) {
  FRunNowOn = on;
  EnableWindow(FRunNow, FRunNowOn && FSettingsOn);
}

// As the Qt form's: a button on a disabled side of the form is not enabled.
bool TFormWindow::RunButtonEnabled() { return FRunNowOn && FSettingsOn; }

void TFormWindow::SetSettingsEnabled(bool on) {
  FSettingsOn = on;
  for (HWND control : FSettingsControls) EnableWindow(control, on);
  EnableWindow(FRunNow, FRunNowOn && FSettingsOn);
}

void TFormWindow::SetTimer(bool running, int intervalMs) {
  if (running)
    ::SetTimer(FWindow, kTimer1, static_cast<UINT>(std::max<int>(intervalMs, USER_TIMER_MINIMUM)), nullptr);
  else
    ::KillTimer(FWindow, kTimer1);
}

void TFormWindow::SetStatus(const std::string& text) { SetWindowTextW(FStatus, GbkToWide(text).c_str()); }

std::string TFormWindow::Status() { return WideToGbk(WindowText(FStatus)); }

void TFormWindow::SetStatusHighlighted(bool on) {
  if (on == FStatusHighlighted) return;
  FStatusHighlighted = on;
  InvalidateRect(FStatus, nullptr, TRUE);
}

// --- TFormView: the log ---

int TFormWindow::LogLineCount() { return FLogLines; }

void TFormWindow::LogClear() {
  FLogPending.clear();
  FLogClearPending = true;
  FLogLines = 0;
  BeginLogFrame();
}

void TFormWindow::LogAdd(const std::string& line) {
  const std::wstring text = GbkToWide(line);
  // A message may hold line breaks of its own, CR LF or a lone CR or LF; each starts a line
  // of the log, whose box breaks lines at CR LF only.
  std::wstring lines;
  lines.reserve(text.size() + 2);
  int breaks = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c != L'\r' && c != L'\n') {
      lines += c;
      continue;
    }
    if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    lines += L"\r\n";
    ++breaks;
  }
  if (FLogLines > 0) FLogPending += L"\r\n";
  FLogPending += lines;
  FLogLines += breaks + 1;
  BeginLogFrame();
}

void TFormWindow::BeginLogFrame() {
  if (FLogFrameOpen) return;
  // However many lines come within the frame, the box takes them, lays out and draws once:
  // a run brings thousands a second, the screen shows sixty pictures.
  FLogFrameOpen = true;
  FLogFrameStart = GetTickCount64();
  ::SetTimer(FWindow, kLogFrameTimer, static_cast<UINT>(FLogFrameGap), nullptr);
}

void TFormWindow::EndOverdueLogFrame() {
  // The system brings a timer's tick only when no posted message waits, and a run posts
  // without pause: the frame is ended here as well once it is due.
  if (FLogFrameOpen && GetTickCount64() - FLogFrameStart >= FLogFrameGap) EndLogFrame();
}

void TFormWindow::EndLogFrame() {
  if (!FLogFrameOpen) return;
  FLogFrameOpen = false;
  ::KillTimer(FWindow, kLogFrameTimer);
  const ULONGLONG began = GetTickCount64();
  SendMessageW(FLog, WM_SETREDRAW, FALSE, 0);
  if (FLogClearPending) {
    SetWindowTextW(FLog, L"");
    FLogClearPending = false;
  }
  if (!FLogPending.empty()) {
    const WPARAM end = static_cast<WPARAM>(GetWindowTextLengthW(FLog));
    SendMessageW(FLog, EM_SETSEL, end, static_cast<LPARAM>(end));
    SendMessageW(FLog, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(FLogPending.c_str()));
    std::wstring().swap(FLogPending);
  }
  // The newest line, from its start, whatever the operator had scrolled to.
  const LRESULT last = SendMessageW(FLog, EM_GETLINECOUNT, 0, 0) - 1;
  const LRESULT start = SendMessageW(FLog, EM_LINEINDEX, static_cast<WPARAM>(std::max<LRESULT>(last, 0)), 0);
  SendMessageW(FLog, EM_SETSEL, static_cast<WPARAM>(start), start);
  SendMessageW(FLog, EM_SCROLLCARET, 0, 0);
  SendMessageW(FLog, WM_SETREDRAW, TRUE, 0);
  // Drawn now rather than when the queue is empty, which during a run it seldom is.
  RedrawWindow(FLog, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  // While the box takes and draws its lines, the run waits for its next hand-over. Where
  // that is slow (a remote session, a busy machine, Wine), frames come further apart, so
  // that the box takes at most a fifth of the main thread's time from the run.
  FLogFrameGap = std::max<ULONGLONG>(kLogFrameMs, 4 * (GetTickCount64() - began));
}

// --- TFormView: the desktop ---

void TFormWindow::ShowError(const std::string& title, const std::string& text) {
  MessageBoxW(FWindow, GbkToWide(text).c_str(), GbkToWide(title).c_str(), MB_OK | MB_ICONSTOP);
}

void TFormWindow::ShowWarning(const std::string& title, const std::string& text) {
  MessageBoxW(FWindow, GbkToWide(text).c_str(), GbkToWide(title).c_str(), MB_OK | MB_ICONWARNING);
}

void TFormWindow::OpenDocument(const std::string& document) {
  ShellExecuteW(FWindow, L"open", Utf8ToWide(document).c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
}

std::string TFormWindow::ChooseFolder(const std::string& title, const std::string& start) {
  const std::wstring caption = GbkToWide(title);
  const std::wstring from = Utf8ToWide(start);
  std::string chosen;
  IFileOpenDialog* dialog = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) {
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(caption.c_str());
    IShellItem* folder = nullptr;
    if (!from.empty() && SUCCEEDED(SHCreateItemFromParsingName(from.c_str(), nullptr, IID_PPV_ARGS(&folder)))) {
      dialog->SetFolder(folder);
      folder->Release();
    }
    IShellItem* result = nullptr;
    if (SUCCEEDED(dialog->Show(FWindow)) && SUCCEEDED(dialog->GetResult(&result))) {
      PWSTR path = nullptr;
      if (SUCCEEDED(result->GetDisplayName(SIGDN_FILESYSPATH, &path)) && path) chosen = WideToUtf8(path);
      CoTaskMemFree(path);
      result->Release();
    }
    dialog->Release();
    return chosen;
  }
  // Without the item dialog: the shell's older folder browser.
  TBrowseStart browse{caption, from};
  BROWSEINFOW info{};
  info.hwndOwner = FWindow;
  info.lpszTitle = caption.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(&browse);
  if (PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&info)) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(list, path)) chosen = WideToUtf8(path);
    CoTaskMemFree(list);
  }
  return chosen;
}

void TFormWindow::AddTrayIcon() {
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof(icon);
  icon.hWnd = FWindow;
  icon.uID = kTrayIconId;
  icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  icon.uCallbackMessage = kTrayMessage;
  icon.hIcon = FIconSmall;
  lstrcpynW(icon.szTip, GbkToWide(FormTexts::FormCaption).c_str(), ARRAYSIZE(icon.szTip));
  // The taskbar announces itself again after a change of DPI too, when the icon is still
  // there: it is then updated rather than added.
  FTrayShown = Shell_NotifyIconW(NIM_ADD, &icon) || Shell_NotifyIconW(NIM_MODIFY, &icon);
}

void TFormWindow::ShowTrayMenu() {
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, kMenuShow, GbkToWide(FormTexts::TrayShow).c_str());
  // As the button does: nothing while a run is in progress.
  AppendMenuW(menu, MF_STRING | (RunButtonEnabled() ? 0u : MF_GRAYED), kMenuRunNow,
              GbkToWide(FormTexts::ExecuteNow).c_str());
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kMenuQuit, GbkToWide(FormTexts::TrayQuit).c_str());
  POINT at{};
  GetCursorPos(&at);
  // Without the form in front, the menu would not close when the operator clicks elsewhere.
  SetForegroundWindow(FWindow);
  const auto chosen = static_cast<UINT>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, 0, FWindow, nullptr));
  PostMessageW(FWindow, WM_NULL, 0, 0);
  DestroyMenu(menu);
  switch (chosen) {
    case kMenuShow: FLogic->TrayDoubleClicked(); break;
    case kMenuRunNow:
      if (RunButtonEnabled()) FLogic->RunNowClicked();
      break;
    case kMenuQuit: PostMessageW(FWindow, WM_CLOSE, 0, 0); break;
    default: break;
  }
}

bool TFormWindow::TrayAvailable() {
  // The icon lives in the taskbar's notification area; without the taskbar it shows nowhere.
  return FTrayShown && FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr;
}

void TFormWindow::HideToTray() {
  ShowWindow(FWindow, SW_HIDE);
  ::SetTimer(FWindow, kTrayWatchTimer, kTrayWatchMs, nullptr);
}

void TFormWindow::RestoreWindow() {
  ::KillTimer(FWindow, kTrayWatchTimer);
  ShowWindow(FWindow, IsIconic(FWindow) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(FWindow);
}

void TFormWindow::ShowMinimized() {
  ::KillTimer(FWindow, kTrayWatchTimer);
  ShowWindow(FWindow, SW_SHOWMINNOACTIVE);
}

void TFormWindow::CloseWindow() { PostMessageW(FWindow, WM_CLOSE, 0, 0); }

void TFormWindow::HideTrayIcon() {
  FTrayWanted = false;
  if (!FTrayShown) return;
  NOTIFYICONDATAW icon{};
  icon.cbSize = sizeof(icon);
  icon.hWnd = FWindow;
  icon.uID = kTrayIconId;
  Shell_NotifyIconW(NIM_DELETE, &icon);
  FTrayShown = false;
}

// --- TFormView: the main thread ---

void TFormWindow::Post(std::function<void()> op) {
  std::function<void()> dropped;
  {
    std::lock_guard<std::mutex> guard(FPostLock);
    if (!FPostTarget) {
      dropped = std::move(op);  // freed outside the lock
    } else {
      FPosts.push_back(std::move(op));
      // One wake at a time is on its way; it serves every op queued before it is handled.
      if (!FWakePosted) FWakePosted = PostMessageW(FPostTarget, kPostMessage, 0, 0) != FALSE;
    }
  }
}

void TFormWindow::ServePosts() {
  std::size_t due = 0;
  {
    std::lock_guard<std::mutex> guard(FPostLock);
    due = FPosts.size();
    FWakePosted = false;
  }
  // The ops queued when the wake came, oldest first, one at a time: an op that serves events
  // itself (a box, a wait) finds the rest still queued, in their order.
  while (due-- > 0) {
    std::function<void()> op;
    {
      std::lock_guard<std::mutex> guard(FPostLock);
      if (!FPostTarget || FPosts.empty()) break;
      op = std::move(FPosts.front());
      FPosts.pop_front();
    }
    op();
  }
  EndOverdueLogFrame();
}

void TFormWindow::ServeUntil(const std::function<bool()>& done) {
  bool quit = false;
  WPARAM status = 0;
  while (!done()) {
    MSG message{};
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      // The program is to end, but only after this wait: the request is kept for the loop
      // that waits for it.
      quit = true;
      status = message.wParam;
      continue;
    }
    Dispatch(message);
  }
  if (quit) PostQuitMessage(static_cast<int>(status));
}
