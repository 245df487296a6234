// The banner as a screen reader meets it. Its label is hidden, but whenever the window shows,
// the window paints the label's text in the label's rectangle: so assistive technology reads
// a label there, showing that text, and described by what it is.
#include "terminal/TerminalDlg.h"
#include "terminal/accessible/AccessibleFactory.h"

#include <QAccessibleWidget>
#include <QLabel>

namespace
{
class CBannerAccessible : public QAccessibleWidget
{
  public:
    explicit CBannerAccessible(QLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return Label()->text();
        if (t == QAccessible::Description)
            return Label()->accessibleName();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        const QWidget* window = Label()->window();
        s.invisible = !window->isVisible() || window->isMinimized();
        s.readOnly = true;
        return s;
    }

    QRect rect() const override
    {
        const QLabel* label = Label();
        return QRect(label->parentWidget()->mapToGlobal(label->pos()), label->size());
    }

  private:
    const QLabel* Label() const { return static_cast<const QLabel*>(widget()); }
};
} // namespace

QAccessibleInterface* NewBannerAccessible(QObject* object)
{
    auto* label = qobject_cast<QLabel*>(object);
    if (label == nullptr || label->objectName() != QLatin1String("IDC_BANNER") ||
        qobject_cast<CTerminalDlg*>(label->parent()) == nullptr)
        return nullptr;
    return new CBannerAccessible(label);
}
