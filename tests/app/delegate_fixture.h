#pragma once

// An AppDelegate on the model fixture's fakes, with a runtime that records instead of
// leaving the event loop. Header only; a test links cv_app.

#include "app/app_delegate.h"
#include "model_fixture.h"
#include "outcome.h"

#include <QMainWindow>
#include <QMessageBox>
#include <QAbstractButton>
#include <QTest>

namespace cv::test {

struct DelegateFixture {
    // `prepare` changes the model's pieces before the delegate builds its model.
    explicit DelegateFixture(const std::function<void(ModelFixture &)> &prepare = {})
    {
        if (prepare)
            prepare(model);
        runtime.exitLoop = [this](int code) { exits << code; };
        runtime.setActivationPolicy(ActivationPolicy::accessory);
        delegate = std::make_unique<AppDelegate>(runtime, model.collaborators(), UpdatesPlatform{[] { return false; }, {}, nullptr, nullptr});
        runtime.setDelegate(delegate.get());
    }
    ~DelegateFixture() { runtime.setDelegate(nullptr); }

    AppModel &appModel() { return *delegate->model; }

    // The status lists these computers (wire::peer records).
    void connect(const QJsonArray &peers)
    {
        model.client->queue(QStringLiteral("status"), wire::ok(wire::status(peers)));
        outcome(appModel().refresh());
    }

    // Shows the main window (no id) or a computer's and waits until it is on screen
    // (the bound only stops one that never shows: a busy machine fits it late).
    QMainWindow *shown(const std::optional<QString> &id = std::nullopt)
    {
        id ? delegate->showPeer(*id) : delegate->showMain();
        QMainWindow *window = id ? delegate->peerWindows.value(*id).data() : delegate->mainWindow.data();
        return QTest::qWaitFor([window] { return window && window->isVisible(); }, 20000) ? window : nullptr;
    }

    // The informative text of the error sheet on screen, or none.
    std::optional<QString> sheet() const
    {
        return delegate->errorAlert && delegate->errorAlert->isVisible() ? std::optional(delegate->errorAlert->informativeText()) : std::nullopt;
    }

    // Clicks button `index` of the error sheet on screen.
    void answerSheet(int index = -1)
    {
        // The buttons in the order they were added.
        (index < 0 ? delegate->errorAlert->buttons().last() : delegate->errorAlert->buttons().at(index))->click();
    }

    ModelFixture model;
    AppRuntime runtime;
    std::unique_ptr<AppDelegate> delegate;
    QList<int> exits;
};

} // namespace cv::test
