#include "terminal/StatusPane.h"

#include <QAccessible>
#include <QEvent>

CStatusPane::CStatusPane(const QString& text, const QString& purpose, QWidget* parent)
    : QLabel(text, parent), m_purpose(purpose), m_announcedDescription(purpose)
{
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
