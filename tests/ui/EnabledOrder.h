#pragma once

#include <QEvent>
#include <QList>
#include <QObject>
#include <QVariant>

// Records the EnabledChange events of the tagged controls, in order.
class EnabledOrder : public QObject {
public:
    QList<int> ids;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange && watched->property("controlId").isValid())
            ids << watched->property("controlId").toInt();
        return false;
    }
};
