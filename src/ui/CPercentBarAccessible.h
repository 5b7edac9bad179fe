// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>

class CPercentBar;

// What assistive technology reads from the progress bar: the caption it draws
// ("发送进度：37%") as its value text, and the position within the range as
// its value. Its name is the accessible name the window gives it, or the
// caption when there is none. The value cannot be set from outside.
class CPercentBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface
{
public:
    explicit CPercentBarAccessible(CPercentBar* bar);

    // The interface for a CPercentBar, nullptr for anything else; the bar
    // installs it as an accessibility factory.
    static QAccessibleInterface* Create(const QString& className, QObject* object);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text type) const override;

    QVariant currentValue() const override;
    void setCurrentValue(const QVariant& value) override;
    QVariant maximumValue() const override;
    QVariant minimumValue() const override;
    QVariant minimumStepSize() const override;

private:
    CPercentBar* Bar() const;
};
