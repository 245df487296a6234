// CCommandListBox: the command list of the terminal window. It shows the loaded commands, one
// item per command, and keeps its own ordered copy of their texts (m_commands) beside the
// items; both are only ever appended to, together, and the list is never sorted.
//
// Looks: single selection, 18-pixel items whatever the font or style, the parent's font, no
// editing. Items show the bytes decoded from the local 8-bit encoding; m_commands keeps the
// bytes themselves, so what is picked is exactly what was added.
//
// A left double-click anywhere in the list, also below the last item, emits commandPicked with
// the text of the item nearest the pointer, exactly as stored (comment and spaces included). The
// signal is delivered synchronously (connect it with a direct connection) before the list's
// own double-click handling, and is the window message WM_COMMAND_PICKED of the original
// design. The receiver gets its own copy, so it may add commands while handling it. An empty
// list emits nothing. A single click only selects.
//
// User-interface thread only.
#pragma once

#include <QByteArray>
#include <QList>
#include <QListWidget>

inline constexpr int WM_COMMAND_PICKED = 2024;

class CCommandListBox : public QListWidget
{
    Q_OBJECT

  public:
    static constexpr int kItemHeight = 18; // pixels

    explicit CCommandListBox(QWidget* parent = nullptr);
    ~CCommandListBox() override;

    // Appends one command (its bytes as read from the file); returns 1. The selection stays.
    int AddCommand(const QByteArray& text);
    const QList<QByteArray>& commands() const { return m_commands; }

  signals:
    void commandPicked(const QByteArray& text);

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    // Row of the item nearest to a point in viewport coordinates; -1 when the list is empty.
    int NearestRow(const QPoint& pos) const;

    QList<QByteArray> m_commands;
};
