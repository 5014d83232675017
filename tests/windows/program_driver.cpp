#include "program_driver.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

namespace dialog_driver {

namespace {

constexpr const char* kDialogCaption = "Orbilune v1.0";
constexpr int kFileNameCombo = 0x47c;  // cmb13 of the file-open dialog
constexpr int kFileNameEdit = 0x480;   // edt1, in dialogs without the combo
constexpr int kFileTypeList = 0x470;   // cmb1

struct WindowSearch {
    DWORD processId;
    const char* caption;
    HWND found;
};

BOOL CALLBACK matchTopLevel(HWND window, LPARAM context)
{
    auto& search = *reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search.processId || !IsWindowVisible(window))
        return TRUE;
    char caption[256] = {};
    GetWindowTextA(window, caption, sizeof caption);
    if (std::strcmp(caption, search.caption) != 0)
        return TRUE;
    search.found = window;
    return FALSE;
}

// The first descendant of `parent` of the class, and with the id unless it is 0.
HWND findDescendant(HWND parent, const char* className, int id = 0)
{
    struct Search {
        const char* className;
        int id;
        HWND found;
    } search{className, id, nullptr};
    EnumChildWindows(
        parent,
        [](HWND window, LPARAM context) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(context);
            if (windowClass(window) == s.className && (s.id == 0 || GetDlgCtrlID(window) == s.id)) {
                s.found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> children(HWND parent)
{
    std::vector<HWND> found;
    EnumChildWindows(
        parent,
        [](HWND window, LPARAM context) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Sends in the background: the handler of a button may run a modal loop (a run, a common
// dialog, a message box) for as long as the test needs to act on it.
std::atomic<int> pendingSends{0};

void sendInBackground(HWND window, UINT message)
{
    ++pendingSends;
    std::thread([window, message] {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, message, 0, 0, SMTO_NORMAL, 10 * 60 * 1000, &result);
        --pendingSends;
    }).detach();
}

// Pixels of a screen rectangle or of an icon drawn on a plain background, as 0x00RRGGBB.
class Pixels {
public:
    Pixels(int width, int height) : width_(width), height_(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        screen_ = GetDC(nullptr);
        memory_ = CreateCompatibleDC(screen_);
        bitmap_ = CreateDIBSection(screen_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        previous_ = SelectObject(memory_, bitmap_);
    }
    ~Pixels()
    {
        SelectObject(memory_, previous_);
        DeleteObject(bitmap_);
        DeleteDC(memory_);
        ReleaseDC(nullptr, screen_);
    }
    Pixels(const Pixels&) = delete;
    Pixels& operator=(const Pixels&) = delete;

    void grab(const RECT& area)
    {
        BitBlt(memory_, 0, 0, width_, height_, screen_, area.left, area.top, SRCCOPY);
        GdiFlush();
    }
    void drawIcon(HICON icon, std::uint32_t background, int size = 0)
    {
        for (int i = 0; i < width_ * height_; ++i)
            bits_[i] = background;
        DrawIconEx(memory_, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
        GdiFlush();
    }
    std::uint32_t at(int i) const { return bits_[i] & 0xFFFFFFu; }
    int count() const { return width_ * height_; }

    std::uint64_t distance(const Pixels& other) const
    {
        std::uint64_t sum = 0;
        for (int i = 0; i < count(); ++i)
            for (int shift = 0; shift < 24; shift += 8) {
                const int a = static_cast<int>((at(i) >> shift) & 0xFFu);
                const int b = static_cast<int>((other.at(i) >> shift) & 0xFFu);
                sum += static_cast<std::uint64_t>(a > b ? a - b : b - a);
            }
        return sum;
    }

private:
    int width_;
    int height_;
    HDC screen_;
    HDC memory_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
    std::uint32_t* bits_ = nullptr;
};

// Which system icon the icon control shows, judged by its pixels on the screen.
const char* nearestSystemIcon(HWND iconControl)
{
    struct Candidate {
        LPCSTR id;
        const char* name;
    };
    const Candidate candidates[] = {
        {IDI_WARNING, "warning"},
        {IDI_ERROR, "error"},
        {IDI_INFORMATION, "information"},
        {IDI_QUESTION, "question"},
    };
    RECT area = {};
    GetWindowRect(iconControl, &area);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return "none";
    const char* nearest = "none";
    // The box may not be painted yet: look again until one icon matches exactly.
    for (int attempt = 0; attempt < 20; ++attempt) {
        Pixels shown(width, height);
        shown.grab(area);
        std::uint64_t best = UINT64_MAX;
        for (const Candidate& candidate : candidates) {
            Pixels drawn(width, height);
            drawn.drawIcon(LoadIconA(nullptr, candidate.id), shown.at(0));
            const std::uint64_t distance = shown.distance(drawn);
            if (distance < best) {
                best = distance;
                nearest = candidate.name;
            }
        }
        if (best == 0)
            break;
        Sleep(100);
    }
    return nearest;
}

// Remote memory in the program for the tree view messages that carry pointers.
class RemoteBuffer {
public:
    RemoteBuffer(DWORD processId, std::size_t bytes)
        : process_(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId))
    {
        if (process_ != nullptr)
            address_ = static_cast<char*>(VirtualAllocEx(process_, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE));
    }
    ~RemoteBuffer()
    {
        if (address_ != nullptr)
            VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        if (process_ != nullptr)
            CloseHandle(process_);
    }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;
    char* address() const { return address_; }
    void write(std::size_t offset, const void* data, std::size_t bytes) const
    {
        SIZE_T done = 0;
        WriteProcessMemory(process_, address_ + offset, data, bytes, &done);
    }
    void read(std::size_t offset, void* data, std::size_t bytes) const
    {
        SIZE_T done = 0;
        ReadProcessMemory(process_, address_ + offset, data, bytes, &done);
    }

private:
    HANDLE process_;
    char* address_ = nullptr;
};

std::wstring treeItemText(HWND tree, HTREEITEM item, const RemoteBuffer& remote)
{
    constexpr std::size_t kChars = 260;
    TVITEMW request = {};
    request.mask = TVIF_TEXT;
    request.hItem = item;
    request.pszText = reinterpret_cast<LPWSTR>(remote.address() + sizeof request);
    request.cchTextMax = kChars;
    remote.write(0, &request, sizeof request);
    const wchar_t none = L'\0';
    remote.write(sizeof request, &none, sizeof none);
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.address()));
    wchar_t text[kChars + 1] = {};
    remote.read(sizeof request, text, kChars * sizeof(wchar_t));
    return text;
}

HTREEITEM treeNext(HWND tree, HTREEITEM item, WPARAM relation)
{
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
}

// The child of `parent` whose text satisfies `matches`, after expanding `parent`.
HTREEITEM treeChild(HWND tree, HTREEITEM parent, const RemoteBuffer& remote,
                    const std::function<bool(const std::wstring&)>& matches)
{
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
    for (HTREEITEM child = treeNext(tree, parent, TVGN_CHILD); child != nullptr;
         child = treeNext(tree, child, TVGN_NEXT))
        if (matches(treeItemText(tree, child, remote)))
            return child;
    return nullptr;
}

std::vector<std::wstring> splitPath(const std::wstring& path)
{
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : path) {
        if (c == L'\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

}  // namespace

bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() > end)
            return false;
        Sleep(20);
    }
}

std::string windowText(HWND window)
{
    char text[2048] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                        kPatience, &copied);
    return text;
}

std::wstring wideWindowText(HWND window)
{
    wchar_t text[2048] = {};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, sizeof text / sizeof text[0], reinterpret_cast<LPARAM>(text),
                        SMTO_NORMAL, kPatience, &copied);
    return text;
}

std::string windowClass(HWND window)
{
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::wstring windowsPath(const std::string& path)
{
    std::wstring wide(path.begin(), path.end());
    if (wide.empty() || wide[0] != L'/')
        return wide;
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    return L"Z:" + wide;
}

std::string narrow(const std::wstring& text)
{
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return out;
}

std::wstring besideThisProgram(const wchar_t* fileName)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path(self);
    return path.substr(0, path.find_last_of(L'\\') + 1) + fileName;
}

Program::Program(const wchar_t* fileName)
{
    const std::wstring program = besideThisProgram(fileName);
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process_)) {
        ADD_FAILURE() << narrow(fileName) << " did not start, error " << GetLastError();
        return;
    }
    WaitForInputIdle(process_.hProcess, kPatience);
    dialog_ = waitForWindow(kDialogCaption);
    if (dialog_ == nullptr)
        ADD_FAILURE() << "no dialog with the caption \"" << kDialogCaption << "\"";
}

Program::~Program()
{
    if (process_.hProcess == nullptr)
        return;
    if (running()) {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, kPatience);
    }
    // Background sends end with the program.
    waitFor([] { return pendingSends.load() == 0; }, 5000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

HWND Program::item(int id) const { return GetDlgItem(dialog_, id); }

std::string Program::text(int id) const { return windowText(item(id)); }

std::wstring Program::wideText(int id) const { return wideWindowText(item(id)); }

bool Program::enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }

LRESULT Program::send(int id, UINT message, WPARAM wParam, LPARAM lParam) const
{
    return SendMessageA(item(id), message, wParam, lParam);
}

void Program::click(int id) const { sendInBackground(item(id), BM_CLICK); }

HWND Program::findWindow(const char* caption) const
{
    WindowSearch search{process_.dwProcessId, caption, nullptr};
    EnumWindows(matchTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Program::waitForWindow(const char* caption, DWORD timeoutMs) const
{
    HWND found = nullptr;
    waitFor([&] { return (found = findWindow(caption)) != nullptr; }, timeoutMs);
    return found;
}

bool Program::hasWindow(const char* caption) const { return findWindow(caption) != nullptr; }

MessageBoxSeen Program::readError()
{
    MessageBoxSeen seen;
    HWND box = waitForWindow("Error");
    if (box == nullptr) {
        seen.text = "(no message box)";
        return seen;
    }
    seen.owner = GetWindow(box, GW_OWNER);
    HWND button = nullptr;
    for (HWND child : children(box)) {
        const std::string kind = windowClass(child);
        if (kind == "Button") {
            if (++seen.buttonCount == 1) {
                button = child;
                seen.buttonText = windowText(child);
                seen.buttonId = GetDlgCtrlID(child);
            }
        } else if (kind == "Static") {
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                seen.icon = nearestSystemIcon(child);
            else if (seen.text.empty())
                seen.text = windowText(child);
        }
    }
    if (button != nullptr)
        sendInBackground(button, BM_CLICK);
    waitFor([&] { return !IsWindow(box); });
    return seen;
}

void Program::chooseImage(const std::wstring& path)
{
    click(kBrowseImage);
    HWND open = waitForWindow("Open");
    ASSERT_NE(open, nullptr) << "no file-open dialog";
    HWND name = findDescendant(open, "Edit", kFileNameCombo);
    if (name == nullptr)
        name = findDescendant(open, "Edit", kFileNameEdit);
    ASSERT_NE(name, nullptr) << "no file name field in the file-open dialog";
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    sendInBackground(GetDlgItem(open, IDOK), BM_CLICK);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(open); })) << "the file-open dialog stayed open";
    ASSERT_TRUE(waitFor([] { return pendingSends.load() == 0; }));
}

void Program::cancelImageBrowser(std::vector<std::string>* fileTypes)
{
    click(kBrowseImage);
    HWND open = waitForWindow("Open");
    ASSERT_NE(open, nullptr) << "no file-open dialog";
    if (fileTypes != nullptr) {
        HWND types = GetDlgItem(open, kFileTypeList);
        const auto count = static_cast<int>(SendMessageW(types, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            wchar_t entry[256] = {};
            SendMessageW(types, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry));
            fileTypes->push_back(narrow(entry));
        }
    }
    sendInBackground(GetDlgItem(open, IDCANCEL), BM_CLICK);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(open); }));
    ASSERT_TRUE(waitFor([] { return pendingSends.load() == 0; }));
}

void Program::listImageBrowser(const std::wstring& folder, std::vector<std::wstring>& names)
{
    click(kBrowseImage);
    HWND open = waitForWindow("Open");
    ASSERT_NE(open, nullptr) << "no file-open dialog";
    HWND name = findDescendant(open, "Edit", kFileNameCombo);
    if (name == nullptr)
        name = findDescendant(open, "Edit", kFileNameEdit);
    ASSERT_NE(name, nullptr) << "no file name field in the file-open dialog";
    // A folder's path given as the file name opens the folder; the dialog stays.
    SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    // Sent from here: the move into the folder opens no window of its own, and is done
    // when the click returns.
    DWORD_PTR result = 0;
    ASSERT_TRUE(SendMessageTimeoutW(GetDlgItem(open, IDOK), BM_CLICK, 0, 0, SMTO_NORMAL, kPatience, &result))
        << "the file-open dialog did not answer";
    ASSERT_TRUE(IsWindow(open)) << "the file-open dialog closed on a folder";

    // The folder's view, made anew by the move, lists its files as it opens.
    HWND list = findDescendant(open, "SysListView32");
    ASSERT_NE(list, nullptr) << "no file list in the file-open dialog";
    DWORD processId = 0;
    GetWindowThreadProcessId(open, &processId);
    const RemoteBuffer remote(processId, 4096);
    ASSERT_NE(remote.address(), nullptr);
    constexpr std::size_t kChars = 260;
    const auto count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        LVITEMW request = {};
        request.iSubItem = 0;
        request.pszText = reinterpret_cast<LPWSTR>(remote.address() + sizeof request);
        request.cchTextMax = kChars;
        remote.write(0, &request, sizeof request);
        SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote.address()));
        wchar_t text[kChars + 1] = {};
        remote.read(sizeof request, text, kChars * sizeof(wchar_t));
        names.emplace_back(text);
    }
    sendInBackground(GetDlgItem(open, IDCANCEL), BM_CLICK);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(open); }));
    ASSERT_TRUE(waitFor([] { return pendingSends.load() == 0; }));
}

void Program::chooseFolder(const std::wstring& path)
{
    click(kBrowseDir);
    HWND browser = waitForWindow("Browse for Folder");
    ASSERT_NE(browser, nullptr) << "no folder browser";
    HWND tree = findDescendant(browser, "SysTreeView32");
    ASSERT_NE(tree, nullptr);
    const RemoteBuffer remote(process_.dwProcessId, 4096);
    ASSERT_NE(remote.address(), nullptr);

    // Desktop, then the computer (whatever it is called: the child that lists the drive),
    // then the drive and one folder per part of the path.
    const std::vector<std::wstring> parts = splitPath(path);
    ASSERT_GE(parts.size(), 1u);
    const std::wstring drive = L"(" + parts[0] + L")";
    auto isDrive = [&](const std::wstring& text) { return text.find(drive) != std::wstring::npos; };
    HTREEITEM root = treeNext(tree, nullptr, TVGN_ROOT);
    HTREEITEM at = nullptr;
    SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
    for (HTREEITEM place = treeNext(tree, root, TVGN_CHILD); place != nullptr && at == nullptr;
         place = treeNext(tree, place, TVGN_NEXT))
        at = treeChild(tree, place, remote, isDrive);
    ASSERT_NE(at, nullptr) << "no drive " << narrow(parts[0]) << " in the folder browser";
    for (std::size_t i = 1; i < parts.size(); ++i) {
        at = treeChild(tree, at, remote, [&](const std::wstring& text) {
            return CompareStringOrdinal(text.c_str(), -1, parts[i].c_str(), -1, TRUE) == CSTR_EQUAL;
        });
        ASSERT_NE(at, nullptr) << "no folder " << narrow(parts[i]) << " in the folder browser";
    }
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(at));
    sendInBackground(GetDlgItem(browser, IDOK), BM_CLICK);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(browser); })) << "the folder browser stayed open";
    ASSERT_TRUE(waitFor([] { return pendingSends.load() == 0; }));
}

void Program::cancelFolderBrowser()
{
    click(kBrowseDir);
    HWND browser = waitForWindow("Browse for Folder");
    ASSERT_NE(browser, nullptr) << "no folder browser";
    sendInBackground(GetDlgItem(browser, IDCANCEL), BM_CLICK);
    ASSERT_TRUE(waitFor([&] { return !IsWindow(browser); }));
    ASSERT_TRUE(waitFor([] { return pendingSends.load() == 0; }));
}

void Program::runToIdle()
{
    click(kGo);
    ASSERT_TRUE(waitUntilIdle()) << "the run did not end";
}

bool Program::waitUntilIdle(DWORD timeoutMs) const
{
    return waitFor([this] { return pendingSends.load() == 0 && !busy(); }, timeoutMs);
}

void Program::activate() const
{
    SetForegroundWindow(dialog_);
    waitFor([this] { return GetForegroundWindow() == dialog_; }, 5000);
}

void Program::pressKey(WORD virtualKey) const
{
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = virtualKey;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
}

void Program::moveTo(POINT screen) const
{
    INPUT mouse = {};
    mouse.type = INPUT_MOUSE;
    mouse.mi.dx = MulDiv(screen.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    mouse.mi.dy = MulDiv(screen.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    mouse.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &mouse, sizeof(INPUT));
}

POINT Program::background() const
{
    POINT corner = {2, 2};
    ClientToScreen(dialog_, &corner);
    return corner;
}

void Program::clickAt(POINT screen) const
{
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT mouse[3] = {};
    for (INPUT& input : mouse) {
        input.type = INPUT_MOUSE;
        input.mi.dx = MulDiv(screen.x, 65535, width - 1);
        input.mi.dy = MulDiv(screen.y, 65535, height - 1);
    }
    mouse[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    mouse[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
    mouse[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
    SendInput(3, mouse, sizeof(INPUT));
}

POINT Program::centreOf(int id) const
{
    RECT area = {};
    GetWindowRect(item(id), &area);
    return POINT{(area.left + area.right) / 2, (area.top + area.bottom) / 2};
}

POINT Program::closeBox() const
{
    RECT frame = {};
    GetWindowRect(dialog_, &frame);
    for (int y = frame.top; y < frame.top + 40; ++y)
        for (int x = frame.right - 1; x > frame.right - 60; --x)
            if (SendMessageA(dialog_, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE)
                return POINT{x - 3, y + 3};
    return POINT{-1, -1};
}

HWND Program::focus() const
{
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog_, nullptr), &thread);
    return thread.hwndFocus;
}

std::vector<std::uint64_t> Program::captionIconDistances(const std::vector<HICON>& icons) const
{
    RECT frame = {};
    GetWindowRect(dialog_, &frame);
    RECT box = {frame.right, frame.bottom, frame.left, frame.top};
    for (int y = frame.top; y < frame.top + 40; ++y)
        for (int x = frame.left; x < frame.left + 60; ++x)
            if (SendMessageA(dialog_, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTSYSMENU) {
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x + 1);
                box.bottom = std::max<LONG>(box.bottom, y + 1);
            }
    const int size = GetSystemMetrics(SM_CXSMICON);
    std::vector<std::uint64_t> best(icons.size(), UINT64_MAX);
    for (int y = box.top; y + size <= box.bottom; ++y)
        for (int x = box.left; x + size <= box.right; ++x) {
            Pixels shown(size, size);
            shown.grab(RECT{x, y, x + size, y + size});
            for (std::size_t i = 0; i < icons.size(); ++i) {
                Pixels drawn(size, size);
                drawn.drawIcon(icons[i], shown.at(0), size);
                best[i] = std::min(best[i], shown.distance(drawn));
            }
        }
    return best;
}

HCURSOR Program::cursor() const
{
    CURSORINFO info = {};
    info.cbSize = sizeof info;
    GetCursorInfo(&info);
    return info.hCursor;
}

HCURSOR Program::settledCursor() const
{
    HCURSOR last = cursor();
    for (int i = 0; i < 50; ++i) {
        Sleep(100);
        const HCURSOR now = cursor();
        if (now == last && now != nullptr)
            return now;
        last = now;
    }
    return last;
}

bool Program::running() const
{
    return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Program::waitForExit(DWORD timeoutMs) const
{
    return WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

ScratchFolder::ScratchFolder()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static int counter = 0;
    for (;;) {
        path_ = std::wstring(temp) + L"orbilune-dialog-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        if (CreateDirectoryW(path_.c_str(), nullptr))
            return;
    }
}

ScratchFolder::~ScratchFolder() { removeTree(path_); }

void removeTree(const std::wstring& path)
{
    std::error_code error;
    std::filesystem::remove_all(std::filesystem::path(path), error);
}

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::uint64_t fileHash(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    std::uint64_t hash = 1469598103934665603ull;
    std::vector<unsigned char> chunk(1 << 16);
    DWORD got = 0;
    while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0)
        for (DWORD i = 0; i < got; ++i)
            hash = (hash ^ chunk[i]) * 1099511628211ull;
    CloseHandle(file);
    return hash;
}

}  // namespace dialog_driver
