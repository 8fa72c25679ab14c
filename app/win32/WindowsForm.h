#pragma once
// The program's form on Windows: lorvane.exe opens it when no --once is given, as the
// program lorvane-form is opened on Linux.

// Opens the form on the settings folder that --home names, or on the default one (made
// when missing), and serves it until it is closed. Returns the exit status: 0 when the form
// was closed; 2 when it could not be opened (--home names no folder, the settings cannot be
// read); 3 when another form already has the same settings folder. main() has checked the
// arguments.
int OpenWindowsForm();
