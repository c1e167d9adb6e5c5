#include "ui/win32/dialogtemplate.h"

namespace morvandell::win32 {

DialogTemplate::DialogTemplate(const std::wstring& title, DWORD style, short width, short height)
{
    word(1);      // dlgVer
    word(0xFFFF); // signature: extended
    dword(0);     // helpID
    dword(0);     // exStyle
    dword(style | DS_SETFONT | DS_SHELLFONT);
    m_countAt = m_words.size();
    word(0); // cDlgItems
    word(0); // x
    word(0); // y
    word(WORD(width));
    word(WORD(height));
    word(0); // no menu
    word(0); // the dialog class
    string(title);
    word(8);       // point size
    word(FW_NORMAL);
    word(0x0100);  // italic FALSE, charset DEFAULT_CHARSET (1)
    string(L"MS Shell Dlg");
}

void DialogTemplate::dword(DWORD d)
{
    word(LOWORD(d));
    word(HIWORD(d));
}

void DialogTemplate::string(const std::wstring& s)
{
    for (const wchar_t c : s)
        word(WORD(c));
    word(0);
}

void DialogTemplate::align()
{
    if (m_words.size() % 2)
        word(0);
}

void DialogTemplate::add(Kind kind, int id, const std::wstring& text, DWORD style, short x, short y,
                         short width, short height)
{
    align();
    dword(0); // helpID
    dword(0); // exStyle
    dword(style | WS_CHILD | WS_VISIBLE);
    word(WORD(x));
    word(WORD(y));
    word(WORD(width));
    word(WORD(height));
    dword(DWORD(id));
    word(0xFFFF);
    word(WORD(kind));
    string(text);
    word(0); // no creation data
    ++m_words[m_countAt];
}

const DLGTEMPLATE* DialogTemplate::get() const
{
    return reinterpret_cast<const DLGTEMPLATE*>(m_words.data());
}

} // namespace morvandell::win32
