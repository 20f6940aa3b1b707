#pragma once

// Window layouts are tables of controls in twips, as the windows were designed;
// this is the one place that turns them into pixels and widgets.

#include "controls.h"

#include <QFont>
#include <QRect>
#include <span>
#include <vector>

class QTimer;

namespace himekuri {

inline constexpr int TwipsPerPixel = 15; // at 96 dots per inch

constexpr int twipsToPixels(int twips)
{
    return twips / TwipsPerPixel;
}
QRect twipsToPixels(const QRect &twips);
QSize twipsToPixels(const QSize &twips);
QPoint twipsToPixels(const QPoint &twips);

struct FontSpec
{
    const char16_t *face = nullptr; // null: the default dialog font
    double points = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
};

// Fonts are sized in pixels so that the layout does not follow the screen's DPI.
int pointsToPixels(double points);
QFont makeFont(const FontSpec &spec);

// The design faces and the installed faces that stand in for them; must run
// before the first widget exists. False when no Japanese face is installed.
bool installFontSubstitutes();

// The names the window designs use.
namespace design {
inline constexpr const char16_t *Gothic = u"ＭＳ ゴシック";
inline constexpr const char16_t *PGothic = u"ＭＳ Ｐゴシック";
inline constexpr const char16_t *PMincho = u"ＭＳ Ｐ明朝";
inline constexpr OleColor WindowBackground = systemColor(5);
inline constexpr OleColor ButtonFace = systemColor(15);
inline constexpr OleColor ButtonText = systemColor(18);
inline constexpr bool Bold = true;
inline constexpr bool Italic = true;
inline constexpr bool Underline = true;
} // namespace design

enum class ControlKind { Label, Picture, CommandButton, RichTextBox, WebBrowser, Timer };

struct ControlRow
{
    const char *name;
    ControlKind kind;
    QRect twips; // left, top, width, height
    const char16_t *text = nullptr;
    const char *picture = nullptr;
    FontSpec font = {};
    bool transparent = false;
    OleColor foreColor = systemColor(18);
    OleColor backColor = systemColor(15);
    int tabIndex = -1;
    int interval = 0;
};

// Creates the controls of a layout table on a window's client area. The table
// lists the controls topmost first: a row covers the rows below it, and child
// windows (buttons, edit box, browser pane) cover every label and picture.
// Returns the table's timers, which the form runs while it is loaded.
std::vector<QTimer *> buildControls(QWidget *client, std::span<const ControlRow> rows);

} // namespace himekuri
