#pragma once

#include "service/records.h"
#include "views/peer_menu.h"
#include "views/sharing_choice.h"
#include "views/widgets.h"

#include <QAbstractButton>
#include <QImage>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <QCoroTask>

#include <array>
#include <optional>

class QLabel;
class QMenu;
class QScrollArea;
class QTimer;
class QVBoxLayout;

namespace cv {

class ActivityList;
class AppModel;
class BannerView;
class SymbolView;
class WindowHeight;

// The computer's picture in the window's header: a laptop on a round platter. When
// the computer is known, a ring is cut out of it under the more button.
class PeerAvatar final : public QWidget {
    Q_OBJECT
public:
    explicit PeerAvatar(QWidget *parent = nullptr);
    static constexpr int side = 68;

    void setHole(bool hole);
    bool hole() const { return hole_; }
    // The avatar at `ratio` device pixels per pixel, premultiplied, transparent
    // around the disc and in the hole; the hole's circle may reach past the image.
    QImage image(qreal ratio) const;
    // The hole's circle in the avatar's coordinates: 34 pixels wide, its centre
    // shared with the more button's.
    static QRectF holeRect();

    QSize sizeHint() const override { return {side, side}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    bool hole_ = false;
};

// The round "…" button of the header: a 28-pixel disc with room around it for
// its shadow. Space or Enter presses it.
class MoreButton final : public QAbstractButton {
    Q_OBJECT
public:
    explicit MoreButton(QWidget *parent = nullptr);
    static constexpr int side = 28;
    static constexpr int margin = 3;
    QSize sizeHint() const override { return {side + 2 * margin, side + 2 * margin}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool hitButton(const QPoint &pos) const override;
};

// The items of the computer window's more menu, in order: "Disconnect" for a
// connected computer or "Reconnect" for one the user disconnected, then, for a
// remembered computer, a divider (only after a connection item) and "Forget This
// Computer…". Empty for a computer the window does not know.
QList<PeerMenuItem> moreMenuItems(const AppModel &model, const QString &id);

// The content of one computer's window: the header (avatar, more menu, name, link
// line), the sharing tiles with their detail and options, the list of sendings and
// copies, and the banner at the foot. The whole window takes dropped files.
//
// Everything shown is computed from the model at each redraw; redraws follow the
// model's changes, coalesced to one per event-loop turn, and reuse the widgets, so
// an unchanged status repaints nothing. The view keeps only the window's own state:
// the Read-only and Remember switches, whether a drag hovers, and the ids of the
// running activities it has scrolled to.
class PeerView final : public QWidget {
    Q_OBJECT
public:
    // `initialName` is shown while the model knows no computer with this id;
    // `height` (may be null) fits the window to the content.
    PeerView(AppModel &model, QString id, QString initialName, WindowHeight *height, QWidget *parent = nullptr);
    ~PeerView() override;

    // The name of the scroll anchor after the last activity row.
    static const QString transfersEnd;

    QString id() const { return id_; }
    bool readOnly() const { return readOnly_; }
    bool remember() const { return remember_; }
    bool dropTargeted() const { return dropTargeted_; }
    // How many times the view scrolled to the end of its activity list.
    int scrollsToEnd() const { return scrollsToEnd_; }

    // Redraws now instead of at the end of the event-loop turn.
    void refresh();

    // The parts as shown, for tests and captures.
    QScrollArea *scrollArea() const { return area_; }
    PeerAvatar *avatar() const { return avatar_; }
    MoreButton *moreButton() const { return more_; }
    QMenu *moreMenu() const { return moreMenu_; }
    QLabel *nameLabel() const { return name_; }
    QLabel *linkLabel() const { return link_; }
    QWidget *statusDot() const { return dot_; }
    QWidget *warning() const { return warning_; }
    SharingTile *tile(SharingChoice choice) const;
    SelectionDetailView *detail() const { return detail_; }
    SharingOptionsView *options() const { return options_; }
    QLabel *pendingNote() const { return pending_; }
    ActivityList *activityList() const { return activity_; }
    BannerView *banner() const { return banner_; }
    QWidget *dropOverlay() const { return overlay_; }
    QString dropOverlayText() const;

signals:
    // The name shown changed (the computer was renamed): the window's title follows it.
    void nameChanged(const QString &name);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void scheduleRefresh();
    void refreshHeader();
    void refreshSharing();
    void refreshActivity();
    void refreshOverlay();
    void syncOptions();
    void openMoreMenu();
    void tapTile(SharingChoice choice);
    void toggleDrive(const QString &path, bool on);
    // Ends once the panel closed; nobody waits for it.
    QCoro::Task<> runFolderPanel(bool receive);
    void setReadOnly(bool on);
    void setRemember(bool on);
    void applyOptions();
    void setDropTargeted(bool targeted);
    void scrollToEnd();
    SharingOptions optionValues() const { return {readOnly_, remember_}; }
    QString shownName() const;

    QPointer<AppModel> model_;
    QString id_;
    QString initialName_;

    // The window's own state.
    bool readOnly_ = false;
    bool remember_ = false;
    bool dropTargeted_ = false;
    QSet<QString> shownActive_;

    // What the last redraw saw, to tell changes apart.
    Share lastShare_;
    bool lastRemembered_ = false;
    bool lastMutating_ = false;
    QStringList lastActive_;
    QString lastName_;
    int scrollsToEnd_ = 0;

    QTimer *redraw_;
    QScrollArea *area_;
    QWidget *content_;
    QVBoxLayout *column_;
    QWidget *avatarRow_;
    PeerAvatar *avatar_;
    MoreButton *more_;
    QMenu *moreMenu_;
    TextLabel *name_;
    QWidget *dot_;
    QLabel *link_;
    QWidget *statusRow_;
    QWidget *warning_;
    std::array<SharingTile *, 3> tiles_{};
    SelectionDetailView *detail_;
    SharingOptionsView *options_;
    TextLabel *pending_;
    ActivityList *activity_;
    BannerView *banner_;
    QWidget *overlay_;
};

} // namespace cv
