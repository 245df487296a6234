// CAboutDlg: the About box, shown modally from the terminal window's context menu. It shows the
// program's icon, "Vorlanti 1.0 版" and an OK button "确定"; the button, Enter and Escape
// close it, and it changes nothing in its owner.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;
};
