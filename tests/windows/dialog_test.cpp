// The real orbilune.exe, driven from outside through its windows, the mouse and the
// keyboard, the way a person would use it. Runs under Wine in a virtual desktop.
#include "program_driver.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

using namespace dialog_driver;

namespace {

// FNV-1a hashes of new1.tga .. new10.tga as the Linux build (orbilune-cli, OpenImageIO)
// writes them for data/map-97x61.bmp at 512 × 512. A lossless picture must give the
// same bytes on both platforms.
constexpr std::uint64_t kLinuxNearest512[10] = {
    0xcca9a721490ffdfcull, 0x70accb4be60d9868ull, 0x8aff944b89442656ull, 0x00609774e2dd7981ull,
    0x2639e3214deab8cbull, 0xfa46287af05de9a2ull, 0x3b3120de4251e158ull, 0xddc1f42f99d9edffull,
    0x724ce9c8f2c9e1abull, 0xa0f556b913caa6b7ull,
};
constexpr std::uint64_t kLinuxBilinear512[10] = {
    0x093ccaf5a4dcc4d7ull, 0x0ed1792c2af0406full, 0xefe21ab51aa47f3eull, 0xb5fff751d6e433a0ull,
    0xa0da51a2428d308aull, 0x67d60b67d6165209ull, 0x3775e659ec857e34ull, 0x3abe6ab3b60e0faeull,
    0xcd4164a3bad043b2ull, 0xb0b328752c833632ull,
};

constexpr const char* kNoneSelected = "(none selected)";
constexpr const char* kFileMissing = "The file specified does not exist";
constexpr const char* kDirectoryMissing = "The directory specified does not exist";
constexpr const char* kCouldntCreate = "Couldnt create file";
constexpr const char* kCouldntOpenImage = "Couldnt open image file.";
constexpr const char* kImageTypes = "Images (bmp,dib,gif,ico,jfif,jpe,jpeg,jpg,png,tif,tiff)";

std::wstring textureName(int k) { return L"new" + std::to_wstring(k) + L".tga"; }

// A copy of the test map in `folder` under `name`, which may begin with a folder of its own.
std::wstring placeMap(const ScratchFolder& folder, const std::wstring& name)
{
    const char* data = std::getenv("ORBILUNE_TEST_DATA");
    const std::wstring source = windowsPath(data != nullptr ? data : ".") + L"\\map-97x61.bmp";
    const std::wstring target = folder.file(name);
    CreateDirectoryW(target.substr(0, target.find_last_of(L'\\')).c_str(), nullptr);
    EXPECT_TRUE(CopyFileW(source.c_str(), target.c_str(), FALSE)) << "no test map at " << narrow(source);
    return target;
}

std::wstring makeFolder(const std::wstring& parent, const std::wstring& name)
{
    const std::wstring path = parent + L"\\" + name;
    CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

// How many of new1.tga .. new10.tga are files in `folder`.
int texturesIn(const std::wstring& folder)
{
    int count = 0;
    for (int k = 1; k <= 10; ++k) {
        const DWORD attributes = GetFileAttributesW((folder + L"\\" + textureName(k)).c_str());
        count += attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 1 : 0;
    }
    return count;
}

void expectLinuxBytes(const std::wstring& folder, const std::uint64_t (&expected)[10])
{
    for (int k = 1; k <= 10; ++k)
        EXPECT_EQ(fileHash(folder + L"\\" + textureName(k)), expected[k - 1]) << narrow(textureName(k));
}

int progress(const Program& program) { return static_cast<int>(program.send(kProgress, PBM_GETPOS)); }

void expectIdle(const Program& program)
{
    for (int id : {kGo, kExit, kSize, kBilinear, kBrowseImage, kBrowseDir})
        EXPECT_TRUE(program.enabled(id)) << "control " << id;
}

// Whether the focus is on Go!, or gets there once the program is done with the last press.
bool focusOnGo(const Program& program)
{
    return waitFor([&] { return program.focus() == program.item(kGo); }, 5000);
}

// Presses Tab until the control has the focus.
void tabTo(const Program& program, int id)
{
    program.activate();
    for (int i = 0; i < 14 && program.focus() != program.item(id); ++i) {
        const HWND before = program.focus();
        program.pressKey(VK_TAB);
        waitFor([&] { return program.focus() != before; }, 2000);
    }
}

// Reads the message box the program shows and checks how it is made.
std::string errorShown(Program& program)
{
    const MessageBoxSeen box = program.readError();
    EXPECT_EQ(box.owner, program.dialog()) << "owned by the dialog";
    EXPECT_EQ(box.buttonCount, 1) << box.text;
    EXPECT_EQ(box.buttonText, "OK");
    EXPECT_EQ(box.buttonId, IDOK);
    EXPECT_STREQ(box.icon, "warning");
    return box.text;
}

// The screen with the template's font, an 8-point "MS Shell Dlg", selected.
class ShellDlgFont {
public:
    ShellDlgFont()
        : screen_(GetDC(nullptr)),
          font_(CreateFontA(-MulDiv(8, GetDeviceCaps(screen_, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                            FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Shell Dlg")),
          previous_(SelectObject(screen_, font_))
    {
    }
    ~ShellDlgFont()
    {
        SelectObject(screen_, previous_);
        DeleteObject(font_);
        ReleaseDC(nullptr, screen_);
    }
    ShellDlgFont(const ShellDlgFont&) = delete;
    ShellDlgFont& operator=(const ShellDlgFont&) = delete;
    HDC dc() const { return screen_; }
    int width(const std::wstring& text) const
    {
        SIZE extent = {};
        GetTextExtentPoint32W(screen_, text.c_str(), static_cast<int>(text.size()), &extent);
        return extent.cx;
    }

private:
    HDC screen_;
    HFONT font_;
    HGDIOBJ previous_;
};

// The dialog base units of an 8-point "MS Shell Dlg", as the dialog manager derives them.
SIZE shellDlgBaseUnits()
{
    const ShellDlgFont font;
    TEXTMETRICA metrics = {};
    GetTextMetricsA(font.dc(), &metrics);
    const int letters = font.width(L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return SIZE{(letters / 26 + 1) / 2, metrics.tmHeight};
}

// What a path field shows of `path`, as the user reads it: its end, the whole of it in what
// the field shows of a line (in the field's font, within its margins: no letter clipped),
// and, when shortened, shortened no more than it has to be (no room for two more letters).
void expectShownPath(const Program& program, int id, const std::wstring& path)
{
    const std::wstring shown = program.wideText(id);
    const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
    ASSERT_GE(shown.size(), name.size()) << narrow(shown);
    EXPECT_EQ(shown.substr(shown.size() - name.size()), name) << "ends with the name";
    RECT client = {};
    GetClientRect(program.item(id), &client);
    const auto margins = static_cast<DWORD>(program.send(id, EM_GETMARGINS));
    const int visible = client.right - client.left - LOWORD(margins) - HIWORD(margins);
    const ShellDlgFont font;
    const int width = font.width(shown);
    EXPECT_LE(width, visible) << "the field cuts off the end of " << narrow(shown);
    if (shown != path) {
        EXPECT_NE(shown.find(L"..."), std::wstring::npos);
        EXPECT_GT(width + font.width(L"WW"), visible) << "blank space after " << narrow(shown);
    }
}

// Position and size are converted apart, as the dialog manager does.
RECT inDialogPixels(SIZE base, int x, int y, int width, int height)
{
    const int left = MulDiv(x, base.cx, 4);
    const int top = MulDiv(y, base.cy, 8);
    return RECT{left, top, left + MulDiv(width, base.cx, 4), top + MulDiv(height, base.cy, 8)};
}

TEST(Dialog, ShowsTheTemplateInTabOrder)
{
    struct Row {
        int id;
        const char* windowClass;
        const char* text;  // null: not checked (the path fields, the size list)
        LONG style;        // beyond WS_CHILD | WS_VISIBLE and WS_BORDER
        LONG typeMask;     // bits of `style` that must match exactly
        int x, y, width, height;
    };
    // Not seen from outside: the combo box hands WS_VSCROLL to its drop-down list, and the
    // edit fields turn WS_BORDER into WS_EX_CLIENTEDGE (checked below); the progress bar
    // keeps neither.
    const Row rows[] = {
        {IDOK, "Button", "Go!", BS_DEFPUSHBUTTON | WS_TABSTOP, BS_TYPEMASK, 264, 70, 50, 14},
        {IDCANCEL, "Button", "Exit", BS_PUSHBUTTON | WS_TABSTOP, BS_TYPEMASK, 264, 90, 50, 14},
        {1001, "Button", "Bilinear filtering", BS_AUTOCHECKBOX | BS_MULTILINE | WS_TABSTOP, BS_TYPEMASK, 106, 87, 64, 11},
        {1002, "Edit", nullptr, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, ES_MULTILINE, 7, 17, 251, 12},
        {3, "Button", "Browse...", BS_PUSHBUTTON | WS_TABSTOP, BS_TYPEMASK, 264, 16, 50, 14},
        {4, "Button", "Browse...", BS_PUSHBUTTON | WS_TABSTOP, BS_TYPEMASK, 264, 47, 50, 14},
        {-1, "Button", "Options", BS_GROUPBOX, BS_TYPEMASK, 7, 64, 167, 40},
        {1004, "ComboBox", nullptr, CBS_DROPDOWNLIST | WS_TABSTOP, 3, 14, 87, 81, 71},
        {-1, "Static", "Texture Dimension:", SS_LEFT | WS_GROUP, SS_TYPEMASK, 14, 75, 63, 8},
        {-1, "Static", "Orbilune\nicosahedral textures\nfrom one world map", SS_CENTER | WS_GROUP, SS_TYPEMASK, 179, 73, 80, 28},
        {1005, "Edit", nullptr, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, ES_MULTILINE, 7, 48, 251, 12},
        {1006, "msctls_progress32", "", 0, 0, 7, 111, 307, 18},
        {-1, "Static", "Input Image:", SS_LEFT | WS_GROUP, SS_TYPEMASK, 7, 7, 43, 8},
        {-1, "Static", "Directory to save output images in:", SS_LEFT | WS_GROUP, SS_TYPEMASK, 7, 38, 114, 8},
    };
    Program program;
    ASSERT_NE(program.dialog(), nullptr);
    EXPECT_EQ(windowText(program.dialog()), "Orbilune v1.0");
    const LONG dialogStyle = GetWindowLongA(program.dialog(), GWL_STYLE);
    EXPECT_EQ(dialogStyle & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE),
              WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE);
    EXPECT_EQ(GetWindow(program.dialog(), GW_OWNER), nullptr);

    // 321 × 137 dialog units in the template's font.
    const SIZE base = shellDlgBaseUnits();
    RECT client = {};
    GetClientRect(program.dialog(), &client);
    EXPECT_EQ(client.right, MulDiv(321, base.cx, 4));
    EXPECT_EQ(client.bottom, MulDiv(137, base.cy, 8));

    HWND control = GetWindow(program.dialog(), GW_CHILD);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text != nullptr ? row.text : std::to_string(row.id));
        ASSERT_NE(control, nullptr) << "fewer controls than the template";
        EXPECT_EQ(GetDlgCtrlID(control), row.id);
        EXPECT_EQ(windowClass(control), row.windowClass);
        if (row.text != nullptr) {
            EXPECT_EQ(windowText(control), row.text);
        }
        const LONG style = GetWindowLongA(control, GWL_STYLE);
        EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | WS_DISABLED), WS_CHILD | WS_VISIBLE);
        EXPECT_EQ(style & (row.style & ~row.typeMask), row.style & ~row.typeMask);
        EXPECT_EQ(style & row.typeMask, row.style & row.typeMask);
        EXPECT_EQ((style & WS_TABSTOP) != 0, (row.style & WS_TABSTOP) != 0);
        if (std::string(row.windowClass) == "Edit") {
            EXPECT_TRUE((style & WS_BORDER) != 0 || (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0);
        }
        RECT area = {};
        GetWindowRect(control, &area);
        MapWindowPoints(nullptr, program.dialog(), reinterpret_cast<POINT*>(&area), 2);
        const RECT expected = inDialogPixels(base, row.x, row.y, row.width, row.height);
        EXPECT_EQ(area.left, expected.left);
        EXPECT_EQ(area.top, expected.top);
        EXPECT_EQ(area.right, expected.right);
        if (std::string(row.windowClass) != "ComboBox") {  // as tall as its closed field
            EXPECT_EQ(area.bottom, expected.bottom);
        }
        control = GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_EQ(control, nullptr) << "more controls than the template";
}

TEST(Dialog, StartsIdleWithNothingChosenAndTheSmallestSize)
{
    Program program;
    ASSERT_NE(program.dialog(), nullptr);
    const struct {
        const char* label;
        LRESULT faceSize;
    } sizes[] = {{"512x512", 512}, {"1024x1024", 1024}, {"2048x2048", 2048}};
    ASSERT_EQ(program.send(kSize, CB_GETCOUNT), 3);
    for (int i = 0; i < 3; ++i) {
        wchar_t label[64] = {};
        SendMessageW(program.item(kSize), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(label));
        EXPECT_EQ(narrow(label), sizes[i].label);
        EXPECT_EQ(program.send(kSize, CB_GETITEMDATA, static_cast<WPARAM>(i)), sizes[i].faceSize);
    }
    EXPECT_EQ(program.send(kSize, CB_GETCURSEL), 0);
    EXPECT_EQ(program.text(kSize), "512x512");
    EXPECT_EQ(program.text(kImagePath), kNoneSelected);
    EXPECT_EQ(program.text(kOutputDir), kNoneSelected);
    EXPECT_EQ(program.send(kBilinear, BM_GETCHECK), BST_UNCHECKED);
    expectIdle(program);
    EXPECT_EQ(progress(program), 0);
    EXPECT_EQ(program.send(kProgress, PBM_GETRANGE, TRUE), 0);
    EXPECT_EQ(program.send(kProgress, PBM_GETRANGE, FALSE), 100);

    EXPECT_EQ(program.focus(), program.item(kGo)) << "the first tab stop has the focus";
}

TEST(Dialog, GoChecksTheChoicesFirst)
{
    ScratchFolder scratch;
    const std::wstring map = placeMap(scratch, L"map.bmp");
    const struct {
        const char* what;
        bool chooseImage;
        bool enterInPathField;  // else Go! is clicked
        const char* message;
    } rows[] = {
        {"right after start-up", false, false, kFileMissing},
        {"a picture but no folder", true, false, kDirectoryMissing},
        // Enter goes to the default button, Go!, from a field that keeps the focus.
        {"Enter in the image path field", false, true, kFileMissing},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Program program;
        ASSERT_NE(program.dialog(), nullptr);
        if (row.chooseImage) {
            ASSERT_NO_FATAL_FAILURE(program.chooseImage(map));
            EXPECT_NE(program.text(kImagePath), kNoneSelected);
            EXPECT_NE(program.text(kImagePath).find("map.bmp"), std::string::npos);
        }
        if (row.enterInPathField) {
            tabTo(program, kImagePath);
            ASSERT_EQ(program.focus(), program.item(kImagePath));
            program.pressKey(VK_RETURN);
        } else {
            program.click(kGo);
        }
        EXPECT_EQ(errorShown(program), row.message);
        ASSERT_TRUE(program.waitUntilIdle());
        expectIdle(program);
        EXPECT_EQ(progress(program), 0) << "no run was started";
        EXPECT_FALSE(program.hasWindow("Error"));
        EXPECT_TRUE(focusOnGo(program)) << "the focus after the message is on " << GetDlgCtrlID(program.focus());
    }
}

TEST(Dialog, CancelledBrowsersChangeNothing)
{
    ScratchFolder scratch;
    const std::wstring map = placeMap(scratch, L"map.bmp");
    const std::wstring out = makeFolder(scratch.path(), L"out");
    // Before anything is chosen, and after a picture and a folder were: what the fields show
    // stays, and Go! converts the picture they show.
    for (const bool chosen : {false, true}) {
        SCOPED_TRACE(chosen ? "after choosing" : "with nothing chosen");
        Program program;
        ASSERT_NE(program.dialog(), nullptr);
        if (chosen) {
            ASSERT_NO_FATAL_FAILURE(program.chooseImage(map));
            ASSERT_NO_FATAL_FAILURE(program.chooseFolder(out));
        }
        const std::string image = program.text(kImagePath);
        const std::string folder = program.text(kOutputDir);
        std::vector<std::string> fileTypes;
        ASSERT_NO_FATAL_FAILURE(program.cancelImageBrowser(&fileTypes));
        EXPECT_EQ(fileTypes, (std::vector<std::string>{kImageTypes, "All Files (*.*)"}));
        EXPECT_EQ(program.text(kImagePath), chosen ? image : kNoneSelected);
        ASSERT_NO_FATAL_FAILURE(program.cancelFolderBrowser());
        EXPECT_EQ(program.text(kOutputDir), chosen ? folder : kNoneSelected);
        expectIdle(program);
        if (chosen) {
            program.click(kGo);
            ASSERT_TRUE(waitFor([&] { return program.hasWindow("Error") || program.waitUntilIdle(0); }));
            if (program.hasWindow("Error"))
                FAIL() << "Go! after the browsers were cancelled: " << program.readError().text;
            ASSERT_TRUE(program.waitUntilIdle());
            expectLinuxBytes(out, kLinuxNearest512);
        }
    }
}

// The test map as an icon: its 24-bit bitmap (without the file header), declared twice as
// tall for the mask that follows it, a mask of zeros: every pixel shown.
std::vector<unsigned char> iconOf(const std::wstring& bmpPath)
{
    std::vector<unsigned char> bmp;
    HANDLE file = CreateFileW(bmpPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD size = GetFileSize(file, nullptr);
    bmp.resize(size != INVALID_FILE_SIZE ? size : 0);
    DWORD got = 0;
    ReadFile(file, bmp.data(), static_cast<DWORD>(bmp.size()), &got, nullptr);
    CloseHandle(file);
    EXPECT_GE(got, 54u);
    if (got < 54)
        return {};
    std::vector<unsigned char> dib(bmp.begin() + 14, bmp.end());
    const unsigned width = dib[4];
    const unsigned height = dib[8];
    dib[8] = static_cast<unsigned char>(2 * height);  // fits a byte: the map is 61 rows
    dib.insert(dib.end(), (width + 31) / 32 * 4 * height, 0);
    const auto bytes = static_cast<std::uint32_t>(dib.size());
    std::vector<unsigned char> icon = {
        0, 0, 1, 0, 1, 0,  // an icon file of one image
        static_cast<unsigned char>(width), static_cast<unsigned char>(height), 0, 0, 1, 0, 24, 0,
        static_cast<unsigned char>(bytes), static_cast<unsigned char>(bytes >> 8),
        static_cast<unsigned char>(bytes >> 16), static_cast<unsigned char>(bytes >> 24), 22, 0, 0, 0,
    };
    icon.insert(icon.end(), dib.begin(), dib.end());
    return icon;
}

// The "Images" entry shows the files GDI+ makes a bitmap of, under each name their formats
// go by, and no other: not PCX or WebP, which it has no decoder for, nor metafiles, nor
// Targa. The names count, not what is in the files; that BMP, GIF, JPEG, PNG and TIFF
// convert is held by the command line's table of pictures, and icons are converted here.
TEST(Dialog, TheFileBrowserShowsThePicturesGdiplusReads)
{
    const struct {
        const wchar_t* name;
        bool shown;
    } rows[] = {
        {L"bmp.bmp", true}, {L"dib.dib", true}, {L"gif.gif", true}, {L"ico.ico", true},
        {L"jfif.jfif", true}, {L"jpe.jpe", true}, {L"jpeg.jpeg", true}, {L"jpg.jpg", true},
        {L"png.png", true}, {L"tif.tif", true}, {L"tiff.tiff", true},
        {L"JPEG-CAPITALS.JPEG", true},
        {L"pcx.pcx", false}, {L"webp.webp", false}, {L"emf.emf", false}, {L"wmf.wmf", false},
        {L"tga.tga", false}, {L"txt.txt", false},
    };
    ScratchFolder scratch;
    const std::wstring pictures = makeFolder(scratch.path(), L"pictures");
    const std::vector<unsigned char> icon = iconOf(placeMap(scratch, L"pictures\\bmp.bmp"));
    std::vector<std::wstring> expected;
    for (const auto& row : rows) {
        if (row.shown)
            expected.emplace_back(row.name);
        const std::wstring path = pictures + L"\\" + row.name;
        if (fileExists(path))
            continue;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        if (std::wstring(row.name) == L"ico.ico")
            WriteFile(file, icon.data(), static_cast<DWORD>(icon.size()), &written, nullptr);
        CloseHandle(file);
    }
    const std::wstring out = makeFolder(scratch.path(), L"out");
    Program program;
    ASSERT_NE(program.dialog(), nullptr);
    std::vector<std::wstring> shown;
    ASSERT_NO_FATAL_FAILURE(program.listImageBrowser(pictures, shown));
    std::sort(shown.begin(), shown.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(program.text(kImagePath), kNoneSelected);

    // The icon of the map makes the map's textures.
    ASSERT_NO_FATAL_FAILURE(program.chooseImage(pictures + L"\\ico.ico"));
    ASSERT_NO_FATAL_FAILURE(program.chooseFolder(out));
    ASSERT_NO_FATAL_FAILURE(program.runToIdle());
    EXPECT_FALSE(program.hasWindow("Error"));
    expectLinuxBytes(out, kLinuxNearest512);
}

TEST(Dialog, RunsWriteTheLinuxBuildsBytesAndEndWithTheBarFull)
{
    ScratchFolder scratch;
    const std::wstring map = placeMap(scratch, L"map.bmp");
    const std::wstring out = makeFolder(scratch.path(), L"out");
    Program program;
    ASSERT_NE(program.dialog(), nullptr);
    ASSERT_NO_FATAL_FAILURE(program.chooseImage(map));
    ASSERT_NO_FATAL_FAILURE(program.chooseFolder(out));
    EXPECT_NE(program.text(kOutputDir).find("out"), std::string::npos);

    // The arrow, as the program shows it over its background, to compare with after the runs.
    program.activate();
    program.moveTo(program.background());
    const HCURSOR arrow = program.settledCursor();

    ASSERT_NO_FATAL_FAILURE(program.runToIdle());
    EXPECT_FALSE(program.hasWindow("Error"));
    expectLinuxBytes(out, kLinuxNearest512);
    EXPECT_EQ(progress(program), 100) << "first run";
    expectIdle(program);
    EXPECT_EQ(program.cursor(), arrow);

    // The second run from the keyboard alone: the focus is back on Go! (which was disabled
    // during the run), Tab reaches the check box, Space checks it, Enter starts the run.
    program.activate();
    EXPECT_EQ(program.focus(), program.item(kGo)) << "the focus after a run";
    for (int presses = 0; presses < 2; ++presses) {
        const HWND before = program.focus();
        program.pressKey(VK_TAB);
        waitFor([&] { return program.focus() != before; }, 2000);
    }
    ASSERT_EQ(program.focus(), program.item(kBilinear)) << "Tab after a run";
    program.pressKey(VK_SPACE);
    ASSERT_TRUE(waitFor([&] { return program.send(kBilinear, BM_GETCHECK) == BST_CHECKED; }, 2000))
        << "Space after a run";
    program.pressKey(VK_RETURN);
    ASSERT_TRUE(waitFor([&] { return program.busy(); }, 10000)) << "Enter after a run started nothing";
    ASSERT_TRUE(program.waitUntilIdle());
    // The second run starts from an empty bar and ends full too.
    EXPECT_FALSE(program.hasWindow("Error"));
    expectLinuxBytes(out, kLinuxBilinear512);
    EXPECT_EQ(progress(program), 100) << "second run";
    expectIdle(program);
    EXPECT_EQ(program.focus(), program.item(kGo)) << "the focus after the second run";
}

TEST(Dialog, PathsInAnyLettersWorkAndShowAsTheyAre)
{
    const std::wstring longFolder = std::wstring(L"\u041a\u0430\u0440\u0442\u044b \u5730\u56fe \u03a7\u03ac\u03c1\u03c4\u03b5\u03c2 ") + std::wstring(60, L'm');
    const struct {
        const char* what;
        const wchar_t* pictureFolder;  // below the scratch folder, or none
        const wchar_t* picture;
        const wchar_t* folder;
    } rows[] = {
        // "é" is the same byte in Latin-1 and code page 1252, "œ" and "€" are not.
        {"Latin-1 and code page 1252", nullptr, L"carte-\u00e9t\u00e9-\u0153uvre.bmp", L"sortie-\u20ac"},
        {"Greek", nullptr, L"\u03a7\u03ac\u03c1\u03c4\u03b7\u03c2.bmp", L"\u0388\u03be\u03bf\u03b4\u03bf\u03c2"},
        {"Cyrillic", nullptr, L"\u041a\u0430\u0440\u0442\u0430 \u043c\u0438\u0440\u0430.bmp", L"\u0412\u044b\u0445\u043e\u0434"},
        {"Chinese", nullptr, L"\u5730\u56fe.bmp", L"\u8f93\u51fa"},
        {"mixed", nullptr, L"\u5730\u56fe \u03a7\u03ac\u03c1\u03c4\u03b7\u03c2 \u041a\u0430\u0440\u0442\u0430 \u00e9\u20ac.bmp",
         L"\u51fa \u0388\u03be\u03bf\u03b4\u03bf\u03c2 \u0412\u044b\u0445\u043e\u0434 \u0153"},
        // Longer than the field: shown shortened.
        {"long", longFolder.c_str(), L"\u5730\u56fe.bmp", L"\u8f93\u51fa"},
    };
    // The program as shipped (Wine honours its UTF-8 code page), and as Windows before 10
    // (1903) runs it, in the system code page, where only the wide calls get such names through.
    for (const wchar_t* programFile : {L"orbilune.exe", L"orbilune-code-page.exe"}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(narrow(programFile) + ": " + row.what);
            ScratchFolder scratch;
            const std::wstring map = row.pictureFolder != nullptr
                                         ? placeMap(scratch, std::wstring(row.pictureFolder) + L"\\" + row.picture)
                                         : placeMap(scratch, row.picture);
            const std::wstring out = makeFolder(scratch.path(), row.folder);
            Program program(programFile);
            ASSERT_NE(program.dialog(), nullptr);
            ASSERT_NO_FATAL_FAILURE(program.chooseImage(map));
            ASSERT_NO_FATAL_FAILURE(program.chooseFolder(out));
            expectShownPath(program, kImagePath, map);
            expectShownPath(program, kOutputDir, out);
            const std::wstring shown = program.wideText(kImagePath);
            ASSERT_NO_FATAL_FAILURE(program.runToIdle());
            EXPECT_FALSE(program.hasWindow("Error"));
            expectLinuxBytes(out, kLinuxNearest512);
            EXPECT_EQ(progress(program), 100);
            EXPECT_EQ(program.wideText(kImagePath), shown) << "the same text before and after a run";
        }
    }
}

// The sizes of the images in the first icon group of `file` (beside this test program):
// the icon Explorer shows for it.
std::vector<int> firstIconSizes(const wchar_t* file)
{
    std::vector<int> sizes;
    HMODULE module = LoadLibraryExW(besideThisProgram(file).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr)
        return sizes;
    LPWSTR first = nullptr;
    EnumResourceNamesW(
        module, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */,
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context) -> BOOL {
            *reinterpret_cast<LPWSTR*>(context) = name;  // an id: names would need copying
            return FALSE;
        },
        reinterpret_cast<LONG_PTR>(&first));
    HRSRC found = first != nullptr ? FindResourceW(module, first, MAKEINTRESOURCEW(14)) : nullptr;
    const auto* group = found != nullptr ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    if (group != nullptr) {
        // A header of three words, then an entry of 14 bytes per image: its width first, 0 for 256.
        const int count = group[4] | group[5] << 8;
        for (int i = 0; i < count; ++i)
            sizes.push_back(group[6 + 14 * i] == 0 ? 256 : group[6 + 14 * i]);
    }
    FreeLibrary(module);
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}

TEST(Dialog, WearsItsIconAndRunsAsItsManifestAsks)
{
    // Explorer shows each program's first icon, made in every size it asks for.
    for (const wchar_t* file : {L"orbilune.exe", L"orbilune-cli.exe"})
        EXPECT_EQ(firstIconSizes(file), (std::vector<int>{16, 24, 32, 48, 256})) << narrow(file);

    Program program;
    ASSERT_NE(program.dialog(), nullptr);
    program.activate();
    // The caption shows the program's icon, and not any other the system could show there.
    HMODULE module = LoadLibraryExW(besideThisProgram(L"orbilune.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const int small = GetSystemMetrics(SM_CXSMICON);
    const std::vector<HICON> icons = {
        static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, small, small, 0)),
        LoadIconA(nullptr, IDI_APPLICATION),
        LoadIconA(nullptr, IDI_WINLOGO),
    };
    ASSERT_NE(icons[0], nullptr);
    // The caption may not be painted yet: look again until the program's icon is the nearest.
    std::vector<std::uint64_t> distances;
    auto programsIsNearest = [&] { return distances[0] < distances[1] && distances[0] < distances[2]; };
    for (int attempt = 0; attempt < 10; ++attempt) {
        distances = program.captionIconDistances(icons);
        if (programsIsNearest())
            break;
        Sleep(200);
    }
    EXPECT_TRUE(programsIsNearest()) << "the caption shows the program's icon, not the default application's ("
                                     << distances[1] << ") or Windows' (" << distances[2] << "): "
                                     << distances[0];
    DestroyIcon(icons[0]);
    FreeLibrary(module);

    // Themed controls: the program runs with the common controls of version 6.
    DWORD processId = 0;
    GetWindowThreadProcessId(program.dialog(), &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    ASSERT_NE(process, nullptr);
    HMODULE modules[512] = {};
    DWORD bytes = 0;
    std::wstring controls;
    if (EnumProcessModules(process, modules, sizeof modules, &bytes))
        for (DWORD i = 0; i < bytes / sizeof modules[0] && i < 512; ++i) {
            wchar_t path[MAX_PATH] = {};
            GetModuleFileNameExW(process, modules[i], path, MAX_PATH);
            std::wstring lower(path);
            for (wchar_t& c : lower)
                c = static_cast<wchar_t>(towlower(c));
            if (lower.size() >= 12 && lower.compare(lower.size() - 12, 12, L"comctl32.dll") == 0)
                controls = lower;
        }
    CloseHandle(process);
    EXPECT_NE(controls.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."), std::wstring::npos)
        << "comctl32 from " << narrow(controls);
}

TEST(Dialog, InputQueuedDuringARunIsDiscarded)
{
    ScratchFolder scratch;
    const std::wstring map = placeMap(scratch, L"map.bmp");
    const std::wstring out = makeFolder(scratch.path(), L"out");
    Program program;
    ASSERT_NE(program.dialog(), nullptr);
    ASSERT_NO_FATAL_FAILURE(program.chooseImage(map));
    ASSERT_NO_FATAL_FAILURE(program.chooseFolder(out));
    program.send(kSize, CB_SETCURSEL, 2);  // 2048 × 2048: a run long enough to type into

    // The arrow, as the program shows it over its background.
    program.activate();
    program.moveTo(program.background());
    const HCURSOR arrow = program.settledCursor();
    // Tab to the image path field, which a run leaves enabled, so that a queued Escape
    // would reach the dialog and end the program.
    tabTo(program, kImagePath);
    ASSERT_EQ(program.focus(), program.item(kImagePath));
    program.pressKey(VK_RETURN);  // the default button: "Go!"
    ASSERT_TRUE(waitFor([&] { return program.busy(); }, 10000)) << "Enter did not start a run";
    EXPECT_NE(program.cursor(), arrow) << "the wait cursor during the run";

    program.pressKey(VK_ESCAPE);
    ASSERT_TRUE(program.busy()) << "the run ended before the input was queued";

    ASSERT_TRUE(waitFor([&] { return !program.busy() || !program.running(); }, 120000));
    Sleep(1500);
    EXPECT_TRUE(program.running()) << "queued Escape or click ended the program";
    EXPECT_FALSE(program.hasWindow("Error"));
    EXPECT_EQ(texturesIn(out), 10);
    EXPECT_EQ(progress(program), 100);
    expectIdle(program);
    EXPECT_EQ(program.cursor(), arrow);

    // Escape pressed now, with the dialog idle, is acted on.
    program.activate();
    program.pressKey(VK_ESCAPE);
    EXPECT_TRUE(program.waitForExit(10000));
}

// A picture GDI+ cannot read: the run stops with its message, and the keyboard goes on from
// Go! as after a good run.
TEST(Dialog, APictureThatCannotBeReadStopsTheRun)
{
    ScratchFolder scratch;
    const std::wstring picture = scratch.file(L"text.png");
    HANDLE file = CreateFileW(picture.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, "not a png\n", 10, &written, nullptr);
    CloseHandle(file);
    const std::wstring out = makeFolder(scratch.path(), L"out");
    Program program;
    ASSERT_NE(program.dialog(), nullptr);
    ASSERT_NO_FATAL_FAILURE(program.chooseImage(picture));
    ASSERT_NO_FATAL_FAILURE(program.chooseFolder(out));

    program.click(kGo);
    EXPECT_EQ(errorShown(program), kCouldntOpenImage);
    ASSERT_TRUE(program.waitUntilIdle());
    expectIdle(program);
    EXPECT_EQ(progress(program), 0);
    EXPECT_EQ(texturesIn(out), 0);
    program.activate();
    EXPECT_TRUE(focusOnGo(program)) << "the focus after a failed run is on " << GetDlgCtrlID(program.focus());

    // The map in its place (the content decides, not the name), then Enter alone converts it.
    ASSERT_TRUE(CopyFileW(placeMap(scratch, L"map.bmp").c_str(), picture.c_str(), FALSE));
    program.pressKey(VK_RETURN);
    ASSERT_TRUE(waitFor([&] { return texturesIn(out) == 10 && !program.busy(); }))
        << "Enter after a failed run converted nothing";
    EXPECT_FALSE(program.hasWindow("Error"));
    expectLinuxBytes(out, kLinuxNearest512);
}

TEST(Dialog, AFileThatCannotBeCreatedStopsTheRun)
{
    const struct {
        const char* what;
        int written;   // textures written before the message
        int progress;  // where the bar stops
    } rows[] = {
        {"the folder vanished and a file took its name", 0, 0},
        {"new2.tga is taken by a folder", 1, 10},
        {"the folder plus new1.tga is longer than MAX_PATH", 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ScratchFolder scratch;
        const std::wstring map = placeMap(scratch, L"map.bmp");
        std::wstring out;
        if (&row == &rows[2]) {
            // Folders down to a path of 255 characters: it fits MAX_PATH alone but not
            // with "\new1.tga".
            out = scratch.path();
            while (out.size() + 1 + 40 < 255)
                out = makeFolder(out, std::wstring(40, L'd'));
            out = makeFolder(out, std::wstring(255 - out.size() - 1, L'e'));
            ASSERT_EQ(out.size(), 255u);
        } else {
            out = makeFolder(scratch.path(), L"out");
        }
        Program program;
        ASSERT_NE(program.dialog(), nullptr);
        ASSERT_NO_FATAL_FAILURE(program.chooseImage(map));
        ASSERT_NO_FATAL_FAILURE(program.chooseFolder(out));
        if (&row == &rows[0]) {
            ASSERT_TRUE(RemoveDirectoryW(out.c_str()));
            HANDLE file = CreateFileW(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            CloseHandle(file);
        } else if (&row == &rows[1]) {
            CreateDirectoryW((out + L"\\new2.tga").c_str(), nullptr);
        }

        program.click(kGo);
        EXPECT_EQ(errorShown(program), kCouldntCreate);
        ASSERT_TRUE(program.waitUntilIdle());
        Sleep(500);
        EXPECT_FALSE(program.hasWindow("Error")) << "nothing more was attempted";
        EXPECT_EQ(progress(program), row.progress);
        expectIdle(program);
        EXPECT_TRUE(focusOnGo(program)) << "the focus after a failed run is on " << GetDlgCtrlID(program.focus());
        if (&row != &rows[0]) {
            EXPECT_EQ(texturesIn(out), row.written);
            if (row.written == 1) {
                EXPECT_EQ(fileHash(out + L"\\new1.tga"), kLinuxNearest512[0]);
                // A complete run after one that stopped part way starts from an empty bar
                // and ends full, whatever the bar's wrap-around does past its maximum.
                ASSERT_TRUE(RemoveDirectoryW((out + L"\\new2.tga").c_str()));
                ASSERT_NO_FATAL_FAILURE(program.runToIdle());
                EXPECT_FALSE(program.hasWindow("Error"));
                EXPECT_EQ(texturesIn(out), 10);
                EXPECT_EQ(progress(program), 100) << "the run after";
            }
        }
        if (&row == &rows[2]) {
            // Not written under a cut-down name either.
            WIN32_FIND_DATAW found = {};
            HANDLE search = FindFirstFileW((out + L"\\*").c_str(), &found);
            int entries = 0;
            if (search != INVALID_HANDLE_VALUE) {
                do
                    entries += found.cFileName[0] != L'.' ? 1 : 0;
                while (FindNextFileW(search, &found));
                FindClose(search);
            }
            EXPECT_EQ(entries, 0);
        }
    }
}

TEST(Dialog, EndsLikeExit)
{
    const struct {
        const char* what;
        void (*end)(Program&);
    } rows[] = {
        {"Exit", [](Program& program) { program.click(kExit); }},
        {"Escape", [](Program& program) {
             program.activate();
             program.pressKey(VK_ESCAPE);
         }},
        {"the close box", [](Program& program) {
             program.activate();
             const POINT box = program.closeBox();
             ASSERT_GE(box.x, 0) << "no close box in the caption";
             program.clickAt(box);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Program program;
        ASSERT_NE(program.dialog(), nullptr);
        // Once more if need be, as a person would: under Wine's X11 driver a pointer warp
        // now and then lands late.
        bool ended = false;
        for (int attempt = 0; attempt < 3 && !ended; ++attempt) {
            row.end(program);
            ended = program.waitForExit(5000);
        }
        EXPECT_TRUE(ended);
    }
}

}  // namespace
