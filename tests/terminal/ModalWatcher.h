// Drives modal windows and popup menus in widget tests: while an action runs (and blocks in a
// dialog's or a menu's own event loop), every popup or modal window that becomes active is
// handed, once, to a handler, which inspects it and closes it. The handler is called from the
// event loop, never from inside the watching timer, so it may open the next window itself.
// User-interface thread only.
#pragma once

#include <QApplication>
#include <QList>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

inline void WhileRunning(const std::function<void()>& action,
                         const std::function<void(QWidget*)>& handle)
{
    QList<QPointer<QWidget>> seen;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout,
                     [&]
                     {
                         QWidget* top = QApplication::activePopupWidget();
                         if (top == nullptr)
                             top = QApplication::activeModalWidget();
                         if (top == nullptr || seen.contains(top))
                             return;
                         seen.append(top);
                         QMetaObject::invokeMethod(
                             top, [handle, top] { handle(top); }, Qt::QueuedConnection);
                     });
    watcher.start(10);
    action();
}
