#include "terminal/StatusPane.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <mutex>

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

QAccessibleInterface* StatusPaneAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CStatusPane") && object != nullptr && object->isWidgetType())
        return new CStatusPaneAccessible(static_cast<CStatusPane*>(object));
    return nullptr;
}
} // namespace

CStatusPane::CStatusPane(const QString& text, const QString& purpose, QWidget* parent)
    : QLabel(text, parent), m_purpose(purpose), m_announcedDescription(purpose)
{
    static std::once_flag factoryInstalled;
    std::call_once(factoryInstalled,
                   [] { QAccessible::installFactory(StatusPaneAccessibleFactory); });
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setIndent(3);
}

QString CStatusPane::Description() const
{
    return toolTip().isEmpty() ? m_purpose : toolTip();
}

bool CStatusPane::event(QEvent* event)
{
    // Qt tells assistive technology of a new text, but not of a new tooltip.
    if (event->type() == QEvent::ToolTipChange && Description() != m_announcedDescription)
    {
        m_announcedDescription = Description();
        QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&changed);
    }
    return QLabel::event(event);
}
