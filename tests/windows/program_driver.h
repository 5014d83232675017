// Drives the real orbilune.exe from outside, as a person would: it finds the program's
// windows by their captions, presses buttons, fills in the common dialogs, moves the mouse
// and presses keys, and reads back what the windows show. Every wait is bounded.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dialog_driver {

// The main dialog's controls, by the ids the program promises.
constexpr int kGo = IDOK;
constexpr int kExit = IDCANCEL;
constexpr int kBrowseImage = 3;
constexpr int kBrowseDir = 4;
constexpr int kBilinear = 1001;
constexpr int kImagePath = 1002;
constexpr int kSize = 1004;
constexpr int kOutputDir = 1005;
constexpr int kProgress = 1006;

constexpr DWORD kPatience = 30000;  // ms for anything the program is asked to do

// Polls `condition` until it holds or `timeoutMs` pass.
bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs = kPatience);

std::string windowText(HWND window);
std::wstring wideWindowText(HWND window);
std::string windowClass(HWND window);

// The file beside this test program, such as "orbilune.exe".
std::wstring besideThisProgram(const wchar_t* fileName);

// "Z:\..." for a Unix path (Wine maps / to Z:), any other path unchanged.
std::wstring windowsPath(const std::string& path);
std::string narrow(const std::wstring& text);  // to the system code page

// A message box as the user sees it.
struct MessageBoxSeen {
    std::string text;
    HWND owner = nullptr;
    int buttonCount = 0;
    std::string buttonText;  // of the first button
    int buttonId = 0;
    const char* icon = "";   // the nearest system icon: "warning", "error", "information", "question"
};

class Program {
public:
    // Starts the program (orbilune.exe, or a build of it) from beside this test program and
    // waits for its dialog.
    explicit Program(const wchar_t* fileName = L"orbilune.exe");
    // Ends the program if it still runs.
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    HWND dialog() const { return dialog_; }
    HWND item(int id) const;
    std::string text(int id) const;
    std::wstring wideText(int id) const;
    bool enabled(int id) const;
    LRESULT send(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    // BM_CLICK, posted: the handler may open a modal window of its own.
    void click(int id) const;

    // A visible top-level window of the program with this caption, or null after the wait.
    HWND waitForWindow(const char* caption, DWORD timeoutMs = kPatience) const;
    bool hasWindow(const char* caption) const;
    // Waits for the "Error" message box, reads it, presses its button and waits for it to go.
    MessageBoxSeen readError();

    // Chooses a file through the real file-open dialog, by typing its path.
    void chooseImage(const std::wstring& path);
    // Opens the file-open dialog and cancels it; `fileTypes`, if given, receives the
    // entries of its file type list.
    void cancelImageBrowser(std::vector<std::string>* fileTypes = nullptr);
    // Opens the file-open dialog, goes into `folder` (by typing its path) and cancels it;
    // `names` receives the names its file list shows there with the first file type chosen.
    void listImageBrowser(const std::wstring& folder, std::vector<std::wstring>& names);
    // Chooses a folder through the real folder browser, by walking its tree.
    void chooseFolder(const std::wstring& path);
    void cancelFolderBrowser();

    // Presses "Go!" and waits until the controls are enabled again.
    void runToIdle();
    bool waitUntilIdle(DWORD timeoutMs = kPatience) const;
    bool busy() const { return !enabled(kGo); }

    // Makes the dialog the foreground window, where real keys and clicks go.
    void activate() const;
    void pressKey(WORD virtualKey) const;
    void clickAt(POINT screen) const;
    void moveTo(POINT screen) const;
    POINT centreOf(int id) const;
    // A point of the dialog's own background, over no control.
    POINT background() const;
    // A point of the caption's close box.
    POINT closeBox() const;
    // How far what the caption shows in its system menu box is from each of `icons` at the
    // system's small icon size, at the best place in the box: sums of channel differences.
    std::vector<std::uint64_t> captionIconDistances(const std::vector<HICON>& icons) const;
    // The control with the keyboard focus.
    HWND focus() const;
    // The cursor the program shows, as a handle of its process.
    HCURSOR cursor() const;
    // The cursor once it has stopped changing (the program sets it when it sees the mouse).
    HCURSOR settledCursor() const;

    bool running() const;
    bool waitForExit(DWORD timeoutMs = kPatience) const;

private:
    HWND findWindow(const char* caption) const;

    PROCESS_INFORMATION process_ = {};
    HWND dialog_ = nullptr;
};

// A fresh folder under the temporary folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

bool fileExists(const std::wstring& path);
// FNV-1a (64 bits) of a whole file; 0 when it cannot be read.
std::uint64_t fileHash(const std::wstring& path);
void removeTree(const std::wstring& path);

}  // namespace dialog_driver
