#pragma once

#include "ui/model/form.h"

#include <windows.h>

namespace morvandell::win32 {

constexpr UINT StandardDpi = 96;

// A length in twips as pixels at a DPI.
int scale(int twips, UINT dpi);

// The DPI of the monitor a window is on (the system's where the system cannot tell per window).
UINT dpiOfWindow(HWND hwnd);

// The outer size of a window with this style whose client area is client pixels at the DPI.
SIZE windowSizeForClient(SIZE client, DWORD style, DWORD exStyle, UINT dpi);

// Sizes a window so that its client area is client pixels at the DPI, whatever its frame measures.
void resizeToClient(HWND hwnd, SIZE client, DWORD style, DWORD exStyle, UINT dpi);

// The pixel rectangle a control should have at a DPI, in client coordinates.
RECT scaledGeometry(const ui::FormSpec& def, const ui::ControlSpec& control, UINT dpi);
SIZE scaledClientSize(const ui::FormSpec& def, UINT dpi);

// Combo boxes too narrow for "Com #16" beside the arrow in the regular cut take the condensed one.
bool wantsNarrowFont(const ui::ControlSpec& control);

// The windows' fonts at one DPI: "MS Sans Serif" 8.25 pt (away from 96 dpi its outline twin, where
// installed), bold, and the same size in a condensed cut. Deleted with the object: a window replaces
// its fonts only after its controls have taken the new ones.
class WindowFonts
{
public:
    WindowFonts() = default;
    explicit WindowFonts(UINT dpi);
    ~WindowFonts();
    WindowFonts(WindowFonts&& other) noexcept;
    WindowFonts& operator=(WindowFonts&& other) noexcept;
    WindowFonts(const WindowFonts&) = delete;
    WindowFonts& operator=(const WindowFonts&) = delete;

    // The font of a control: bold, regular, or (narrow combo boxes) condensed.
    HFONT forControl(const ui::ControlSpec& control) const;

private:
    void release();

    HFONT m_regular = nullptr;
    HFONT m_bold = nullptr;
    HFONT m_narrow = nullptr;
};

} // namespace morvandell::win32
