#include "settings/settings_store.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <unordered_map>

#include "catalogue/text_util.h"

namespace qmx {
namespace fs = std::filesystem;

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

// Length of the valid UTF-8 sequence starting at s[i], or 0 when the byte there does not
// start one (overlong forms, surrogates and values above U+10FFFF are invalid).
std::size_t utf8SequenceLength(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    std::size_t len = 0;
    unsigned lowest = 0;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    unsigned cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    lowest = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
    if (cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8SequenceLength(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

bool hasControl(std::string_view s) {
    for (char c : s) {
        if (isControl(static_cast<unsigned char>(c))) return true;
    }
    return false;
}

// A key or section name may not hold control characters, nor a byte-order mark: written at
// the start of the file, a name beginning with one would be read back without it.
bool unfitName(std::string_view s) {
    return hasControl(s) || s.find("\xEF\xBB\xBF") != std::string_view::npos;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void appendHexEscape(std::string& out, unsigned char c) {
    static constexpr char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out += digits[c >> 4];
    out += digits[c & 0x0F];
}

// "<lead> (line 3)" or "<lead> (lines 3, 4, …)" followed by `tail`; empty for no lines.
std::string lineListWarning(const std::vector<std::size_t>& lines, const std::string& lead,
                            const std::string& tail) {
    if (lines.empty()) return {};
    std::string text = lead + (lines.size() > 1 ? " (lines " : " (line ");
    for (std::size_t i = 0; i < lines.size() && i < 10; ++i)
        text += (i ? ", " : "") + std::to_string(lines[i]);
    if (lines.size() > 10) text += ", …";
    return text + ")" + tail;
}

std::string errnoText(int err) {
    return std::strerror(err);
}

std::string saveError(const fs::path& path, const std::string& reason) {
    return "Cannot save the settings to " + path.string() + ": " + reason +
           " / 无法保存设置文件, 原设置文件保持不变。";
}

// Write the whole buffer to fd, retrying short writes and interrupted calls.
bool writeAll(int fd, std::string_view data, int& err) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

void removeStaleTempFiles(const fs::path& dir, const std::string& prefix) {
    std::error_code ec;
    const auto now = fs::file_time_type::clock::now();
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc) || it->is_symlink(fileEc)) continue;
        // The writer's process id follows the prefix: a temporary file whose writer is gone
        // is left over from a save that never finished. An old one is stale in any case (the
        // id may have been reused).
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        const bool writerGone =
            pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
        const auto written = it->last_write_time(fileEc);
        const bool old = !fileEc && now - written > kStaleTempAge;
        if (writerGone || old) fs::remove(it->path(), fileEc);
    }
}

int replaceFileWhole(const fs::path& target, std::string_view bytes, mode_t newMode) {
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = (dir / ("." + target.filename().string() + ".tmp-" + std::to_string(::getpid()) +
                       "-" + std::to_string(counter++)))
                   .string();
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, newMode);
        if (fd < 0 && errno != EEXIST) return errno;
    }
    if (fd < 0) return EEXIST;
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);

    int err = 0;
    bool ok = writeAll(fd, bytes, err);
    if (ok && ::fsync(fd) != 0) {
        err = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        err = errno;
        ok = false;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        err = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return err;
    }
    if (const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return 0;
}

SettingsStore::SettingsStore() : path_(defaultPath()) {}

SettingsStore::SettingsStore(fs::path path) : path_(std::move(path)) {}

fs::path SettingsStore::defaultPath() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && home[0] != '\0') {
        base = fs::path(home) / ".config";
    } else {
        base = fs::path(".config");
    }
    return base / "qmx-isp" / "settings.ini";
}

void SettingsStore::setPath(fs::path path) {
    path_ = std::move(path);
    sections_.clear();
    warning_.clear();
    lastError_.clear();
    damaged_ = false;
    dirty_ = false;
    pending_.clear();
}

bool SettingsStore::open(fs::path path) {
    setPath(std::move(path));
    return load();
}

bool SettingsStore::load() {
    sections_.clear();
    pending_.clear();
    warning_.clear();
    damaged_ = false;
    dirty_ = false;

    std::error_code ec;
    const fs::file_status st = fs::status(path_, ec);
    if (!fs::exists(st)) return true;  // first run
    const std::string where = path_.string();
    if (fs::is_directory(st)) {
        warning_ = "The settings file " + where +
                   " is a folder; the defaults are used. / 设置文件是一个文件夹, 使用默认设置。";
        return false;
    }
    if (!fs::is_regular_file(st)) {
        // A device or FIFO is neither read (a FIFO would block) nor ever replaced.
        warning_ = "The settings file " + where +
                   " is not a regular file (a device, FIFO or socket); the defaults are used "
                   "and it is never replaced. / 设置文件不是普通文件, 使用默认设置。";
        return false;
    }
    const auto size = fs::file_size(path_, ec);
    if (!ec && size > kMaxFileSize) {
        damaged_ = true;
        warning_ = "The settings file " + where +
                   " is too large to be a settings file; the defaults are used. / "
                   "设置文件已损坏, 使用默认设置。";
        return false;
    }
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream bytes;
    if (in) bytes << in.rdbuf();
    if (!in || in.bad()) {
        damaged_ = true;
        warning_ = "The settings file " + where + " cannot be read (" + errnoText(errno) +
                   "); the defaults are used. / 无法读取设置文件, 使用默认设置。";
        return false;
    }
    return loadText(bytes.str());
}

bool SettingsStore::loadText(std::string_view bytes) {
    Parsed parsed = parse(bytes);
    sections_ = std::move(parsed.sections);
    // Lines set aside are kept in the backup copy that the next save makes.
    damaged_ = parsed.damaged || !parsed.setAside.empty();
    dirty_ = false;
    pending_.clear();
    warning_.clear();
    if (!parsed.warning.empty()) {
        warning_ = "The settings file " + path_.string() + " " + parsed.warning;
    }
    return !damaged_;
}

namespace {

// Reads a settings text line by line into sections, setting aside what is not text and
// noting lines that are neither a header nor a key.
class SettingsParser {
  public:
    SettingsParser() { result_.sections.push_back(SettingsStore::Section{}); }

    void take(std::string_view raw, std::size_t lineNo) {
        while (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        const std::string_view line = trimBlanks(raw);
        const bool readable = validUtf8(raw) && raw.find('\0') == std::string_view::npos;
        if (!line.empty() && line.front() == '[' && !readable) {
            // The keys below a header that cannot be read belong to no known section.
            unreadableSection_ = true;
            result_.setAside.push_back(lineNo);
        } else if (unreadableSection_ && (line.empty() || line.front() != '[')) {
            result_.setAside.push_back(lineNo);
        } else if (line.empty() || line.front() == ';' || line.front() == '#') {
            if (readable)
                keepVerbatim(raw);
            else
                result_.setAside.push_back(lineNo);
        } else if (!takeHeader(line) && !takeKey(line)) {
            if (!readable) {
                result_.setAside.push_back(lineNo);
                return;
            }
            // Neither a header nor a key: keep the line as it is and report it.
            keepVerbatim(raw);
            badLines_.push_back(lineNo);
        }
    }

    SettingsStore::Parsed finish() {
        result_.warning =
            lineListWarning(badLines_, "has lines that are not settings",
                            "; they are kept as they are. / 设置文件中有无法识别的行, 已保留。");
        const std::string setAside = lineListWarning(
            result_.setAside, "has lines that cannot be read as text",
            "; they are set aside (the whole file is copied to the .damaged file beside it at "
            "the next save) and every other setting is kept. / 设置文件中有无法读取的行, "
            "已移出, 其余设置保持不变。");
        if (!setAside.empty()) result_.warning += (result_.warning.empty() ? "" : " ") + setAside;
        return std::move(result_);
    }

  private:
    void keepVerbatim(std::string_view raw) {
        result_.sections[current_].lines.push_back(SettingsStore::Line{{}, std::string(raw)});
    }

    // A "[name]" header opens (or, repeated, goes back to) its section.
    bool takeHeader(std::string_view line) {
        if (line.front() != '[') return false;
        const std::string_view name = line.size() >= 2 && line.back() == ']'
                                          ? trimBlanks(line.substr(1, line.size() - 2))
                                          : std::string_view{};
        if (name.empty()) return false;
        unreadableSection_ = false;
        auto [it, added] = sectionIndex_.try_emplace(std::string(name), result_.sections.size());
        if (added) result_.sections.push_back(SettingsStore::Section{std::string(name), {}});
        current_ = it->second;
        return true;
    }

    // A "key = value" line; the value keeps whatever bytes it holds (they are escaped when
    // written back).
    bool takeKey(std::string_view line) {
        if (line.front() == '[') return false;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return false;
        const std::string_view key = trimBlanks(line.substr(0, eq));
        if (key.empty() || unfitName(key) || !validUtf8(key)) return false;
        result_.sections[current_].lines.push_back(SettingsStore::Line{
            std::string(key), SettingsStore::unescapeValue(trimBlanks(line.substr(eq + 1)))});
        return true;
    }

    SettingsStore::Parsed result_;
    std::unordered_map<std::string, std::size_t> sectionIndex_;  // a repeated header merges
    std::size_t current_ = 0;  // section 0 holds the lines before the first header
    bool unreadableSection_ = false;
    std::vector<std::size_t> badLines_;
};

}  // namespace

SettingsStore::Parsed SettingsStore::parse(std::string_view bytes) {
    if (bytes.size() > kMaxFileSize) {
        Parsed result;
        result.damaged = true;
        result.warning =
            "is too large to be a settings file; the defaults are used. / "
            "设置文件已损坏, 使用默认设置。";
        return result;
    }
    while (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    SettingsParser parser;
    std::size_t lineNo = 0;
    while (!bytes.empty()) {
        const std::size_t nl = bytes.find('\n');
        parser.take(bytes.substr(0, nl), ++lineNo);
        bytes.remove_prefix(nl == std::string_view::npos ? bytes.size() : nl + 1);
    }
    return parser.finish();
}

std::string SettingsStore::escapeValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const auto c = static_cast<unsigned char>(value[i]);
        const bool edge = i == 0 || i + 1 == value.size();
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (isControl(c) || (edge && isBlank(static_cast<char>(c)))) {
            appendHexEscape(out, c);
            ++i;
        } else if (const std::size_t n = utf8SequenceLength(value, i); n == 0) {
            appendHexEscape(out, c);  // not UTF-8: keep the byte, keep the file text
            ++i;
        } else {
            out.append(value.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string SettingsStore::unescapeValue(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            if (text[i + 1] == '\\') {
                out += '\\';
                ++i;
                continue;
            }
            if (text[i + 1] == 'x' && i + 3 < text.size()) {
                const int hi = hexValue(text[i + 2]);
                const int lo = hexValue(text[i + 3]);
                if (hi >= 0 && lo >= 0) {
                    out += static_cast<char>(hi * 16 + lo);
                    i += 3;
                    continue;
                }
            }
        }
        out += text[i];
    }
    return out;
}

namespace {

using Sections = std::vector<SettingsStore::Section>;

template <typename Vec>
auto* findIn(Vec& sections, std::string_view name) {
    for (auto& s : sections) {
        if (!s.name.empty() && s.name == name) return &s;
    }
    return static_cast<decltype(&sections.front())>(nullptr);
}

// Set a key in `sections`; true when that changed anything.
bool setIn(Sections& sections, std::string_view section, std::string_view key,
           std::string_view value) {
    SettingsStore::Section* s = findIn(sections, section);
    if (!s) {
        // A blank line between the last section and the new one keeps the file readable.
        if (!sections.empty()) {
            auto& lines = sections.back().lines;
            if (!lines.empty() &&
                !(lines.back().key.empty() && trimBlanks(lines.back().value).empty())) {
                lines.push_back(SettingsStore::Line{});
            }
        }
        sections.push_back(SettingsStore::Section{std::string(section), {}});
        s = &sections.back();
    }
    for (SettingsStore::Line& l : s->lines) {
        if (!l.key.empty() && l.key == key) {
            if (l.value == value) return false;
            l.value = std::string(value);
            return true;
        }
    }
    // A new key goes after the section's last key, before trailing blank lines or comments.
    auto pos = s->lines.end();
    while (pos != s->lines.begin() && std::prev(pos)->key.empty())
        --pos;
    s->lines.insert(pos, SettingsStore::Line{std::string(key), std::string(value)});
    return true;
}

bool removeIn(Sections& sections, std::string_view section, std::string_view key) {
    SettingsStore::Section* s = findIn(sections, section);
    if (!s) return false;
    for (auto it = s->lines.begin(); it != s->lines.end(); ++it) {
        if (!it->key.empty() && it->key == key) {
            s->lines.erase(it);
            return true;
        }
    }
    return false;
}

std::string serialiseSections(const Sections& sections) {
    std::string out;
    for (const SettingsStore::Section& s : sections) {
        if (!s.name.empty()) {
            out += '[';
            out += s.name;
            out += "]\n";
        }
        for (const SettingsStore::Line& l : s.lines) {
            if (l.key.empty()) {
                out += l.value;
            } else {
                out += l.key;
                out += '=';
                out += SettingsStore::escapeValue(l.value);
            }
            out += '\n';
        }
    }
    return out;
}

// The bytes of a regular file of at most `limit` bytes; false when there is no such file or
// it cannot be read.
bool readSmallFile(const fs::path& path, std::size_t limit, std::string& bytes) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    const auto size = fs::file_size(path, ec);
    if (ec || size > limit) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return false;
    bytes = out.str();
    return true;
}

}  // namespace

const SettingsStore::Section* SettingsStore::findSection(std::string_view name) const {
    return findIn(sections_, name);
}

std::string SettingsStore::read(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
    if (const Section* s = findSection(section)) {
        for (const Line& l : s->lines) {
            if (!l.key.empty() && l.key == key) return l.value;
        }
    }
    return std::string(defaultValue);
}

bool SettingsStore::contains(std::string_view section, std::string_view key) const {
    if (const Section* s = findSection(section)) {
        for (const Line& l : s->lines) {
            if (!l.key.empty() && l.key == key) return true;
        }
    }
    return false;
}

bool SettingsStore::set(std::string_view section, std::string_view key, std::string_view value) {
    if (section.empty() || key.empty()) return false;
    if (trimBlanks(section) != section || trimBlanks(key) != key) return false;
    if (unfitName(section) || unfitName(key) || !validUtf8(section) || !validUtf8(key)) {
        return false;
    }
    if (section.find(']') != std::string_view::npos) return false;
    if (key.find('=') != std::string_view::npos) return false;
    if (key.front() == '[' || key.front() == ';' || key.front() == '#') return false;

    if (setIn(sections_, section, key, value)) {
        pending_.push_back(
            Change{std::string(section), std::string(key), std::string(value), false});
        dirty_ = true;
    }
    return true;
}

bool SettingsStore::remove(std::string_view section, std::string_view key) {
    if (!removeIn(sections_, section, key)) return false;
    pending_.push_back(Change{std::string(section), std::string(key), {}, true});
    dirty_ = true;
    return true;
}

std::string SettingsStore::serialise() const {
    return serialiseSections(sections_);
}

std::string SettingsStore::saveWarnOnce() {
    std::string error = save();
    if (error == warnedError_) return {};
    warnedError_ = error;
    return error;
}

namespace {

// The file a save writes: through a symbolic link to the file it names, so the link stays a
// link.
fs::path saveTarget(const fs::path& path) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        fs::path resolved = fs::weakly_canonical(path, ec);
        if (!ec) return resolved;
    }
    return path;
}

// Why `target` cannot be replaced in `dir` (created when missing); empty when it can.
std::string unfitTarget(const fs::path& target, const fs::path& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return "cannot create the folder " + dir.string() + " (" + ec.message() + ")";
    const fs::file_status st = fs::status(target, ec);
    if (fs::is_directory(st)) return "a folder of that name is in the way";
    if (fs::exists(st) && !fs::is_regular_file(st)) {
        return "it is not a regular file (a device, FIFO or socket), so it is not replaced";
    }
    return {};
}

// Keeps the bytes of a file that could not be read as settings before it is replaced; when
// no copy can be made, the save stops and the file is left alone. Empty when all is well.
std::string backUpDamaged(const fs::path& target) {
    std::error_code ec;
    if (!fs::exists(target, ec)) return {};
    fs::path backup = target;
    backup += ".damaged";
    fs::copy_file(target, backup, fs::copy_options::overwrite_existing, ec);
    if (!ec) return {};
    return "the unreadable file could not be copied to " + backup.string() + " (" + ec.message() +
           ")";
}

}  // namespace

// Another program (the window and the command line share the file) may have written the file
// since it was read: start from what is there now and replay this store's own changes on it,
// so that neither side's changes are lost. A damaged or unreadable file is replaced by this
// store's sections.
std::vector<SettingsStore::Section> SettingsStore::mergedWithFile(const fs::path& target) const {
    if (damaged_) return sections_;
    std::string bytes;
    if (!readSmallFile(target, kMaxFileSize, bytes)) return sections_;
    Parsed current = parse(bytes);
    if (current.damaged) return sections_;
    Sections merged = std::move(current.sections);
    for (const Change& c : pending_) {
        if (c.removed) {
            removeIn(merged, c.section, c.key);
        } else {
            setIn(merged, c.section, c.key, c.value);
        }
    }
    return merged;
}

std::string SettingsStore::save() {
    lastError_.clear();
    const fs::path target = saveTarget(path_);
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";

    std::string reason = unfitTarget(target, dir);
    if (reason.empty()) {
        removeStaleTempFiles(dir, "." + target.filename().string() + ".tmp-");
        if (damaged_) reason = backUpDamaged(target);
    }
    Sections merged;
    if (reason.empty()) {
        merged = mergedWithFile(target);
        if (const int err = replaceFileWhole(target, serialiseSections(merged)); err != 0)
            reason = errnoText(err);
    }
    if (!reason.empty()) {
        lastError_ = saveError(target, reason);
        return lastError_;
    }
    sections_ = std::move(merged);
    pending_.clear();
    dirty_ = false;
    damaged_ = false;
    return {};
}

}  // namespace qmx
