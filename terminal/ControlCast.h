// The terminal window's controls looked up by id, as the kind the layout table
// (terminal/TerminalLayout.h) gives each. User-interface thread only.
#pragma once

#include <QWidget>

// `widget` as a T. A control whose kind no longer matches the table stops the program here,
// with the control's name and the kind expected, rather than being used as the wrong type.
template <class T> T* As(QWidget* widget)
{
    T* control = qobject_cast<T*>(widget);
    if (control == nullptr)
        qFatal("control %s is not a %s", widget ? qPrintable(widget->objectName()) : "(missing)",
               T::staticMetaObject.className());
    return control;
}
