#pragma once

#include "ui/model/form.h"

#include <string>
#include <vector>

namespace morvandell::ui {

class FrontEnd;
class FormView;

// The user guide: HTML pages installed with the program, German (index.html) and English (en.html),
// opened in the system's browser by "Hilfe" (F1) in either window's context menu.
namespace userguide {

constexpr const char* Command = "help";
constexpr const char* GermanPage = "index.html";
constexpr const char* EnglishPage = "en.html";

// The entry "Hilfe" with its shortcut F1, for a window's context menu.
MenuItemSpec menuItem();

// The folders a program in programFolder looks in, in order. Windows: "Hilfe" beside the program (setup
// program and zip); elsewhere ../share/doc/morvandell/handbuch (the package, or any install prefix).
// Last the build tree's docs/handbuch, for a program run from build/app/.
std::vector<std::string> folders(const std::string& programFolder);

// The page for the user's language ("de": German, anything else English) from the first folder that
// holds it, or that folder's other page when it holds only that one. Empty when no folder has a page.
std::string find(const std::string& programFolder, const std::string& language);

// Opens the guide for this program and its user in the system's browser. False after telling the user
// (the guide is not installed, or no program could show it).
bool open(FrontEnd& frontEnd, FormView* owner);

} // namespace userguide
} // namespace morvandell::ui
