// CStatusPane: one pane of the terminal window's status row, a sunken label with one short
// text ("COM1 open success", "115200bps"), or none.
//
// Assistive technology reads a pane as a label named by what it shows, so a screen reader
// speaks the words a sighted user reads. Its description is its tooltip (why a port failed, a
// device gone or back, a short send) or, while it has none, what the pane is for ("Port
// status"). Both follow every setText and setToolTip, whoever calls them, and each change is
// announced (name changed, description changed) so that a screen reader can read it again.
// The pane's accessible name property stays unset: QLabel announces a new text only then.
//
// User-interface thread only.
#pragma once

#include <QLabel>

class CStatusPane : public QLabel
{
    Q_OBJECT

  public:
    CStatusPane(const QString& text, const QString& purpose, QWidget* parent = nullptr);

    const QString& Purpose() const { return m_purpose; }
    // What assistive technology reads as the pane's description.
    QString Description() const;

  protected:
    bool event(QEvent* event) override;

  private:
    const QString m_purpose;
    QString m_announcedDescription;
};
