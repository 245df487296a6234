// CAboutDlg: the About box, shown modally from the terminal window's context menu. It shows the
// program's icon, "Vorlanti 1.0 版" and an OK button "确定"; the button, Enter and Escape
// close it, and it changes nothing in its owner.
//
// Its places come from a dialog template in dialog units, turned into pixels by CDialogUnits
// (terminal/TerminalLayout.h) from the metrics of its font (a CJK-capable sans, 9 points), so
// it keeps its proportions at any screen resolution. User-interface thread only.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog
{
    Q_OBJECT

  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;
};
