#include "cli/stdio_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace qmx::cli {

namespace {

namespace fs = std::filesystem;

// The program's temporary folder, made on first use and removed at exit.
class SpoolFolder {
  public:
    ~SpoolFolder() {
        if (path_.empty()) return;
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const std::string& path(std::string& error) {
        if (!path_.empty()) return path_;
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qmx-isp-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            error = "cannot make a temporary folder: " + std::string(std::strerror(errno));
        else
            path_ = pattern;
        return path_;
    }

  private:
    std::string path_;
};

SpoolFolder& folder() {
    static SpoolFolder f;
    return f;
}

bool copyStream(std::FILE* from, std::FILE* to) {
    char chunk[65536];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, from);
        if (n > 0 && std::fwrite(chunk, 1, n, to) != n) return false;
        if (n < sizeof chunk) return !std::ferror(from);
    }
}

}  // namespace

std::string stdinAsFile(std::string& error) {
    static std::string copied;
    if (!copied.empty()) return copied;
    const std::string& dir = folder().path(error);
    if (dir.empty()) return {};
    const std::string path = dir + "/stdin";
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return {};
    }
    const bool ok = copyStream(stdin, out);
    if (std::fclose(out) != 0 || !ok) {
        error = "cannot read standard input into " + path;
        return {};
    }
    copied = path;
    return copied;
}

std::string stdoutSpoolFile(std::string& error) {
    const std::string& dir = folder().path(error);
    return dir.empty() ? std::string() : dir + "/stdout";
}

bool copyToStdout(const std::string& spool, std::string& error) {
    std::FILE* in = std::fopen(spool.c_str(), "rb");
    if (!in) {
        error = "cannot read " + spool + ": " + std::strerror(errno);
        return false;
    }
    std::fflush(stdout);
    const bool ok = copyStream(in, stdout);
    std::fclose(in);
    if (!ok || std::fflush(stdout) != 0) {
        error = std::string("cannot write standard output: ") + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace qmx::cli
