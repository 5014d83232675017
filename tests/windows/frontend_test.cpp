// The front end's parts that need no dialog: the conversion of paths between UTF-8 and
// UTF-16, the output path the sink joins, the copy of a path that a field can show, and
// what the sink writes or refuses. This program has no manifest, so its code page is the
// system's (1252 under Wine): the paths outside it get through by the wide calls alone.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "error_report.h"
#include "texture_job.h"
#include "utf8.h"
#include "main_dialog.h"

namespace {

std::string repeated(const char* text, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += text;
    return out;
}

TEST(Utf8Conversion, RoundTripsEveryLetterAndRefusesBrokenText)
{
    const struct {
        const char* what;
        std::string utf8;
        std::wstring wide;  // empty: neither converts to the other
    } rows[] = {
        {"ASCII", "C:\\maps\\world.bmp", L"C:\\maps\\world.bmp"},
        {"Latin-1 and code page 1252", "\xc3\xa9t\xc3\xa9 \xc5\x93 \xe2\x82\xac", L"\u00e9t\u00e9 \u0153 \u20ac"},
        {"Greek, Cyrillic, Chinese", "\xce\xa7\xce\xac\xcf\x81\xcf\x84\xce\xb7\xcf\x82 \xd0\x9a\xd0\xb0\xd1\x80\xd1\x82\xd0\xb0 \xe5\x9c\xb0\xe5\x9b\xbe",
         L"\u03a7\u03ac\u03c1\u03c4\u03b7\u03c2 \u041a\u0430\u0440\u0442\u0430 \u5730\u56fe"},
        {"beyond the first plane: a surrogate pair", "\xf0\x9f\x8c\x8d", L"\xd83c\xdf0d"},
        {"nothing", "", L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(utf8ToWide(row.utf8), row.wide);
        EXPECT_EQ(wideToUtf8(row.wide), row.utf8);
    }
    // Broken text converts to nothing, never to a name with a stand-in letter in it.
    for (const std::string& broken : {std::string("map\xe9.bmp"), std::string("\xed\xa0\xbc.bmp"), std::string("\xc0\xaf")})
        EXPECT_EQ(utf8ToWide(broken), L"") << broken;
    for (const std::wstring& broken : {std::wstring(L"map\xd83c.bmp"), std::wstring(L"\xdf0d")})
        EXPECT_EQ(wideToUtf8(broken), "");
}

TEST(JoinOutputPath, JoinsUnchangedOrRefusesWhatDoesNotFitMaxPathUnits)
{
    const std::string folder250 = "C:\\" + std::string(247, 'f');
    const struct {
        std::string folder;
        const char* fileName;
        bool fits;  // in MAX_PATH UTF-16 units with its terminator
        const char* joined;  // if not folder\fileName
    } rows[] = {
        {"C:\\out", "new1.tga", true, nullptr},
        {"C:\\", "new1.tga", true, "C:\\\\new1.tga"},  // a drive root keeps its own backslash
        {folder250, "new1.tga", true, nullptr},       // 259 units: the most that fits
        {folder250 + "g", "new1.tga", false, nullptr},  // 260: one too many
        {folder250, "new10.tga", false, nullptr},
        // Counted in UTF-16 units, not bytes: 247 Greek letters are 494 bytes, 247 units.
        {"C:\\" + repeated("\xce\xb1", 247), "new1.tga", true, nullptr},
        {"C:\\" + repeated("\xe5\x9c\xb0", 248), "new1.tga", false, nullptr},
        // A letter beyond the first plane is two units.
        {"C:\\" + repeated("\xf0\x9f\x8c\x8d", 123) + "x", "new1.tga", true, nullptr},
        {"C:\\" + repeated("\xf0\x9f\x8c\x8d", 124), "new1.tga", false, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.folder.size());
        std::string path = "left over";
        EXPECT_EQ(joinOutputPath(path, row.folder.c_str(), row.fileName), row.fits);
        if (row.fits)
            EXPECT_EQ(path, row.joined != nullptr ? row.joined : row.folder + "\\" + row.fileName);
        else
            EXPECT_EQ(path, "") << "never a path cut short";
    }
}

bool isLowSurrogate(wchar_t unit) { return (unit & 0xFC00) == 0xDC00; }
bool isHighSurrogate(wchar_t unit) { return (unit & 0xFC00) == 0xD800; }

TEST(FitPathForDisplay, KeepsShortPathsAndShortensLongOnes)
{
    std::wstring deep = L"C:\\";
    while (deep.size() < 600)
        deep += L"folder-of-maps\\";
    deep += L"world.bmp";
    std::wstring globes;  // letters of two units each
    for (int i = 0; i < 300; ++i)
        globes += L"\xd83c\xdf0d";
    const struct {
        std::wstring path;
        const wchar_t* start;  // what the shown copy begins with
        const wchar_t* end;    // and ends with
    } rows[] = {
        {L"C:\\maps\\world.bmp", L"C:\\maps\\world.bmp", L"world.bmp"},
        {L"C:\\" + std::wstring(254, L'a') + L".b", L"C:\\aaa", L"aaa.b"},  // 259 units: unchanged
        {deep, L"C:\\...\\", L"\\folder-of-maps\\world.bmp"},                // cut at a backslash
        {L"C:\\" + std::wstring(700, L'n') + L".bmp", L"C:\\...", L"nnn.bmp"},   // one long name
        {std::wstring(300, L'r'), L"...", L"rrr"},                               // no root at all
        {L"C:\\\u5730\u56fe\\" + std::wstring(300, L'\u5730') + L".png", L"C:\\...", L"\u5730\u5730.png"},
        // Letters of two units, where the cut would fall between the two halves of one.
        {L"C:\\" + globes + L"\\" + globes + L".jpeg", L"C:\\...", L"\xd83c\xdf0d.jpeg"},
        {L"C:\\" + globes + L".jpeg", L"C:\\...", L"\xd83c\xdf0d.jpeg"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path.size());
        wchar_t out[MAX_PATH];
        fitPathForDisplay(out, row.path);
        const std::wstring shown(out);
        ASSERT_LT(shown.size(), static_cast<std::size_t>(MAX_PATH));
        if (row.path.size() < MAX_PATH)
            EXPECT_EQ(shown, row.path);
        else
            EXPECT_NE(shown.find(L"..."), std::wstring::npos);
        EXPECT_EQ(shown.compare(0, std::wcslen(row.start), row.start), 0) << wideToUtf8(shown);
        EXPECT_EQ(shown.compare(shown.size() - std::wcslen(row.end), std::wstring::npos, row.end), 0)
            << wideToUtf8(shown);
        for (std::size_t i = 0; i < shown.size(); ++i) {
            const bool paired = isHighSurrogate(shown[i]) ? i + 1 < shown.size() && isLowSurrogate(shown[i + 1])
                                : isLowSurrogate(shown[i]) ? i > 0 && isHighSurrogate(shown[i - 1])
                                                           : true;
            ASSERT_TRUE(paired) << "half a letter at " << i;
        }
    }
}

std::vector<std::string> reported;
void recordError(void*, const char* message) { reported.emplace_back(message); }

// A folder of `length` UTF-16 units made of nested folders under the temporary folder, the
// last one named by repeating `letters`.
std::filesystem::path folderOfLength(std::size_t length, const std::wstring& letters)
{
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "orbilune-sink";
    std::filesystem::remove_all(folder);
    while (folder.wstring().size() + 1 + 40 < length)
        folder /= std::wstring(40, L'd');
    std::wstring name;
    while (folder.wstring().size() + 1 + name.size() < length)
        name += letters[name.size() % letters.size()];
    folder /= name;
    std::filesystem::create_directories(folder);
    return folder;
}

TEST(WriteTextureFile, WritesWholeFilesAndRefusesWhatItCannotCreate)
{
    const std::vector<unsigned char> image = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0x20, 1, 2, 3};
    const struct {
        const char* what;
        std::size_t folderLength;  // in UTF-16 units; 0: a folder that does not exist
        const wchar_t* letters;    // of the last folder's name
        int result;
        const char* message;
    } rows[] = {
        {"an ordinary folder", 60, L"e", 1, nullptr},
        {"the longest folder that still fits new1.tga", MAX_PATH - 1 - 9, L"e", 1, nullptr},
        {"one character longer", MAX_PATH - 9, L"e", 0, messages::kCouldntCreateFile},
        {"a folder that is not there", 0, L"e", 0, messages::kCouldntCreateFile},
        {"a folder named in Greek, Cyrillic and Chinese", 80, L"\u03a7\u03ac\u03c1\u03c4\u03b7\u03c2-\u041a\u0430\u0440\u0442\u0430-\u5730\u56fe-", 1,
         nullptr},
        {"the longest folder of Chinese letters", MAX_PATH - 1 - 9, L"\u5730\u56fe", 1, nullptr},
        {"one Chinese letter longer", MAX_PATH - 9, L"\u5730\u56fe", 0, messages::kCouldntCreateFile},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::filesystem::path folder =
            row.folderLength != 0 ? folderOfLength(row.folderLength, row.letters)
                                  : std::filesystem::temp_directory_path() / "orbilune-sink-missing";
        const std::string utf8 = wideToUtf8(folder.wstring());
        ASSERT_LT(utf8.size(), sizeof frontEnd.job.outputDir);
        std::memcpy(frontEnd.job.outputDir, utf8.c_str(), utf8.size() + 1);
        frontEnd.dialog = nullptr;
        reported.clear();
        const ErrorReporter previous = setErrorReporter(recordError);
        EXPECT_EQ(writeTextureFile("new1.tga", image.data(), static_cast<int>(image.size())), row.result);
        setErrorReporter(previous);
        if (row.message != nullptr) {
            ASSERT_EQ(reported.size(), 1u);
            EXPECT_EQ(reported[0], row.message);
        } else {
            EXPECT_TRUE(reported.empty());
        }
        std::error_code error;
        std::vector<std::wstring> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            names.push_back(entry.path().filename().wstring());
        if (row.result == 1) {
            ASSERT_EQ(names, std::vector<std::wstring>{L"new1.tga"});
            EXPECT_EQ(std::filesystem::file_size(folder / "new1.tga"), image.size());
        } else {
            EXPECT_TRUE(names.empty()) << "nothing written, not even under a cut-down name";
        }
        std::filesystem::remove_all(std::filesystem::temp_directory_path() / "orbilune-sink", error);
    }
}

}  // namespace
