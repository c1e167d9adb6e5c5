#include "ui/model/userguide.h"

#include "platform/files.h"
#include "ui/model/frontend.h"

namespace morvandell::ui::userguide {

namespace {

std::string normal(const std::string& path)
{
    return files::fromPath(files::toPath(path).lexically_normal());
}

} // namespace

MenuItemSpec menuItem()
{
    return {Command, "Hilfe", "F1"};
}

std::vector<std::string> folders(const std::string& programFolder)
{
#ifdef _WIN32
    const char* installed = "Hilfe";
#else
    const char* installed = "../share/doc/morvandell/handbuch";
#endif
    return {normal(files::join(programFolder, installed)), normal(files::join(programFolder, "../docs/handbuch"))};
}

std::string find(const std::string& programFolder, const std::string& language)
{
    const bool german = language == "de";
    for (const std::string& folder : folders(programFolder)) {
        for (const char* page : {german ? GermanPage : EnglishPage, german ? EnglishPage : GermanPage}) {
            const std::string path = files::join(folder, page);
            if (files::isRegularFile(path))
                return path;
        }
    }
    return {};
}

bool open(FrontEnd& frontEnd, FormView* owner)
{
    const std::string folder = files::programFolder();
    const std::string page = find(folder, files::userLanguage());
    if (page.empty()) {
        frontEnd.dialogs().message(owner, "Hilfe",
                                   "Das Benutzerhandbuch fehlt: " + files::join(folders(folder).front(), GermanPage) +
                                       " gibt es nicht.\nInstallieren Sie Morvandell neu.",
                                   Dialogs::Icon::Warning);
        return false;
    }
    if (!frontEnd.openDocument(page)) {
        frontEnd.dialogs().message(owner, "Hilfe",
                                   "Das Benutzerhandbuch " + page +
                                       " lässt sich nicht öffnen: kein Programm zum Anzeigen von Webseiten "
                                       "(Webbrowser) ist eingerichtet.\nÖffnen Sie die Datei von Hand in einem Webbrowser.",
                                   Dialogs::Icon::Warning);
        return false;
    }
    return true;
}

} // namespace morvandell::ui::userguide
