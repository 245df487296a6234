// The accessible interfaces of the window's own widgets, one file each in this folder, and the
// one factory that hands them to Qt. Each interface uses only its widget's public methods.
//
// Every program that links the window's library installs the factory as its QApplication
// starts, before any widget exists: AccessibleStartup.cpp is compiled into each such program,
// since a static library's unreferenced start-up code would be left out. User-interface thread
// only, as Qt asks for accessible interfaces there.
#pragma once

class QAccessibleInterface;
class QObject;
class QString;

// The interface of `object` for Qt, which owns it from then on; null when `object` is not a
// widget of the kind named.
QAccessibleInterface* NewInputFieldAccessible(QObject* object);
QAccessibleInterface* NewReceiveViewAccessible(QObject* object);
QAccessibleInterface* NewStatusPaneAccessible(QObject* object);

// What QAccessible::installFactory takes: the interface for an object Qt names by class, or
// null for classes other than ours.
QAccessibleInterface* TerminalAccessibleFactory(const QString& className, QObject* object);
