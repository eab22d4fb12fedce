// The uninstaller's texts 0 to 15: their names in manifests and the built-in
// languages that give every one of them a default.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace varnel {

enum { TEXT_COUNT = 16 };

// Names of texts 0 to 15, in number order (caption, confirm, done, ...).
const std::array<const char*, TEXT_COUNT>& textNames();

// The number of a text given by name ("caption") or by number ("16");
// nothing for an unknown name.
std::optional<unsigned> textNumber(const std::string& name);

// The manifest key of a text number: its name, or the number for 16 and up.
std::string textKey(unsigned number);

// Built-in languages, in the order in which dump prefers them.
const std::vector<std::string>& languageNames();

// The 16 UTF-8 texts of a built-in language (names compare without regard to
// case); nothing for an unknown language.
const std::array<const char*, TEXT_COUNT>* languageTexts(const std::string& language);

// The ANSI code page a built-in language's texts are written for (1252 for
// English, 932 for Japanese ...); a manifest without a "codePage" uses it.
std::optional<unsigned> languageCodePage(const std::string& language);

// The built-in spelling of a language name given in any case.
std::optional<std::string> canonicalLanguageName(const std::string& language);

} // namespace varnel
