// The translations of the system's texts, for localize(). Each entry gives a text as the
// system writes it (its "both" form) with its English and its Chinese form. "{}" in the
// "both" form stands for a variable part (a number, a file name, a time); "{}" in the other
// two takes the variable parts in order, "{N}" takes part N (from 0). A null form means the
// line is not shown in that language, because its twin line carries it there. A "both" form
// of two lines pairs an English line with the Chinese line right after it; one of more lines
// is a whole text (a help page), matched only as a whole.
#pragma once

#include <span>

namespace qmx {

struct LanguageEntry {
    const char* both;
    const char* en;
    const char* zh;
    // A Chinese line that repeats an English line shown just before it (after a "Chinese:"
    // line): not shown again in English there.
    bool twinOnly = false;
};

// Words that appear as variable parts (option states): shown in Chinese in a Chinese line.
struct ValueWord {
    const char* en;
    const char* zh;
};

std::span<const LanguageEntry> languageTable();
std::span<const ValueWord> valueWords();

}  // namespace qmx
