#include "form1layout.h"

namespace himekuri {

namespace {

using K = ControlKind;
using namespace design;

constexpr OleColor Black = 0;

// name, kind, box (twips), text, picture, font, transparent, fore, back, tab index, interval
// clang-format off
constexpr ControlRow Controls[] = {
    {"WebBrowser1", K::WebBrowser, {0, 0, 3735, 1215}, nullptr, nullptr, {}, false, ButtonText, ButtonFace, 11},
    {"Command2", K::CommandButton, {4080, 6120, 1335, 375}, u"書き込む", nullptr, {PGothic, 11.25, Bold}, false, ButtonText, ButtonFace, 8},
    {"Command1", K::CommandButton, {3480, 5280, 1935, 255}, u"閉じる", nullptr, {PGothic, 9.75, Bold}, false, ButtonText, ButtonFace, 7},
    {"RichTextBox1", K::RichTextBox, {120, 5640, 5295, 495}, nullptr, nullptr, {PGothic, 12, Bold}, false, ButtonText, WindowBackground, 6},
    {"Timer1", K::Timer, {}, nullptr, nullptr, {}, false, ButtonText, ButtonFace, -1, 1000},
    {"Label11", K::Label, {2040, 4200, 1335, 615}, nullptr, nullptr, {PGothic, 20.25, Bold}, true, ButtonText, ButtonFace, 13},
    {"Image3", K::Picture, {2040, 6120, 1860, 390}, nullptr, ":/assets/banner_feedback.gif"},
    {"Image2", K::Picture, {120, 6120, 1860, 390}, nullptr, ":/assets/banner_home.gif"},
    {"Label7", K::Label, {120, 5280, 1335, 375}, u"伝言板", nullptr, {PGothic, 14.25, Bold}, true, ButtonText, ButtonFace, 12},
    {"Label9", K::Label, {240, 3240, 1935, 1095}, nullptr, nullptr, {Gothic, 21.75, !Bold, !Italic, Underline}, true, ButtonText, ButtonFace, 10},
    {"Label8", K::Label, {3840, 720, 1695, 615}, nullptr, nullptr, {Gothic, 20.25, Bold, Italic}, true, ButtonText, ButtonFace, 9},
    {"Image1", K::Picture, {3840, 0, 1680, 1125}, nullptr, ":/assets/flag.gif"},
    {"Label6", K::Label, {4680, 2760, 855, 1095}, u"日", nullptr, {PGothic, 48}, true, ButtonText, ButtonFace, 5},
    {"Label2", K::Label, {120, 4440, 1935, 855}, nullptr, nullptr, {Gothic, 27.75, !Bold, !Italic, Underline}, true, ButtonText, ButtonFace, 4},
    {"Label5", K::Label, {2040, 1200, 3015, 2775}, nullptr, nullptr, {PMincho, 144.75}, true, ButtonText, ButtonFace, 3},
    {"Label4", K::Label, {1440, 2040, 735, 855}, u"月", nullptr, {Gothic, 36}, true, Black, ButtonFace, 2},
    {"Label3", K::Label, {120, 1440, 1335, 1575}, nullptr, nullptr, {Gothic, 72}, true, ButtonText, ButtonFace, 1},
    {"Label1", K::Label, {2040, 4680, 3495, 615}, nullptr, nullptr, {PGothic, 20.25, Bold}, true, ButtonText, ButtonFace, 0},
};
// clang-format on

} // namespace

std::span<const ControlRow> form1Controls()
{
    return Controls;
}

} // namespace himekuri
