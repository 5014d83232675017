// The main dialog: its data, its procedure and one small handler per command.
//
// A run happens inside the "Go!" handler on the UI thread: the controls are disabled and
// the wait cursor shown, so the window stays inert until the ten textures are written.
#include "main_dialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "error_report.h"
#include "texture_job.h"
#include "utf8.h"
#include "win32_handles.h"

FrontEndState frontEnd;

namespace {

struct SizeEntry {
    const char* label;
    int faceSize;  // the entry's item data
};
constexpr SizeEntry kSizeEntries[] = {
    {"512x512", 512},
    {"1024x1024", 1024},
    {"2048x2048", 2048},
};

// Pairs of description and pattern, each ended by a zero; the literal's own zero ends
// the list. "Images" lists what GDI+ turns into a bitmap, under every name those formats
// go by: BMP, GIF, icons, JPEG, PNG and TIFF. Not PCX or WebP, which GDI+ has no decoder
// for, nor metafiles (EMF, WMF), which are drawings that Wine's GDI+ will not open as a
// bitmap. (The original list offered PCX and hid .jpeg, .tiff and GIF files.)
constexpr wchar_t kImageFilter[] =
    L"Images (bmp,dib,gif,ico,jfif,jpe,jpeg,jpg,png,tif,tiff)\0"
    L"*.bmp;*.dib;*.gif;*.ico;*.jfif;*.jpe;*.jpeg;*.jpg;*.png;*.tif;*.tiff\0"
    L"All Files (*.*)\0*.*\0";

// The controls a run disables, in the order they are switched.
constexpr int kInteractiveControls[] = {
    IDOK, IDCANCEL, IDC_SIZE, IDC_BILINEAR, IDC_BROWSE_IMAGE, IDC_BROWSE_DIR,
};

// Remove, and look at keyboard, mouse-move and mouse-button messages only (0x70001).
constexpr UINT kDiscardInput = PM_REMOVE | ((QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON) << 16);

constexpr const char* kNoneSelected = "(none selected)";

// How much of a too-long path's beginning survives fitPathForDisplay.
constexpr std::size_t kDisplayHeadLimit = 64;
constexpr wchar_t kEllipsis[] = L"...";
constexpr std::size_t kEllipsisLength = sizeof kEllipsis / sizeof kEllipsis[0] - 1;

// The program's icon at the size the system shows in the caption (small) and in the task
// bar and Alt+Tab (big). The template has no say in it; the icons live as long as the program.
void showProgramIcon(HWND dialog)
{
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    auto load = [instance](int width, int height) {
        return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_ORBILUNE), IMAGE_ICON,
                                             GetSystemMetrics(width), GetSystemMetrics(height), 0));
    };
    static const OwnedIcon big(load(SM_CXICON, SM_CYICON));
    static const OwnedIcon small(load(SM_CXSMICON, SM_CYSMICON));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big.get()));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small.get()));
}

BOOL onInitDialog(HWND dialog)
{
    frontEnd.dialog = dialog;
    showProgramIcon(dialog);
    HWND sizes = GetDlgItem(dialog, IDC_SIZE);
    for (const SizeEntry& entry : kSizeEntries) {
        const LRESULT index = SendMessageA(sizes, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.label));
        SendMessageA(sizes, CB_SETITEMDATA, static_cast<WPARAM>(index), entry.faceSize);
    }
    SendDlgItemMessageA(dialog, IDC_SIZE, CB_SETCURSEL, 0, 0);
    SetDlgItemTextA(dialog, IDC_IMAGE_PATH, kNoneSelected);
    SetDlgItemTextA(dialog, IDC_OUTPUT_DIR, kNoneSelected);
    return TRUE;  // the dialog manager focuses the first tab stop, "Go!"
}

// Copies `wide` into `out` as UTF-8 if it converts and fits with its terminator; else
// leaves `out` alone.
template <std::size_t kCapacity>
bool storeUtf8(char (&out)[kCapacity], const wchar_t* wide)
{
    const std::string utf8 = wideToUtf8(wide);
    if (utf8.empty() || utf8.size() >= kCapacity)
        return false;
    std::memcpy(out, utf8.c_str(), utf8.size() + 1);
    return true;
}

void onBrowseImage(HWND dialog)
{
    TextureJob& job = frontEnd.job;
    // A path whose UTF-8 fits the job has no more UTF-16 units than bytes.
    wchar_t chosen[kImagePathCapacity] = {};
    OPENFILENAMEW request = {};
    request.lStructSize = OPENFILENAME_SIZE_VERSION_400W;  // without the Windows 2000 fields
    request.hwndOwner = dialog;
    request.lpstrFilter = kImageFilter;
    request.nFilterIndex = 1;
    request.lpstrFile = chosen;
    request.nMaxFile = kImagePathCapacity;
    request.Flags = OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON;
    // Cancelled, failed, or too long for the job in UTF-8: the previous choice stands, in the
    // job as in the field, as with the folder. (The original dialog emptied the job's path
    // before asking, so that Go! refused the picture the field still showed.)
    if (GetOpenFileNameW(&request) && storeUtf8(job.imagePath, chosen))
        showCompactPath(dialog, IDC_IMAGE_PATH, job.imagePath);
}

void onBrowseDir(HWND dialog)
{
    BROWSEINFOW request = {};
    request.hwndOwner = dialog;
    request.ulFlags = BIF_RETURNONLYFSDIRS;
    const ShellItemList chosen(SHBrowseForFolderW(&request));
    if (!chosen)
        return;
    wchar_t folder[MAX_PATH] = {};
    if (SHGetPathFromIDListW(chosen.get(), folder) && storeUtf8(frontEnd.job.outputDir, folder))
        showCompactPath(dialog, IDC_OUTPUT_DIR, frontEnd.job.outputDir);
}

int selectedFaceSize(HWND dialog)
{
    HWND sizes = GetDlgItem(dialog, IDC_SIZE);
    const LRESULT index = SendMessageA(sizes, CB_GETCURSEL, 0, 0);
    return static_cast<int>(SendMessageA(sizes, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

bool pathExists(const char* path)
{
    const std::wstring wide = utf8ToWide(path);
    return !wide.empty() && PathFileExistsW(wide.c_str());
}

// After Go!, whatever came of it, the focus is on Go!, so that Enter, Space and Tab work
// from there without the mouse. A run disables the focused button, which leaves the
// keyboard nowhere, and a message box gives the focus back, as it closes, to the first
// enabled tab stop (under Wine the image path field, while the run's controls are
// disabled) or to the field where Enter was pressed. (The original dialog moved the focus only when it was
// nowhere or on a disabled control, so after a failed run it stayed in the path field.)
void focusGo(HWND dialog)
{
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDOK)), TRUE);
}

// Keyboard and mouse input that arrived while the run kept the window inert would act on
// the dialog afterwards; it is thrown away instead.
void discardQueuedInput(HWND dialog)
{
    MSG message;
    while (PeekMessageA(&message, dialog, 0, 0, kDiscardInput)) {
    }
}

// Checks the choices, then runs the job; every message is shown and closed on return.
void checkAndRun(HWND dialog)
{
    TextureJob& job = frontEnd.job;
    if (!pathExists(job.imagePath)) {
        reportError(dialog, messages::kFileMissing);
        return;
    }
    if (!pathExists(job.outputDir)) {
        reportError(dialog, messages::kDirectoryMissing);
        return;
    }
    job.filter = IsDlgButtonChecked(dialog, IDC_BILINEAR) == BST_CHECKED ? TextureFilter::Bilinear
                                                                        : TextureFilter::Nearest;
    job.sink = writeTextureFile;
    job.faceSize = selectedFaceSize(dialog);
    showCompactPath(dialog, IDC_IMAGE_PATH, job.imagePath);
    // Ten steps of the default step 10 fill the default range 0-100 from empty.
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    setBusy(dialog, FALSE, IDC_WAIT);
    job.owner = dialog;
    runTextureJob(job);  // failures were shown already; the dialog goes back to idle either way
    setBusy(dialog, TRUE, IDC_ARROW);
    discardQueuedInput(dialog);
}

void onGo(HWND dialog)
{
    checkAndRun(dialog);
    focusGo(dialog);
}

}  // namespace

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return onInitDialog(dialog);
    case WM_COMMAND:
        // Dispatched on the id alone; the notification code is not looked at.
        switch (LOWORD(wParam)) {
        case IDOK:
            onGo(dialog);
            break;
        case IDCANCEL:
            EndDialog(dialog, 1);
            break;
        case IDC_BROWSE_IMAGE:
            onBrowseImage(dialog);
            break;
        case IDC_BROWSE_DIR:
            onBrowseDir(dialog);
            break;
        default:
            break;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void setBusy(HWND dialog, BOOL enable, LPCSTR cursor)
{
    for (int id : kInteractiveControls)
        EnableWindow(GetDlgItem(dialog, id), enable);
    SetCursor(LoadCursorA(nullptr, cursor));
}

void showCompactPath(HWND dialog, int controlId, const char* path)
{
    wchar_t shown[MAX_PATH];
    fitPathForDisplay(shown, utf8ToWide(path));
    HWND control = GetDlgItem(dialog, controlId);
    // What the field shows of a line: its client area less its margins, in its own font.
    RECT client = {};
    GetClientRect(control, &client);
    const auto margins = static_cast<DWORD>(SendMessageW(control, EM_GETMARGINS, 0, 0));
    const int width = client.right - client.left - LOWORD(margins) - HIWORD(margins);
    {
        const WindowDC dc(control);
        const SelectedObject font(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
        PathCompactPathW(dc.get(), shown, static_cast<UINT>(width > 0 ? width : 0));
    }
    SetWindowTextW(control, shown);
}

void fitPathForDisplay(wchar_t (&out)[MAX_PATH], const std::wstring& path)
{
    const std::size_t length = path.size();
    if (length < MAX_PATH) {
        std::wmemcpy(out, path.c_str(), length + 1);
        return;
    }
    constexpr std::size_t kTailRoom = MAX_PATH - 1 - kDisplayHeadLimit - kEllipsisLength;
    std::size_t head = 0;          // just after the root's backslash (C:\ or \\server\), if any
    std::size_t tail = length;     // the first backslash whose tail fits
    std::size_t firstFit = length; // the first letter whose tail fits
    for (std::size_t at = 0; at < length; ++at) {
        if ((path[at] & 0xFC00) == 0xDC00)  // the second half of a surrogate pair: no place to cut
            continue;
        const bool tailFits = length - at <= kTailRoom;
        if (tailFits && firstFit == length)
            firstFit = at;
        if (path[at] != L'\\')
            continue;
        if (head == 0 && at >= 2 && at < kDisplayHeadLimit)
            head = at + 1;
        if (tailFits && tail == length)
            tail = at;
    }
    if (tail == length)  // the last name alone is too long: cut inside it
        tail = firstFit;
    std::wmemcpy(out, path.c_str(), head);
    std::wmemcpy(out + head, kEllipsis, kEllipsisLength);
    std::wmemcpy(out + head + kEllipsisLength, path.c_str() + tail, length - tail + 1);
}
