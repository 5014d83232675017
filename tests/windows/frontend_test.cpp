// The front end's parts that need no dialog: the output path the sink joins, the copy of
// a path that a field can show, and what the sink writes or refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "texture_job.h"
#include "main_dialog.h"

namespace {

TEST(JoinOutputPath, JoinsUnchangedOrRefusesWhatDoesNotFit)
{
    const std::string folder250 = "C:\\" + std::string(247, 'f');
    const struct {
        std::string folder;
        const char* fileName;
        const char* joined;  // null: refused
    } rows[] = {
        {"C:\\out", "new1.tga", "C:\\out\\new1.tga"},
        {"C:\\", "new1.tga", "C:\\\\new1.tga"},  // a drive root keeps its own backslash
        {folder250, "new1.tga", nullptr},         // 259 characters: the most that fits
        {folder250 + "g", "new1.tga", nullptr},   // 260: one too many
        {folder250, "new10.tga", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.folder.size());
        char out[MAX_PATH + 1];
        std::memset(out, 'x', sizeof out);
        char (&path)[MAX_PATH] = *reinterpret_cast<char (*)[MAX_PATH]>(out);
        const bool fits = row.folder.size() + 1 + std::strlen(row.fileName) < MAX_PATH;
        EXPECT_EQ(joinOutputPath(path, row.folder.c_str(), row.fileName), fits);
        if (fits)
            EXPECT_EQ(std::string(out), row.joined != nullptr ? row.joined : row.folder + "\\" + row.fileName);
        else
            EXPECT_STREQ(out, "");
        EXPECT_EQ(out[MAX_PATH], 'x') << "wrote past the buffer";
    }
}

TEST(FitPathForDisplay, KeepsShortPathsAndShortensLongOnes)
{
    std::string deep = "C:\\";
    while (deep.size() < 600)
        deep += "folder-of-maps\\";
    deep += "world.bmp";
    const struct {
        std::string path;
        const char* start;  // what the shown copy begins with
        const char* end;    // and ends with
    } rows[] = {
        {"C:\\maps\\world.bmp", "C:\\maps\\world.bmp", "world.bmp"},
        {"C:\\" + std::string(254, 'a') + ".b", "C:\\aaa", "aaa.b"},  // 259 characters: unchanged
        {deep, "C:\\...\\", "\\folder-of-maps\\world.bmp"},           // cut at a backslash
        {"C:\\" + std::string(700, 'n') + ".bmp", "C:\\...", "nnn.bmp"},  // one long name
        {std::string(300, 'r'), "...", "rrr"},                          // no root at all
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path.size());
        char out[MAX_PATH];
        fitPathForDisplay(out, row.path.c_str());
        const std::string shown(out);
        ASSERT_LT(shown.size(), static_cast<std::size_t>(MAX_PATH));
        if (row.path.size() < MAX_PATH)
            EXPECT_EQ(shown, row.path);
        else
            EXPECT_NE(shown.find("..."), std::string::npos);
        EXPECT_EQ(shown.compare(0, std::strlen(row.start), row.start), 0) << shown;
        EXPECT_EQ(shown.compare(shown.size() - std::strlen(row.end), std::string::npos, row.end), 0) << shown;
    }
}

std::vector<std::string> reported;
void recordError(void*, const char* message) { reported.emplace_back(message); }

// A folder of `length` characters made of nested folders under the temporary folder.
std::filesystem::path folderOfLength(std::size_t length)
{
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "orbilune-sink";
    std::filesystem::remove_all(folder);
    while (folder.string().size() + 1 + 40 < length)
        folder /= std::string(40, 'd');
    folder /= std::string(length - folder.string().size() - 1, 'e');
    std::filesystem::create_directories(folder);
    return folder;
}

TEST(WriteTextureFile, WritesWholeFilesAndRefusesWhatItCannotCreate)
{
    const std::vector<unsigned char> image = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0x20, 1, 2, 3};
    const struct {
        const char* what;
        std::size_t folderLength;  // 0: a folder that does not exist
        int result;
        const char* message;
    } rows[] = {
        {"an ordinary folder", 60, 1, nullptr},
        {"the longest folder that still fits new1.tga", MAX_PATH - 1 - 9, 1, nullptr},
        {"one character longer", MAX_PATH - 9, 0, messages::kCouldntCreateFile},
        {"a folder that is not there", 0, 0, messages::kCouldntCreateFile},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::filesystem::path folder =
            row.folderLength != 0 ? folderOfLength(row.folderLength)
                                  : std::filesystem::temp_directory_path() / "orbilune-sink-missing";
        ASSERT_LT(folder.string().size(), sizeof frontEnd.job.outputDir);
        std::snprintf(frontEnd.job.outputDir, sizeof frontEnd.job.outputDir, "%s", folder.string().c_str());
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
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error))
            names.push_back(entry.path().filename().string());
        if (row.result == 1) {
            ASSERT_EQ(names, std::vector<std::string>{"new1.tga"});
            EXPECT_EQ(std::filesystem::file_size(folder / "new1.tga"), image.size());
        } else {
            EXPECT_TRUE(names.empty()) << "nothing written, not even under a cut-down name";
        }
        std::filesystem::remove_all(std::filesystem::temp_directory_path() / "orbilune-sink", error);
    }
}

}  // namespace
