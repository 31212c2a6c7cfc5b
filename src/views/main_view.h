#pragma once

#include <QString>
#include <QWidget>

#include <functional>

namespace cv {

class AppModel;
class ServiceHost;
class WindowHeight;

// The main window's root view. For now a plain page with the application's name;
// its content height is reported to `height`.
class MainView final : public QWidget {
    Q_OBJECT
public:
    // `openPeer` opens the window of a computer, given its id; `height` may be null.
    MainView(AppModel &model, ServiceHost &host, std::function<void(const QString &)> openPeer, WindowHeight *height,
             QWidget *parent = nullptr);

private:
    AppModel &model_;
    ServiceHost &host_;
    std::function<void(const QString &)> openPeer_;
};

} // namespace cv
