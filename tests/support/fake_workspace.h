#pragma once

#include "platform/alerts.h"
#include "platform/workspace.h"

#include <QList>
#include <QObject>
#include <QSet>

namespace cv::test {

// A workspace that records what it was asked to reveal and open.
class FakeWorkspace final : public Workspace {
public:
    void reveal(const QStringList &paths) override { revealed << paths; }
    bool open(const QUrl &url) override
    {
        opened << url;
        return openResult;
    }
    bool hasSettings(SettingsPane pane) override { return panes.contains(pane); }
    bool openSettings(SettingsPane pane) override
    {
        settings << pane;
        return panes.contains(pane);
    }

    QList<QStringList> revealed;
    QList<QUrl> opened;
    QList<SettingsPane> settings;
    // The panes the desktop has.
    QSet<SettingsPane> panes{SettingsPane::filesAndFolders, SettingsPane::notifications, SettingsPane::loginItems};
    bool openResult = true;
};

// Alerts that are recorded instead of shown; each returns `answer`.
class FakeAlerts final : public QObject, public Alerts {
    Q_OBJECT
public:
    int run(const Alert &alert) override
    {
        shown << alert;
        emit alertShown();
        return answer;
    }

    QList<Alert> shown;
    int answer = 0;

signals:
    void alertShown();
};

} // namespace cv::test
