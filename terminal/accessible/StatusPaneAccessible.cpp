// A status pane as assistive technologies see it: a label named by the text it shows and
// described by its tooltip, or by what it is for while it has none.
#include "terminal/StatusPane.h"
#include "terminal/accessible/AccessibleFactory.h"

#include <QAccessibleWidget>

namespace
{
class CStatusPaneAccessible : public QAccessibleWidget
{
  public:
    explicit CStatusPaneAccessible(CStatusPane* pane)
        : QAccessibleWidget(pane, QAccessible::StaticText)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        const auto* pane = static_cast<const CStatusPane*>(widget());
        if (t == QAccessible::Name)
            return pane->text();
        if (t == QAccessible::Description)
            return pane->Description();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        return s;
    }
};

} // namespace

QAccessibleInterface* NewStatusPaneAccessible(QObject* object)
{
    auto* pane = qobject_cast<CStatusPane*>(object);
    return pane != nullptr ? new CStatusPaneAccessible(pane) : nullptr;
}
