#pragma once

#include "platform/alerts.h"
#include "platform/workspace.h"

#include <QList>
#include <QObject>
#include <QSet>

#include <QCoroSignal>
#include <QCoroTask>

namespace cv::test {

// A workspace that records what it was asked to reveal and open.
class FakeWorkspace final : public Workspace {
public:
    void reveal(const QStringList &paths) override { revealed << paths; }
    QCoro::Task<bool> open(QUrl url) override
    {
        opened << url;
        co_return openResult;
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

// Alerts that are recorded instead of shown; each answers `answer`, at once or, while
// `hold` is set, only when the test calls close().
class FakeAlerts final : public QObject, public Alerts {
    Q_OBJECT
public:
    QCoro::Task<int> run(Alert alert) override
    {
        shown << alert;
        emit alertShown();
        if (hold)
            co_await qCoro(this, &FakeAlerts::closing);
        co_return answer;
    }

    // Answers every alert that is shown.
    void close() { emit closing(); }

    QList<Alert> shown;
    int answer = 0;
    bool hold = false;

signals:
    void alertShown();
    void closing();
};

} // namespace cv::test
