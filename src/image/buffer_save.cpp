#include "image/buffer_save.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/ui.h"
#include "settings/settings_store.h"

namespace qmx {
namespace {

void showBox(const std::string& text, Ui& ui) {
    MessageBoxRequest box;
    box.text = text;
    ui.messageBox(box);
}

std::string writeFailedText(const std::string& path, int error) {
    return "File write error. / 文件写入失败。\r\n" + path + "\r\n" + std::strerror(error);
}

// The file that is really replaced: a symbolic link is followed so that the link stays.
std::string resolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved)) return resolved;
    }
    return path;
}

}  // namespace

SaveRange readSaveRange(const std::string& startText, const std::string& lengthText) {
    return SaveRange{readHexBox(startText, 4), readHexBox(lengthText, 5)};
}

SaveStatus checkSaveRange(const SaveRange& range, Ui& ui) {
    if (range.length <= 0) {
        showBox("File length too small.\r\n文件长度不能小于 0。", ui);
        return SaveStatus::TooSmall;
    }
    if (range.start + range.length - 1 >= 0x10000) {
        showBox("File length too big.\r\n文件长度太大。", ui);
        return SaveStatus::TooBig;
    }
    return SaveStatus::Saved;
}

SaveStatus writeBufferRange(const CodeBuffer& buffer, const SaveRange& range,
                            const std::string& path, Ui& ui) {
    if (range.start < 0 || range.length <= 0 || range.start + range.length - 1 >= 0x10000) {
        showBox(writeFailedText(path, EINVAL), ui);
        return SaveStatus::WriteFailed;
    }
    const std::string target = resolveTarget(path);
    const std::size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) {
        showBox(writeFailedText(path, EISDIR), ui);
        return SaveStatus::WriteFailed;
    }
    if (exists && !S_ISREG(old.st_mode)) {
        // A device node or FIFO is never replaced by a file.
        showBox("File write error. / 文件写入失败。\r\n" + path +
                    "\r\nNot a regular file (a device, FIFO or socket); it is not replaced.",
                ui);
        return SaveStatus::WriteFailed;
    }
    removeStaleTempFiles(dir, "." + name + ".tmp-");

    const std::string_view bytes(reinterpret_cast<const char*>(buffer.bytes.data()) + range.start,
                                 static_cast<std::size_t>(range.length));
    if (const int error = replaceFileWhole(target, bytes, 0666); error != 0) {
        showBox(writeFailedText(path, error), ui);
        return SaveStatus::WriteFailed;
    }
    return SaveStatus::Saved;
}

SaveStatus saveBufferRange(const CodeBuffer& buffer, const std::string& startText,
                           const std::string& lengthText, const std::string& path, Ui& ui) {
    const SaveRange range = readSaveRange(startText, lengthText);
    const SaveStatus check = checkSaveRange(range, ui);
    if (check != SaveStatus::Saved) return check;
    return writeBufferRange(buffer, range, path, ui);
}

std::string defaultSaveLengthText(const CodeBuffer& buffer) {
    return hexText(buffer.viewEnd + 1);
}

}  // namespace qmx
