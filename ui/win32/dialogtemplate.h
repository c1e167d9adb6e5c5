#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace morvandell::win32 {

// An extended dialog template (DLGTEMPLATEEX) built in memory, for the program's own small dialogs:
// no resource file needed, so that every program linking the front end has them. Units are dialog
// units; the font is the shell's dialog font.
class DialogTemplate
{
public:
    enum class Kind : WORD { Button = 0x0080, Edit = 0x0081, Static = 0x0082 };

    DialogTemplate(const std::wstring& title, DWORD style, short width, short height);

    void add(Kind kind, int id, const std::wstring& text, DWORD style, short x, short y, short width,
             short height);
    // The template, valid while this object lives and nothing more is added.
    const DLGTEMPLATE* get() const;

private:
    void word(WORD w) { m_words.push_back(w); }
    void dword(DWORD d);
    void string(const std::wstring& s);
    void align();

    std::vector<WORD> m_words;
    size_t m_countAt = 0;
};

} // namespace morvandell::win32
