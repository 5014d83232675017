// On Windows a failure is a modal warning message box with the caption "Error".
#include <windows.h>

#include "error_report.h"

void reportErrorByDefault(void* owner, const char* message)
{
    MessageBoxA(static_cast<HWND>(owner), message, "Error", MB_OK | MB_ICONWARNING);
}
