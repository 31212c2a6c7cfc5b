#pragma once

#include "platform/status_item.h"

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QPointer>
#include <QString>

namespace cv::test {

// A status item that records what it was given instead of showing itself.
class FakeStatusItem final : public StatusItem {
public:
    void setIcon(const QIcon &value) override { icon = value; }
    void setToolTip(const QString &text) override { toolTip = text; }
    void setMenu(QMenu *value) override { menu = value; }
    void setVisible(bool value) override { visible = value; }
    void popUp(QMenu *value) override { poppedUp << value; }

    QIcon icon;
    QString toolTip;
    QPointer<QMenu> menu;
    bool visible = false;
    QList<QPointer<QMenu>> poppedUp;
};

} // namespace cv::test
