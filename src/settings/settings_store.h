// The per-user settings store: a text file of sections and keys, "[Section]" lines followed
// by "key=value" lines, UTF-8 throughout. Values are read with a default for missing keys,
// changed in memory, and written back as one batch. A write never leaves a half-written
// file: the new text goes to a temporary file in the same folder, is flushed to disk and then
// renamed over the old file. Sections, keys and comment lines the program does not know are
// kept as they were found.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qmx {

class SettingsStore {
  public:
    // One line of a section: a key with its value, or a line kept verbatim (a comment, a blank
    // line, or a line that is neither a key nor a section header).
    struct Line {
        std::string key;    // empty for a verbatim line
        std::string value;  // the value, or the verbatim text
    };
    struct Section {
        std::string name;  // empty for lines before the first section header
        std::vector<Line> lines;
    };

    // The result of parsing a settings file's bytes.
    struct Parsed {
        std::vector<Section> sections;
        std::string warning;   // empty when the text was sound
        bool damaged = false;  // the text was unusable as a whole; sections are empty
        // Lines that are not text (bytes that are not UTF-8, NUL bytes), with the lines under
        // such a section header: left out of `sections`; every other line is kept.
        std::vector<std::size_t> setAside;
    };

    // A store at the default path (see defaultPath); nothing is read until load().
    SettingsStore();
    // A store at the given file path; nothing is read until load().
    explicit SettingsStore(std::filesystem::path path);

    // $XDG_CONFIG_HOME/qmx-isp/settings.ini, or ~/.config/qmx-isp/settings.ini when that is
    // unset or not absolute.
    static std::filesystem::path defaultPath();

    const std::filesystem::path& path() const { return path_; }
    // Point the store at another file and forget what was read (call load() next).
    void setPath(std::filesystem::path path);

    // Read the file. A missing file is a first run: empty store, no warning, returns true.
    // An unreadable file gives an empty store (all defaults) and a warning text; returns
    // false. Lines that are not settings are kept and reported in the warning; lines that
    // are not text are set aside (the next save first copies the file to "<file>.damaged"),
    // reported, and make it return false, while every other line is read.
    bool load();
    // Point at `path` and load it.
    bool open(std::filesystem::path path);
    // Take the settings from a file's bytes instead of reading the file (same rules as load).
    bool loadText(std::string_view bytes);

    // The warning of the last load (empty when the file was sound or absent).
    const std::string& warning() const { return warning_; }

    // The value of a key, or `defaultValue` when the section or key is absent.
    std::string read(std::string_view section, std::string_view key,
                     std::string_view defaultValue = {}) const;
    bool contains(std::string_view section, std::string_view key) const;

    // Change a value in memory (a later save() writes it). Returns false, changing nothing,
    // for a key or section name that cannot be stored: an empty key, a key with "=", a key or
    // section name with a line break or other control character, a key beginning with "[",
    // ";" or "#", a section name with "]", or names with surrounding blanks.
    bool set(std::string_view section, std::string_view key, std::string_view value);
    // Remove a key; true when it was there.
    bool remove(std::string_view section, std::string_view key);

    // Whether something was set since the last load or save.
    bool dirty() const { return dirty_; }

    // Write every section as one batch, atomically. The changes made through this store since
    // it was loaded are applied to the file as it is at that moment, so keys another program
    // wrote meanwhile are kept (and then read by this store too). Missing folders are
    // created. On failure
    // the old file is untouched, the error text is returned (and kept in lastError()) and the
    // values stay in memory for a later try. Returns an empty string on success. When the
    // file read at load time was damaged or unreadable, its bytes are first copied to
    // "<file>.damaged"; if that copy cannot be made, the file is not replaced (an error).
    std::string save();
    const std::string& lastError() const { return lastError_; }
    // save() for callers that show the failure to the user: the error text, but only the
    // first time that error occurs; the same failure again returns "" so that one unwritable
    // file does not repeat its warning after every chip. A success re-arms the warning.
    std::string saveWarnOnce();

    // The text save() writes.
    std::string serialise() const;

    // Parse a settings file's bytes. Never throws on any input.
    static Parsed parse(std::string_view bytes);

    // Escaping of values in the file: "\" becomes "\\", control characters and a leading or
    // trailing blank become "\xHH". Unescaping turns "\\" and "\xHH" back and keeps any other
    // backslash as it is.
    static std::string escapeValue(std::string_view value);
    static std::string unescapeValue(std::string_view text);

    const std::vector<Section>& sections() const { return sections_; }

    // Files larger than this are treated as damaged (a settings file is a few kilobytes).
    static constexpr std::size_t kMaxFileSize = 1 << 20;

  private:
    // One set() or remove() since the last load or save, replayed on the file at save time.
    struct Change {
        std::string section;
        std::string key;
        std::string value;
        bool removed = false;
    };

    const Section* findSection(std::string_view name) const;
    std::vector<Section> mergedWithFile(const std::filesystem::path& target) const;

    std::filesystem::path path_;
    std::vector<Section> sections_;
    std::string warning_;
    std::string lastError_;
    std::string warnedError_;
    std::vector<Change> pending_;
    bool damaged_ = false;
    bool dirty_ = false;
};

// Files are saved through a temporary file named "<prefix><process id>-..." beside them; a
// save killed half-way leaves it behind. This removes those of `prefix` in `dir` whose
// writing process is gone or that are older than kStaleTempAge; others are left alone.
inline constexpr std::chrono::minutes kStaleTempAge{10};
void removeStaleTempFiles(const std::filesystem::path& dir, const std::string& prefix);

// Replaces the file `target` whole: the bytes go to a temporary file ".<name>.tmp-<pid>-<n>"
// beside it (with the old file's permissions, or `newMode` under the umask for a new file),
// which is flushed to the disk and renamed over `target`; the rename is made durable too. A
// full disk or an interruption never leaves half a file under the name. 0 on success, else
// the errno of the step that failed (the temporary file is removed then).
int replaceFileWhole(const std::filesystem::path& target, std::string_view bytes,
                     mode_t newMode = 0644);

}  // namespace qmx
