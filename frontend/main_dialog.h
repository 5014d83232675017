// The Windows program: the entry point, the main dialog IDD_MAIN and the sink that writes
// each finished texture into the chosen folder. Everything runs on the one UI thread.
//
// The ids are shared with the resource script (main_dialog.rc), so they are macros, and
// the rest of this header is hidden from the resource compiler.
#pragma once

#ifndef RC_INVOKED
#include <windows.h>
#endif

#define IDD_MAIN 101
// The program's icon: the first icon resource, which Explorer shows for the .exe.
#define IDI_ORBILUNE 1

#define IDC_BROWSE_IMAGE 3
#define IDC_BROWSE_DIR 4
#define IDC_BILINEAR 1001
#define IDC_IMAGE_PATH 1002
// winuser.h gives IDC_SIZE to an old system cursor; here it is the size list.
#undef IDC_SIZE
#define IDC_SIZE 1004
#define IDC_OUTPUT_DIR 1005
#define IDC_PROGRESS 1006

#ifndef RC_INVOKED

#include <string>

#include "texture_job.h"

// The front end's process-wide state, zero at start.
struct FrontEndState {
    // The one job block. Its imagePath and outputDir (UTF-8) are also the dialog's memory of
    // the current choices; the path fields only show shortened copies.
    TextureJob job;
    // The main dialog once initialised, else null: owner of the sink's message boxes and
    // the window that holds the progress bar.
    HWND dialog;
};
extern FrontEndState frontEnd;

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Enables or disables the six interactive controls and shows the system cursor `cursor`
// (IDC_WAIT, IDC_ARROW).
void setBusy(HWND dialog, BOOL enable, LPCSTR cursor);

// Shows `path` (UTF-8) in the control, shortened with an ellipsis to what the control shows
// of a line in its own font.
void showCompactPath(HWND dialog, int controlId, const char* path);

// The FileSink: writes the image as <outputDir>\<fileName> and steps the progress bar.
// Returns 1 when the whole file was written, 0 (after telling the user) otherwise.
int writeTextureFile(const char* fileName, const unsigned char* bytes, std::size_t byteCount);

// <folder>\<fileName> in UTF-8, joined unchanged (a drive root gives two backslashes in a
// row). Returns false, with `out` empty, when the joined path is not under MAX_PATH UTF-16
// units, where Windows' file functions stop without long paths.
bool joinOutputPath(std::string& out, const char* folder, const char* fileName);

// A copy of `path` that fits in MAX_PATH UTF-16 units; a longer path keeps its root and its
// tail around "...", cut at backslashes where it can and never inside a surrogate pair.
void fitPathForDisplay(wchar_t (&out)[MAX_PATH], const std::wstring& path);

#endif  // RC_INVOKED
