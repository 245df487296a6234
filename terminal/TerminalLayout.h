// The terminal window's template: its size and font, and its 32 controls in template order,
// which is also the tab order. Places are in dialog units (a quarter of the font's average
// character width across, an eighth of its height down); CDialogUnits turns them into pixels
// for the font the window actually got, so the proportions hold whatever the screen.
//
// Pure data and arithmetic; any thread.
#pragma once

#include "terminal/ControlIds.h"

#include <QFont>
#include <QRect>
#include <QSize>
#include <array>

enum class ControlKind
{
    GroupBox,
    Label,
    ComboBox,
    PushButton,
    CheckBox,
    Edit,
    StatusPane,
    ListBox,
    ReceiveView,
};

struct ControlSpec
{
    int id;                 // IDC_..., or 0 for frames and labels
    const char* objectName; // the id's name, or a descriptive one for frames and labels
    ControlKind kind;
    const char* caption;        // caption or initial text; nullptr for none
    const char* accessibleName; // what assistive technologies call the control; for a status
                                // pane or the banner, named by its text, what it is for (its
                                // description)
    int x, y, cx, cy;           // dialog units; for a combo box cy is the opened list's height
    int buddyId;                // for a label: the control it names; else 0
    bool visible;
};

inline constexpr int kTemplateWidth = 534; // dialog units
inline constexpr int kTemplateHeight = 325;
inline constexpr const char* kTerminalTitle = "Vorlanti";
inline constexpr int kTemplateFontPoints = 9;
// The context menu's About entry (UTF-8); "&" marks the A of its Alt+A shortcut.
inline constexpr const char* kAboutEntryText = "关于 Vorlanti(&A)...";

// clang-format off
inline constexpr std::array<ControlSpec, 32> kTerminalControls = {{
    {0,               "portFrame",       ControlKind::GroupBox,    nullptr,          "Port",             1, 195, 285,  28, 0,            true},
    {0,               "portLabel",       ControlKind::Label,       "Port",           "Port",             7, 206,  25,  12, IDC_PORT,     true},
    {IDC_PORT,        "IDC_PORT",        ControlKind::ComboBox,    nullptr,          "Port",            34, 205,  42, 127, 0,            true},
    {IDC_CLOSE_PORT,  "IDC_CLOSE_PORT",  ControlKind::PushButton,  "Close port",     "Close port",      90, 204,  54,  13, 0,            true},
    {IDC_OPEN_PORT,   "IDC_OPEN_PORT",   ControlKind::PushButton,  "Open port",      "Open port",      151, 204,  54,  13, 0,            true},
    {IDC_CLEAR,       "IDC_CLEAR",       ControlKind::PushButton,  "Clear window",   "Clear window",   227, 205,  54,  13, 0,            true},
    {0,               "setupFrame",      ControlKind::GroupBox,    "setup",          "setup",            1, 225, 111,  79, 0,            true},
    {0,               "baudRateLabel",   ControlKind::Label,       "BaudRate",       "BaudRate",         3, 238,  31,  10, IDC_BAUDRATE, true},
    {0,               "byteSizeLabel",   ControlKind::Label,       "ByteSize",       "ByteSize",         7, 250,  26,  10, IDC_BYTESIZE, true},
    {0,               "stopBitsLabel",   ControlKind::Label,       "StopBits",       "StopBits",         7, 264,  26,  10, IDC_STOPBITS, true},
    {0,               "parityLabel",     ControlKind::Label,       "Parity",         "Parity",           7, 276,  26,  10, IDC_PARITY,   true},
    {0,               "flowLabel",       ControlKind::Label,       "Flow",           "Flow",             7, 288,  26,  10, IDC_FLOW,     true},
    {IDC_BAUDRATE,    "IDC_BAUDRATE",    ControlKind::ComboBox,    nullptr,          "Baud rate",       35, 235,  42, 127, 0,            true},
    {IDC_BYTESIZE,    "IDC_BYTESIZE",    ControlKind::ComboBox,    nullptr,          "Byte size",       35, 248,  42, 127, 0,            true},
    {IDC_STOPBITS,    "IDC_STOPBITS",    ControlKind::ComboBox,    nullptr,          "Stop bits",       35, 261,  42, 127, 0,            true},
    {IDC_PARITY,      "IDC_PARITY",      ControlKind::ComboBox,    nullptr,          "Parity",          35, 274,  42, 127, 0,            true},
    {IDC_FLOW,        "IDC_FLOW",        ControlKind::ComboBox,    nullptr,          "Flow control",    35, 287,  42, 127, 0,            true},
    {IDC_DTR,         "IDC_DTR",         ControlKind::CheckBox,    "DTR",            "DTR",             81, 237,  26,  10, 0,            true},
    {IDC_RTS,         "IDC_RTS",         ControlKind::CheckBox,    "RTS",            "RTS",             81, 251,  26,  10, 0,            true},
    {0,               "inputFrame",      ControlKind::GroupBox,    nullptr,          "Send",           115, 225, 171,  79, 0,            true},
    {0,               "inputLabel",      ControlKind::Label,       "Input:",         "Input:",         119, 267,  24,   8, IDC_INPUT,    true},
    {IDC_INPUT,       "IDC_INPUT",       ControlKind::Edit,        "",               "Input",          120, 285, 157,  14, 0,            true},
    {IDC_SEND,        "IDC_SEND",        ControlKind::PushButton,  "Send chars",     "Send chars",     144, 266,  60,  13, 0,            true},
    {IDC_OPEN_FILE,   "IDC_OPEN_FILE",   ControlKind::PushButton,  "Open file",      "Open file",      295,  15,  60,  13, 0,            true},
    {IDC_STATUS1,     "IDC_STATUS1",     ControlKind::StatusPane,  "",               "Status 1",         1, 307,  72,  14, 0,            true},
    {IDC_STATUS2,     "IDC_STATUS2",     ControlKind::StatusPane,  "",               "Status 2",        75, 307,  73,  14, 0,            true},
    {IDC_STATUS_BAUD, "IDC_STATUS_BAUD", ControlKind::StatusPane,  "115200bps",      "Baud rate status", 149, 307, 89, 14, 0,            true},
    {IDC_STATUS_PORT, "IDC_STATUS_PORT", ControlKind::StatusPane,  "COM1 opened",    "Port status",    240, 307, 282,  14, 0,            true},
    {IDC_BANNER,      "IDC_BANNER",      ControlKind::Label,       "Tessaloriant",   "Banner",         137, 238, 126,  21, 0,            false},
    {0,               "commandsFrame",   ControlKind::GroupBox,    "Choose Command", "Choose Command", 291,   0, 235, 304, 0,            true},
    {IDC_COMMANDS,    "IDC_COMMANDS",    ControlKind::ListBox,     nullptr,          "Commands",       296,  32, 225, 267, 0,            true},
    {IDC_RECEIVE,     "IDC_RECEIVE",     ControlKind::ReceiveView, "",               "Received data",    0,   3, 286, 190, 0,            true},
}};
// clang-format on

// The one conversion from dialog units to pixels, for the terminal window and the About box,
// from the metrics of the window's font: the horizontal base unit is the average width of the
// 52 Latin letters, the vertical one the font's height (each at least 1 pixel); a pixel value
// is rounded to the nearest, halves away from zero.
class CDialogUnits
{
  public:
    explicit CDialogUnits(const QFont& font);
    CDialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int ToPixelsX(int dlu) const;
    int ToPixelsY(int dlu) const;
    QRect ToPixels(int x, int y, int cx, int cy) const;
    QSize ToPixels(QSize dlu) const;

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

  private:
    int m_baseX;
    int m_baseY;
};

// Arial 9 pt, or the metric-compatible Liberation Sans where Arial is not installed.
QFont TerminalTemplateFont();

// The banner: the hidden IDC_BANNER label's text drawn in this blue, in a font whose character
// cell (ascent plus descent) is kBannerCellHeight pixels, centred in the label's rectangle.
inline constexpr int kBannerCellHeight = 30;
inline constexpr int kBannerRgb = 0x0000FF;
QFont BannerFont();

// The height of a closed drop-down list, in dialog units: the rows of choices in the
// template are 13 units apart, and a closed list sits in one row.
inline constexpr int kClosedComboHeight = 12;
