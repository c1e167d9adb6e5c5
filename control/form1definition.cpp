// The control window's control table: names, kinds, containers, geometry in twips, texts and states.
#include "control/form1.h"

#include "ui/model/userguide.h"
#include "writer/framebuilder.h"

namespace morvandell {

namespace {

ui::ControlSpec control(const char* name, ui::ControlKind kind, const char* container, int left, int top,
                        int width, int height, const std::string& text = {})
{
    ui::ControlSpec c;
    c.name = name;
    c.kind = kind;
    c.container = container;
    c.geometry = {left, top, width, height};
    c.text = text;
    return c;
}

} // namespace

const std::array<Form1::SlotRow, Form1::SlotCount + 1>& Form1::slotRows()
{
    // Page 2's boxes count down: slot 5 is Text16/Text12, slot 8 Text13/Text9.
    static const std::array<SlotRow, SlotCount + 1> rows{{{nullptr, nullptr, nullptr},
                                                          {"Combo1", "Text1", "Text5"},
                                                          {"Combo2", "Text2", "Text6"},
                                                          {"Combo3", "Text3", "Text7"},
                                                          {"Combo4", "Text4", "Text8"},
                                                          {"Combo6", "Text16", "Text12"},
                                                          {"Combo7", "Text15", "Text11"},
                                                          {"Combo8", "Text14", "Text10"},
                                                          {"Combo9", "Text13", "Text9"}}};
    return rows;
}

ui::FormSpec Form1::definition()
{
    using K = ui::ControlKind;
    ui::FormSpec f;
    f.name = "Form1";
    f.caption = "Morvandell:";
    f.clientWidth = 5010;
    f.clientHeight = 6330;
    f.fixedSize = true;

    auto& c = f.controls;
    c.push_back(control("Command1", K::Button, "", 120, 0, 4815, 375,
                        "C:\\Programme\\ECUMaster\\log\\xml\\Version*_***.xml"));
    c.back().toolTip = "Version.xml der verwendeten Firmware wählen!";

    const int rowTops[4] = {240, 600, 960, 1320};
    for (int page = 0; page < 2; ++page) {
        const char* frame = page == 0 ? "Frame1" : "Frame2";
        c.push_back(control(frame, K::Frame, "", 120, page == 0 ? 480 : 2160, 3375, 1695,
                            page == 0 ? "Seite #1" : "Seite #2"));
        c.back().bold = true;
        for (int row = 0; row < 4; ++row) {
            const SlotRow& r = slotRows()[std::size_t(page * 4 + row + 1)];
            c.push_back(control(r.list, K::ComboBox, frame, 120, rowTops[row], 1500, 315, "Bitte wählen...."));
            c.push_back(control(r.name, K::TextBox, frame, 1680, rowTops[row], 975, 285));
            c.back().maxLength = int(FrameBuilder::NameWidth);
            c.push_back(control(r.unit, K::TextBox, frame, 2760, rowTops[row], 495, 285));
            c.back().maxLength = int(FrameBuilder::UnitWidth);
        }
    }

    c.push_back(control("Command2", K::Button, "", 3600, 600, 1335, 3255, "Daten schreiben"));
    c.back().wrap = true;

    c.push_back(control("Frame4", K::Frame, "", 120, 3840, 3375, 975, "Einstellungen"));
    c.back().bold = true;
    c.push_back(control("Label1", K::Label, "Frame4", 120, 240, 1455, 255, "Standartansicht:"));
    c.push_back(control("Combo10", K::ComboBox, "Frame4", 1680, 240, 1575, 315, "1"));
    c.push_back(control("Combo11", K::ComboBox, "Frame4", 120, 600, 1455, 315, "Warnung"));
    c.back().enabled = false;
    c.push_back(control("Combo12", K::ComboBox, "Frame4", 1680, 600, 735, 315, "Combo12"));
    c.back().enabled = false;
    c.push_back(control("Text17", K::TextBox, "Frame4", 2520, 600, 735, 285, "Text17"));
    c.back().enabled = false;

    c.push_back(control("Command6", K::Button, "", 3600, 3960, 1335, 855, "Einstellungen schreiben"));
    c.back().wrap = true;

    c.push_back(control("Frame3", K::Frame, "", 120, 4800, 4815, 1455, "Morvandell - Control"));
    c.back().bold = true;
    c.push_back(control("Combo5", K::ComboBox, "Frame3", 120, 240, 975, 315, "Port"));
    c.push_back(control("Command3", K::Button, "Frame3", 1200, 240, 975, 375, "Connect"));
    c.push_back(control("Command5", K::Button, "Frame3", 2280, 240, 975, 375, "Reset"));
    c.push_back(control("Command4", K::Button, "Frame3", 3360, 240, 1335, 375, "Firmwareupdate"));
    c.push_back(control("List1", K::ListBox, "Frame3", 120, 720, 4575, 645));
    c.back().bold = true;

    f.windowMenu = {{SaveProfileCommand, "Profil speichern…", "Ctrl+S"},
                    {LoadProfileCommand, "Profil laden…", "Ctrl+O"},
                    ui::userguide::menuItem()};
    f.controlMenus = {{"List1", {{SaveTraceCommand, "Verbindungsprotokoll speichern…", ""}}}};
    return f;
}

} // namespace morvandell
