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

#include "texture_job.h"
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
// the list.
constexpr char kImageFilter[] =
    "Images (bmp,jpg,pcx,png,tif)\0*.bmp;*.jpg;*.pcx;*.png;*.tif\0"
    "All Files (*.*)\0*.*\0";

// The controls a run disables, in the order they are switched.
constexpr int kInteractiveControls[] = {
    IDOK, IDCANCEL, IDC_SIZE, IDC_BILINEAR, IDC_BROWSE_IMAGE, IDC_BROWSE_DIR,
};

// Remove, and look at keyboard, mouse-move and mouse-button messages only (0x70001).
constexpr UINT kDiscardInput = PM_REMOVE | ((QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON) << 16);

constexpr const char* kNoneSelected = "(none selected)";

// How much of a too-long path's beginning survives fitPathForDisplay.
constexpr std::size_t kDisplayHeadLimit = 64;
constexpr char kEllipsis[] = "...";

BOOL onInitDialog(HWND dialog)
{
    frontEnd.dialog = dialog;
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

void onBrowseImage(HWND dialog)
{
    TextureJob& job = frontEnd.job;
    job.imagePath[0] = '\0';
    OPENFILENAMEA request = {};
    request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;  // without the Windows 2000 fields
    request.hwndOwner = dialog;
    request.lpstrFilter = kImageFilter;
    request.nFilterIndex = 1;
    request.lpstrFile = job.imagePath;
    request.nMaxFile = kImagePathCapacity - 1;
    request.Flags = OFN_NOCHANGEDIR | OFN_FILEMUSTEXIST | OFN_NONETWORKBUTTON;
    if (GetOpenFileNameA(&request)) {
        showCompactPath(dialog, IDC_IMAGE_PATH, job.imagePath);
        return;
    }
    // Cancelled, or failed: a buffer that was too small holds the size it needed, not a path.
    job.imagePath[0] = '\0';
}

void onBrowseDir(HWND dialog)
{
    BROWSEINFOA request = {};
    request.hwndOwner = dialog;
    request.ulFlags = BIF_RETURNONLYFSDIRS;
    const ShellItemList chosen(SHBrowseForFolderA(&request));
    if (!chosen)
        return;
    if (SHGetPathFromIDListA(chosen.get(), frontEnd.job.outputDir))
        showCompactPath(dialog, IDC_OUTPUT_DIR, frontEnd.job.outputDir);
}

int selectedFaceSize(HWND dialog)
{
    HWND sizes = GetDlgItem(dialog, IDC_SIZE);
    const LRESULT index = SendMessageA(sizes, CB_GETCURSEL, 0, 0);
    return static_cast<int>(SendMessageA(sizes, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
}

// PathSetDlgItemPathA shortens in a MAX_PATH buffer, so a longer path is fitted first.
void showImagePath(HWND dialog)
{
    char shown[MAX_PATH];
    fitPathForDisplay(shown, frontEnd.job.imagePath);
    PathSetDlgItemPathA(dialog, IDC_IMAGE_PATH, shown);
}

// Keyboard and mouse input that arrived while the run kept the window inert would act on
// the dialog afterwards; it is thrown away instead.
void discardQueuedInput(HWND dialog)
{
    MSG message;
    while (PeekMessageA(&message, dialog, 0, 0, kDiscardInput)) {
    }
}

void onGo(HWND dialog)
{
    TextureJob& job = frontEnd.job;
    if (!PathFileExistsA(job.imagePath)) {
        reportError(dialog, messages::kFileMissing);
        return;
    }
    if (!PathFileExistsA(job.outputDir)) {
        reportError(dialog, messages::kDirectoryMissing);
        return;
    }
    job.bilinear = IsDlgButtonChecked(dialog, IDC_BILINEAR) == BST_CHECKED ? 1 : 0;
    job.sink = writeTextureFile;
    job.faceSize = selectedFaceSize(dialog);
    showImagePath(dialog);
    // Ten steps of the default step 10 fill the default range 0-100 from empty.
    SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    setBusy(dialog, FALSE, IDC_WAIT);
    job.owner = dialog;
    runTextureJob(job);  // failures were shown already; the dialog goes back to idle either way
    setBusy(dialog, TRUE, IDC_ARROW);
    discardQueuedInput(dialog);
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
    char shown[MAX_PATH];
    fitPathForDisplay(shown, path);
    HWND control = GetDlgItem(dialog, controlId);
    RECT client = {};
    GetClientRect(control, &client);
    {
        // Measured in the context's own default font: the control's font is not selected.
        const WindowDC dc(control);
        PathCompactPathA(dc.get(), shown, static_cast<UINT>(client.right - client.left));
    }
    SetDlgItemTextA(dialog, controlId, shown);
}

void fitPathForDisplay(char (&out)[MAX_PATH], const char* path)
{
    const std::size_t length = std::strlen(path);
    if (length < MAX_PATH) {
        std::memcpy(out, path, length + 1);
        return;
    }
    // Walked by characters, not bytes, so no double-byte character is cut in half and no
    // trail byte is taken for a backslash.
    constexpr std::size_t kTailRoom = MAX_PATH - 1 - kDisplayHeadLimit - (sizeof kEllipsis - 1);
    std::size_t head = 0;          // just after the root's backslash (C:\ or \\server\), if any
    std::size_t tail = length;     // the first backslash whose tail fits
    std::size_t firstFit = length; // the first character whose tail fits
    for (const char* at = path; *at != '\0'; at = CharNextA(at)) {
        const auto offset = static_cast<std::size_t>(at - path);
        const bool tailFits = length - offset <= kTailRoom;
        if (tailFits && firstFit == length)
            firstFit = offset;
        if (*at != '\\')
            continue;
        if (head == 0 && offset >= 2 && offset < kDisplayHeadLimit)
            head = offset + 1;
        if (tailFits && tail == length)
            tail = offset;
    }
    if (tail == length)  // the last name alone is too long: cut inside it
        tail = firstFit;
    std::memcpy(out, path, head);
    std::memcpy(out + head, kEllipsis, sizeof kEllipsis - 1);
    std::memcpy(out + head + sizeof kEllipsis - 1, path + tail, length - tail + 1);
}
