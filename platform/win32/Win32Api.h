#pragma once
// <windows.h> for the platform's own files. Its generic-text names DeleteFile, MoveFile and
// CopyFile are macros that would rename TPlatform's operations of the same names; every
// call here names the wide function itself.

#include <windows.h>

#undef DeleteFile
#undef MoveFile
#undef CopyFile
