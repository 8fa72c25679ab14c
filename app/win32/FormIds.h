#pragma once
// The Windows form's window class and the ids of its controls: the form finds its controls
// by them, and so does the probe the Windows tests drive the form with.

// The form's window class; its caption is FormTexts::FormCaption.
inline constexpr wchar_t kFormWindowClass[] = L"LorvaneForm";

enum : int {
  kIdLog = 100,       // meLog
  kIdSrcPath = 101,   // edSrcPath
  kIdSzSrcPath = 102, // edSzSrcPath
  kIdDesPath = 103,   // edDesPath
  kIdSzDesPath = 104, // edSzDesPath
  kIdInterval = 105,  // edInternal
  kIdMakeIndex = 110, // RadioButton1
  kIdNoIndex = 111,   // RadioButton2
  kIdRunNow = 120,    // Button2, execute now
  kIdSave = 121,      // Button1, save
  kIdStatus = 130,    // RzMStatus
  kIdFirstLabel = 140,
  kIdBrowse = 150,    // the browse buttons of the directory fields, 150 to 153 in the fields' order
};

// The notification icon's messages to the form (uCallbackMessage), its lParam the mouse
// message, as the shell sends them.
inline constexpr unsigned kTrayMessage = 0x8000 + 2;  // WM_APP + 2
