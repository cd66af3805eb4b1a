#include "core/language.h"

#include <cstdlib>
#include <vector>

#include "core/language_table.h"

namespace qmx {

namespace {

constexpr std::string_view kTwinPrefix = "Chinese:";

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

// Chinese characters, their punctuation and full-width forms all lie at U+2E80 and above:
// a UTF-8 sequence that starts with E2 BA or higher, or with E3..EF.
bool startsCjk(std::string_view s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b >= 0xE3 && b <= 0xEF) return true;
    if (b == 0xE2 && i + 1 < s.size()) return static_cast<unsigned char>(s[i + 1]) >= 0xBA;
    return false;
}

bool hasCjk(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i)
        if (startsCjk(s, i)) return true;
    return false;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// Runs of blanks become one blank: the same text is padded differently in different places.
std::string collapse(std::string_view s) {
    std::string out;
    for (char c : trim(s)) {
        if (isSpace(c) && !out.empty() && out.back() == ' ') continue;
        out += isSpace(c) ? ' ' : c;
    }
    return out;
}

// Matches text against a pattern whose "{}" stand for any text; fills the captures.
bool matchPattern(std::string_view pattern, std::string_view text,
                  std::vector<std::string>& captures) {
    std::vector<std::string_view> pieces;
    for (std::size_t from = 0;;) {
        const std::size_t hole = pattern.find("{}", from);
        pieces.push_back(pattern.substr(from, hole - from));
        if (hole == std::string_view::npos) break;
        from = hole + 2;
    }
    captures.clear();
    if (pieces.size() == 1) return pieces[0] == text;
    const std::string_view first = pieces.front();
    const std::string_view last = pieces.back();
    if (text.size() < first.size() + last.size() || text.substr(0, first.size()) != first ||
        text.substr(text.size() - last.size()) != last)
        return false;
    std::string_view rest = text.substr(first.size(), text.size() - first.size() - last.size());
    for (std::size_t i = 1; i + 1 < pieces.size(); ++i) {
        const std::size_t at = rest.find(pieces[i]);
        if (pieces[i].empty() || at == std::string_view::npos) return false;
        captures.emplace_back(rest.substr(0, at));
        rest.remove_prefix(at + pieces[i].size());
    }
    captures.emplace_back(rest);
    return true;
}

// A captured value that is itself a word of the system (Yes, No, ...) in the language.
std::string valueIn(const std::string& value, Language language) {
    if (language != Language::Zh) return value;
    const std::string_view v = trim(value);
    for (const ValueWord& word : valueWords())
        if (v == word.en) return word.zh;
    return value;
}

// Fills "{}" (the next capture) and "{N}" (capture N) of a template.
std::string fill(std::string_view tmpl, const std::vector<std::string>& captures,
                 Language language) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < tmpl.size(); ++i) {
        if (tmpl[i] == '{') {
            const std::size_t close = tmpl.find('}', i);
            if (close != std::string_view::npos && close - i <= 2) {
                std::size_t index = next++;
                if (close - i == 2) index = static_cast<std::size_t>(tmpl[i + 1] - '0');
                if (index < captures.size()) out += valueIn(captures[index], language);
                i = close;
                continue;
            }
        }
        out += tmpl[i];
    }
    return out;
}

// The two halves of a bilingual line "English / 中文" (also "English./中文", "OK/中文"): the
// first slash that has a blank after it, a full stop before it or Chinese right after it,
// with no Chinese before it and some after it. A slash inside a path or "1/2" does not split.
bool splitBilingual(std::string_view line, std::string_view& en, std::string_view& zh) {
    for (std::size_t slash = line.find('/', 1); slash != std::string_view::npos;
         slash = line.find('/', slash + 1)) {
        const std::string_view before = line.substr(0, slash);
        if (hasCjk(before)) return false;
        const std::string_view after = line.substr(slash + 1);
        const bool marked =
            (!after.empty() && (isSpace(after[0]) || startsCjk(after, 0))) || before.back() == '.';
        if (!marked || !hasCjk(after)) continue;
        en = trim(before);
        zh = trim(after);
        return !en.empty();
    }
    return false;
}

bool isTwinLine(std::string_view line) {
    return trim(line).substr(0, kTwinPrefix.size()) == kTwinPrefix;
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t from = 0;;) {
        const std::size_t end = text.find('\n', from);
        std::string_view line = text.substr(from, end - from);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        from = end + 1;
    }
    return lines;
}

// Each line collapsed, joined by LF: the form texts and table entries are compared in.
std::string normalised(std::string_view text) {
    const std::vector<std::string_view> lines = splitLines(text);
    std::string out = collapse(lines[0]);
    for (std::size_t i = 1; i < lines.size(); ++i)
        out += '\n' + collapse(lines[i]);
    return out;
}

const std::vector<std::string>& patterns() {
    static const std::vector<std::string> all = [] {
        std::vector<std::string> out;
        for (const LanguageEntry& entry : languageTable())
            out.push_back(normalised(entry.both));
        return out;
    }();
    return all;
}

// The entry whose "both" form matches the key, with its captures; null when none does.
const LanguageEntry* findEntry(const std::string& key, std::vector<std::string>& captures) {
    for (std::size_t i = 0; i < patterns().size(); ++i)
        if (matchPattern(patterns()[i], key, captures)) return &languageTable()[i];
    return nullptr;
}

}  // namespace

std::optional<Language> parseLanguage(std::string_view name) {
    if (name == "both") return Language::Both;
    if (name == "en") return Language::En;
    if (name == "zh") return Language::Zh;
    return std::nullopt;
}

const char* languageName(Language language) {
    switch (language) {
        case Language::En:
            return "en";
        case Language::Zh:
            return "zh";
        case Language::Both:
            break;
    }
    return "both";
}

Language languageFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || value[0] == '\0') continue;
        return std::string_view(value).substr(0, 2) == "zh" ? Language::Zh : Language::Both;
    }
    return Language::Both;
}

void Localizer::setLanguage(Language language) {
    language_ = language;
    inTwinBlock_ = false;
}

// One line (no line break) in the language; nullopt drops it.
std::optional<std::string> Localizer::line(std::string_view text) {
    const std::string_view core = trim(text);
    if (core.empty()) return std::string(text);
    const std::string indent(text.substr(0, static_cast<std::size_t>(core.data() - text.data())));
    const bool en = language_ == Language::En;
    const bool chinese = hasCjk(core);
    if (!chinese) inTwinBlock_ = false;
    std::vector<std::string> captures;
    if (const LanguageEntry* entry = findEntry(collapse(core), captures)) {
        if (en && inTwinBlock_ && entry->twinOnly) return std::nullopt;
        const char* chosen = en ? entry->en : entry->zh;
        if (chosen == nullptr) return std::nullopt;
        return indent + fill(chosen, captures, language_);
    }
    if (isTwinLine(core)) {
        inTwinBlock_ = true;
        if (en) return std::nullopt;
        return indent + std::string(trim(core.substr(kTwinPrefix.size())));
    }
    std::string_view enPart;
    std::string_view zhPart;
    if (splitBilingual(core, enPart, zhPart)) return indent + std::string(en ? enPart : zhPart);
    if (en && inTwinBlock_ && chinese) return std::nullopt;
    return std::string(text);
}

std::optional<std::string> Localizer::operator()(const std::string& text) {
    if (language_ == Language::Both) return text;
    const std::vector<std::string_view> lines = splitLines(text);
    if (lines.size() > 2) {
        // A whole text of its own (a help page) has its forms in the table.
        std::vector<std::string> captures;
        if (const LanguageEntry* whole = findEntry(normalised(text), captures)) {
            const char* chosen = language_ == Language::En ? whole->en : whole->zh;
            if (chosen == nullptr) return std::nullopt;
            return fill(chosen, captures, language_);
        }
    }
    std::vector<std::string> kept;
    bool anyShown = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::optional<std::string> shown;
        std::vector<std::string> captures;
        const LanguageEntry* pair =
            i + 1 < lines.size()
                ? findEntry(collapse(lines[i]) + "\n" + collapse(lines[i + 1]), captures)
                : nullptr;
        if (pair != nullptr) {
            // An English line and its Chinese twin on the next line.
            const std::string_view core = trim(lines[i]);
            const std::string indent(
                lines[i].substr(0, static_cast<std::size_t>(core.data() - lines[i].data())));
            const char* chosen = language_ == Language::En ? pair->en : pair->zh;
            if (chosen != nullptr) shown = indent + fill(chosen, captures, language_);
            ++i;
        } else if (language_ == Language::Zh && i + 1 < lines.size() && isTwinLine(lines[i + 1]) &&
                   !isTwinLine(lines[i])) {
            // In Chinese, a line whose twin follows in the same text gives way to it.
            continue;
        } else {
            shown = line(lines[i]);
        }
        if (!shown) continue;
        anyShown = anyShown || !trim(*shown).empty();
        kept.push_back(std::move(*shown));
    }
    if (!anyShown && !trim(text).empty()) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0) out += "\r\n";
        out += kept[i];
    }
    return out;
}

std::optional<std::string> localize(const std::string& text, Language language) {
    Localizer localizer(language);
    return localizer(text);
}

}  // namespace qmx
