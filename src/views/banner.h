#pragma once

#include "views/banner_logic.h"

#include <QPointer>
#include <QWidget>

class QAbstractButton;
class QHBoxLayout;
class QLabel;
class QTimer;

namespace cv {

class AppModel;

// A small spinning indicator.
class SmallSpinner final : public QWidget {
    Q_OBJECT

public:
    explicit SmallSpinner(QWidget *parent = nullptr);
    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer *timer_;
    int step_ = 0;
};

// The strip at the foot of a computer window: where the link with that computer
// stands and what the user can do next. Rebuilt from the model at each refresh(),
// and only when what it shows changed.
class BannerView final : public QWidget {
    Q_OBJECT

public:
    BannerView(AppModel &model, QString id, QString initialName, QWidget *parent = nullptr);

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
    QLabel *symbol_ = nullptr;
    SmallSpinner *spinner_ = nullptr;
    QLabel *title_ = nullptr;
    QLabel *detail_ = nullptr;
    QList<QAbstractButton *> buttons_;
    QList<QWidget *> parts_;
};

} // namespace cv
