// The front end's FileSink: each finished texture becomes a file in the chosen folder and
// one step of the progress bar.
#include "main_dialog.h"

#include <commctrl.h>

#include "error_report.h"
#include "texture_job.h"
#include "utf8.h"

bool joinOutputPath(std::string& out, const char* folder, const char* fileName)
{
    out = std::string(folder) + '\\' + fileName;
    if (utf8ToWide(out).size() >= MAX_PATH) {
        out.clear();  // never a truncated path, which would name some other file
        return false;
    }
    return true;
}

int writeTextureFile(const char* fileName, const unsigned char* bytes, std::size_t byteCount)
{
    std::string path;
    TextureFileResult result = TextureFileResult::CouldntCreate;
    if (joinOutputPath(path, frontEnd.job.outputDir, fileName))
        result = storeTextureFile(path.c_str(), bytes, byteCount);
    if (result != TextureFileResult::Written) {
        reportError(frontEnd.dialog, textureFileMessage(result));
        return 0;
    }
    SendDlgItemMessageA(frontEnd.dialog, IDC_PROGRESS, PBM_STEPIT, 0, 0);
    return 1;
}
