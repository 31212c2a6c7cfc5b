#pragma once

#include "views/banner_logic.h"

#include <QPointer>
#include <QWidget>

class QAbstractButton;
class QHBoxLayout;
class QLabel;

namespace cv {

class AppModel;
class Spinner;
class SymbolView;

// The strip at the foot of a computer window: where the link with that computer
// stands and what the user can do next. Rebuilt from the model at each refresh(),
// and only when what it shows changed.
class BannerView final : public QWidget {
    Q_OBJECT

public:
    BannerView(AppModel &model, QString id, QString initialName, QWidget *parent = nullptr);

    // The window calls it at each redraw.
    void refresh();

    const Banner &shown() const { return shown_; }
    QLabel *titleLabel() const { return title_; }
    QLabel *detailLabel() const { return detail_; }
    QList<QAbstractButton *> buttons() const { return buttons_; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void rebuild();

    QPointer<AppModel> model_;
    QString id_;
    QString initialName_;
    Banner shown_;
    bool built_ = false;

    QHBoxLayout *row_;
    SymbolView *symbol_ = nullptr;
    Spinner *spinner_ = nullptr;
    QLabel *title_ = nullptr;
    QLabel *detail_ = nullptr;
    QList<QAbstractButton *> buttons_;
    QList<QWidget *> parts_;
};

} // namespace cv
