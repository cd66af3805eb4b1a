// Reading files from disk into the code buffer: the readability check that protects the image
// already in the buffer, the fill-or-merge step and the hand-over to the loaders.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/ui.h"
#include "image/hex_loader.h"
#include "image/serial_number.h"

namespace qmx {
namespace {

// Larger files are refused: no HEX file for a 64 KB chip comes anywhere near this, and a
// binary image uses only its first 64 KB.
constexpr std::size_t kMaxFileSize = 64u * 1024u * 1024u;

const char* const kNotFound = "Can not find the file./找不到文件";

void showBox(const std::string& text, const std::string& title, Ui& ui) {
    MessageBoxRequest box;
    box.text = text;
    box.title = title;
    ui.messageBox(box);
}

// Reads the file or shows why it cannot be read.
bool readForLoad(const std::string& path, std::string& content, Ui& ui) {
    std::string error;
    if (readWholeFile(path, content, error)) return true;
    showBox(error, error == kNotFound ? std::string() : path, ui);
    return false;
}

LoadResult unreadable() {
    LoadResult r;
    r.status = LoadStatus::Unreadable;
    return r;
}

}  // namespace

bool readWholeFile(const std::string& path, std::string& content, std::string& error) {
    content.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ENOENT ? kNotFound : std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = std::strerror(EISDIR);
        ::close(fd);
        return false;
    }
    if (S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) > kMaxFileSize) {
        error = std::strerror(EFBIG);
        ::close(fd);
        return false;
    }
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            ::close(fd);
            content.clear();
            return false;
        }
        if (n == 0) break;
        if (content.size() + static_cast<std::size_t>(n) > kMaxFileSize) {
            error = std::strerror(EFBIG);
            ::close(fd);
            content.clear();
            return false;
        }
        content.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

LoadResult loadHexFile(CodeBuffer& buffer, const ModelEntry& model, Ui& ui) {
    std::string content;
    if (!readForLoad(buffer.currentPath, content, ui)) return unreadable();
    return loadHexText(buffer, model, content, buffer.currentPath, ui);
}

LoadResult loadBinaryFile(CodeBuffer& buffer, const ModelEntry& model, Ui& ui) {
    std::string content;
    if (!readForLoad(buffer.currentPath, content, ui)) return unreadable();
    return loadBinaryData(buffer, model, content, ui);
}

LoadResult loadSelectedFile(CodeBuffer& buffer, const ModelEntry& model, SerialNumberSpec& serial,
                            Ui& ui) {
    LoadResult result;
    if (buffer.currentPath.empty()) return result;

    const long start = readHexBox(buffer.startAddressText, 5);
    if (start > model.dataEnd) {
        showBox("Buffer Start Address Outrun the valid scope. \r\n   缓冲区起始地址超出有效空间。",
                {}, ui);
        result.status = LoadStatus::StartOutOfRange;
        return result;
    }

    // Read the whole file before touching the buffer: a file that cannot be read must not cost
    // the image that is already there.
    std::string content;
    if (!readForLoad(buffer.currentPath, content, ui)) return unreadable();

    if (!buffer.imageLoaded || buffer.clearOnLoad) {
        fillBuffer(buffer, buffer.fillByte);
        buffer.imageLoaded = false;
        buffer.viewStart = buffer.loadStart = 0x10FFFF;
        buffer.viewEnd = buffer.loadEnd = 0;
    } else {
        buffer.viewStart = std::min(buffer.viewStart, buffer.loadStart);
        buffer.viewEnd = std::max(buffer.viewEnd, buffer.loadEnd);
    }
    serial.active = false;

    if (detectFileKind(buffer.currentPath, content) == FileKind::Hex)
        result = loadHexText(buffer, model, content, buffer.currentPath, ui);
    else
        result = loadBinaryData(buffer, model, content, ui);

    // Loading a file always leaves auto-increment switched off.
    serial.enabled = false;
    serial.active = false;
    refreshExtents(buffer, serial, ui);
    return result;
}

bool reselectLastFile(CodeBuffer& buffer, const std::string& storedPath, Ui& ui) {
    struct stat st {};
    if (storedPath.empty() || ::stat(storedPath.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        showBox(kNotFound, {}, ui);
        return false;
    }
    buffer.currentPath = storedPath;
    return true;
}

}  // namespace qmx
