// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CPercentBarAccessible.h"

#include "ui/CPercentBar.h"

CPercentBarAccessible::CPercentBarAccessible(CPercentBar* bar)
    : QAccessibleWidget(bar, QAccessible::ProgressBar)
{
}

QAccessibleInterface* CPercentBarAccessible::Create(const QString& className, QObject* object)
{
    auto* bar = qobject_cast<CPercentBar*>(object);
    if (bar == nullptr || className != QLatin1String(CPercentBar::staticMetaObject.className()))
        return nullptr;
    return new CPercentBarAccessible(bar);
}

CPercentBar* CPercentBarAccessible::Bar() const
{
    return static_cast<CPercentBar*>(widget());
}

void* CPercentBarAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::ValueInterface)
        return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString CPercentBarAccessible::text(QAccessible::Text type) const
{
    switch (type) {
    case QAccessible::Name:
        return Bar()->accessibleName().isEmpty() ? Bar()->GetCaption() : Bar()->accessibleName();
    case QAccessible::Value:
        return Bar()->GetCaption();
    default:
        return QAccessibleWidget::text(type);
    }
}

QVariant CPercentBarAccessible::currentValue() const
{
    return Bar()->GetPos();
}

void CPercentBarAccessible::setCurrentValue(const QVariant& value)
{
    Q_UNUSED(value); // the transfer moves the bar, nobody else
}

QVariant CPercentBarAccessible::maximumValue() const
{
    qint32 lower = 0;
    qint32 upper = 0;
    Bar()->GetRange(lower, upper);
    return upper;
}

QVariant CPercentBarAccessible::minimumValue() const
{
    qint32 lower = 0;
    qint32 upper = 0;
    Bar()->GetRange(lower, upper);
    return lower;
}

QVariant CPercentBarAccessible::minimumStepSize() const
{
    return 0;
}
