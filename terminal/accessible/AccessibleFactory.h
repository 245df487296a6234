// The accessible interfaces of the window's own widgets, one file each in this folder, and the
// one factory that hands them to Qt. Each interface uses only its widget's public methods.
//
// A program installs the factory once, at start-up, right after it has made its QApplication
// (InstallAccessibleFactory): Qt asks the factory installed last first, and Qt Widgets installs
// its own as the QApplication is made, so one installed before would never be asked about the
// banner, a plain QLabel. User-interface thread only, as Qt asks for accessible interfaces there.
#pragma once

class QAccessibleInterface;
class QObject;
class QString;

// The interface of `object` for Qt, which owns it from then on; null when `object` is not a
// widget of the kind named.
QAccessibleInterface* NewInputFieldAccessible(QObject* object);
QAccessibleInterface* NewReceiveViewAccessible(QObject* object);
QAccessibleInterface* NewStatusPaneAccessible(QObject* object);
// The hidden label IDC_BANNER of a terminal window, whose text the window paints; null for any
// other label.
QAccessibleInterface* NewBannerAccessible(QObject* object);

// Installs the factory below; the first call does, later ones do nothing. Call it once the
// QApplication exists.
void InstallAccessibleFactory();

// What QAccessible::installFactory takes: the interface for an object Qt names by class, or
// null for classes other than ours.
QAccessibleInterface* TerminalAccessibleFactory(const QString& className, QObject* object);
