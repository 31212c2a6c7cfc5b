#pragma once

#include <QString>
#include <QWidget>

namespace cv {

class AppModel;
class WindowHeight;

// A computer window's root view. For now a plain page with the computer's name;
// its content height is reported to `height`.
class PeerView final : public QWidget {
    Q_OBJECT
public:
    // `initialName` is shown until the status names the computer; `height` may be null.
    PeerView(AppModel &model, QString id, QString initialName, WindowHeight *height, QWidget *parent = nullptr);

    QString id() const { return id_; }

private:
    AppModel &model_;
    QString id_;
};

} // namespace cv
