#pragma once

#include <windows.h>

#include <string>

namespace morvandell::win32 {

// A progress bar (the common control, range 0 to 100 at first) that shows a text centred on the bar
// when it has one: the control is subclassed to draw it on top, off screen in one piece.
class ProgressBar final
{
public:
    // bar: the created control; id: its control id.
    ProgressBar(HWND bar, UINT_PTR id, std::wstring text);
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Undoes the subclassing and lets go of the control (the window is about to destroy it).
    void detach();
    // The control is gone (destroyed by the system).
    void forget() { m_bar = nullptr; }

    const std::wstring& text() const { return m_text; }
    void setText(const std::wstring& text);
    void setRange(int minimum, int maximum);
    void setValue(int value);
    int value() const;

private:
    static LRESULT CALLBACK subclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    static void paint(HWND bar, const std::wstring& text);

    HWND m_bar = nullptr;
    UINT_PTR m_id = 0;
    std::wstring m_text;
};

} // namespace morvandell::win32
