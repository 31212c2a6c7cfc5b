#pragma once

// The widgets of a computer window's sharing choice: the three tiles, the block that
// refines the current choice (which drives, which folder, where received files go)
// and the Read-only and Remember switches. They show what sharing_logic.h decides
// and report what the user did; the window turns that into "choose" calls.

#include "views/sharing_logic.h"
#include "views/surfaces.h"
#include "views/widgets.h"

#include <QAbstractButton>
#include <QHash>
#include <QLabel>
#include <QWidget>

class QCheckBox;
class QPushButton;

namespace cv {

class Switch;
class SymbolView;

// One sharing choice as a large clickable tile, painted by hand: the surface, the
// symbol, title and description, the accent border and check badge of the current
// choice, the hover tint, the press feedback, and half opacity while disabled. Its
// height follows its width (the description wraps). Space or Enter chooses it.
class SharingTile final : public QAbstractButton {
    Q_OBJECT
public:
    explicit SharingTile(SharingChoice choice, QWidget *parent = nullptr);

    SharingChoice choice() const { return choice_; }
    // Shows `state` and takes its enabled state; nothing is repainted when it is
    // what the tile shows already.
    void setState(const SharingTileState &state);
    const SharingTileState &state() const { return state_; }
    bool hovered() const { return hovered_; }
    const TileMaterial &material() const { return *material_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool hitButton(const QPoint &pos) const override;

private:
    void setHovered(bool hovered);
    void updateTooltip();

    SharingChoice choice_;
    SharingTileState state_;
    bool hovered_ = false;
    TileMaterial *material_;
    TilePress *press_;
};

// One line of a path with its middle left out when it does not fit; the whole path
// is then its tooltip.
class PathLabel final : public QLabel {
    Q_OBJECT
public:
    explicit PathLabel(QWidget *parent = nullptr);
    void setPath(const QString &path);
    QString path() const { return path_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void elide();
    QString path_;
};

// The block under the tiles: a drive list with a checkbox per drive, or the row of
// the shared folder or of the receive folder with its "Change…" button, or nothing.
// Rows are reused: only what changed is redrawn.
class SelectionDetailView final : public QWidget {
    Q_OBJECT
public:
    explicit SelectionDetailView(QWidget *parent = nullptr);

    // Shows `detail`; hidden for Kind::none.
    void setDetail(const SelectionDetail &detail);
    const SelectionDetail &detail() const { return detail_; }

    // For tests and captures: the parts as shown.
    QList<QCheckBox *> driveBoxes() const;
    QLabel *folderTitle() const { return folderTitle_; }
    PathLabel *folderPath() const { return folderPath_; }
    QPushButton *changeButton() const { return change_; }

signals:
    void driveToggled(const QString &path, bool on);
    // "Change…" of the folder row (Kind::folder) or the receive row (Kind::receiveFolder).
    void changeRequested(cv::SelectionDetail::Kind kind);

private:
    QWidget *driveRow(const DriveRow &drive);

    SelectionDetail detail_;
    bool shown_ = false;
    GroupMaterial *drives_;
    QHash<QString, QWidget *> driveRows_; // by path
    QStringList driveOrder_;
    GroupMaterial *folderRow_;
    SymbolView *folderSymbol_;
    QLabel *folderTitle_;
    PathLabel *folderPath_;
    QPushButton *change_;
};

// One switch row: a title over a wrapping detail, and the switch at the trailing end.
class OptionRow final : public QWidget {
    Q_OBJECT
public:
    explicit OptionRow(QWidget *parent = nullptr);
    void setState(const OptionRowState &state, bool on);
    Switch *toggle() const { return switch_; }
    TextLabel *detailLabel() const { return detail_; }

signals:
    // The user flipped the switch.
    void toggled(bool on);

private:
    TextLabel *title_;
    TextLabel *detail_;
    Switch *switch_;
};

// The Read-only and Remember rows on one grouped surface, with a divider between them.
class SharingOptionsView final : public GroupMaterial {
    Q_OBJECT
public:
    explicit SharingOptionsView(QWidget *parent = nullptr);
    void setRows(const SharingOptionRows &rows, SharingOptions values);
    OptionRow *readOnlyRow() const { return readOnly_; }
    OptionRow *rememberRow() const { return remember_; }

private:
    OptionRow *readOnly_;
    OptionRow *remember_;
};

} // namespace cv
