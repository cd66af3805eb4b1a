// One language for the user: the system's texts are bilingual (English and Chinese on one
// line, or an English line with its Chinese twin on the next one, or a line in one of the two
// only). A face that shows them in one language passes each text through localize(); the core
// keeps producing the bilingual texts, which are the "both" form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qmx {

enum class Language { Both, En, Zh };

// "both", "en", "zh"; nullopt for anything else.
std::optional<Language> parseLanguage(std::string_view name);
const char* languageName(Language language);

// The language the environment asks for: the first of LC_ALL, LC_MESSAGES and LANG that is
// set and not empty (the C library's order) starting with "zh" gives Zh, anything else Both.
Language languageFromEnvironment();

// Turns the texts a face shows, one after the other, into one language. It remembers one
// thing between texts: in English, the Chinese lines that follow a "Chinese:" twin line
// repeat the English lines before it and are left out too, until a line without Chinese.
class Localizer {
  public:
    explicit Localizer(Language language = Language::Both) : language_(language) {}
    Language language() const { return language_; }
    void setLanguage(Language language);
    // The text (one line or several joined by CR LF) in the language. nullopt when nothing
    // of it is shown in that language (a Chinese twin line in English, an English line whose
    // Chinese twin follows in Chinese). Both returns the text unchanged.
    std::optional<std::string> operator()(const std::string& text);
    // The pane was cleared: what follows does not continue a twin block.
    void reset() { inTwinBlock_ = false; }

  private:
    std::optional<std::string> line(std::string_view line);

    Language language_;
    bool inTwinBlock_ = false;
};

// One text on its own (a box, a title): localize() with a fresh Localizer.
std::optional<std::string> localize(const std::string& text, Language language);

}  // namespace qmx
