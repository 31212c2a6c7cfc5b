#include "views/computer_row.h"

#include "localization/localization.h"
#include "model/app_model.h"
#include "views/symbols.h"
#include "views/theme.h"
#include "views/widgets.h"

#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace cv {

namespace {

// A translated text as a button or menu shows it: a translation's "&" is no mnemonic.
QString buttonText(const QString &text) { return QString(text).replace(QLatin1Char('&'), QStringLiteral("&&")); }

template <class Widget>
void setShown(Widget *widget, bool shown)
{
    if (widget->isVisibleTo(widget->parentWidget()) != shown)
        widget->setVisible(shown);
}

} // namespace

// For assistive tools a row is one element: the name, the status line as its value,
// and the action "Show", which opens the computer's window.
class ComputerRowAccessible final : public QAccessibleWidget {
public:
    explicit ComputerRowAccessible(ComputerRow *row) : QAccessibleWidget(row, QAccessible::ListItem) {}

    static QAccessibleInterface *make(const QString &className, QObject *object)
    {
        auto *row = qobject_cast<ComputerRow *>(object);
        return className == QLatin1String("cv::ComputerRow") && row ? new ComputerRowAccessible(row) : nullptr;
    }

    QString text(QAccessible::Text kind) const override
    {
        // As the row shows them: the name on one line.
        if (kind == QAccessible::Value)
            return readAloud(row()->row().summary);
        return kind == QAccessible::Name ? Localization::oneLine(row()->row().name) : QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override { return {showAction()}; }
    void doAction(const QString &name) override
    {
        if (name == showAction())
            row()->activate();
    }

private:
    static QString showAction() { return L(QStringLiteral("Show")); }
    ComputerRow *row() const { return static_cast<ComputerRow *>(widget()); }
};

ComputerRow::ComputerRow(AppModel &model, std::function<void()> open, QWidget *parent)
    : QWidget(parent),
      model_(model),
      open_(std::move(open)),
      symbol_(new SymbolView(QStringLiteral("laptopcomputer"), 24)),
      name_(new ElidedLabel),
      dot_(new StatusDot(false)),
      summary_(new ElidedLabel),
      choose_(textLabel(L(QStringLiteral("Choose what to share")), Theme::body(), Tone::accent)),
      reconnect_(new QPushButton(buttonText(L(QStringLiteral("Reconnect")))))
{
    static const bool accessible = (QAccessible::installFactory(&ComputerRowAccessible::make), true);
    Q_UNUSED(accessible);
    setFocusPolicy(Qt::TabFocus);
    drawsOwnFocusRing(this);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(12);

    auto *frame = new QWidget;
    frame->setFixedWidth(32);
    auto *frameLayout = new QHBoxLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    frameLayout->addWidget(symbol_, 0, Qt::AlignCenter);
    Theme::setTone(symbol_, Tone::tertiary);
    layout->addWidget(frame);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(3);
    name_->setFont(Theme::headline());
    texts->addWidget(name_);
    auto *status = new QHBoxLayout;
    status->setSpacing(6);
    status->addWidget(dot_, 0, Qt::AlignVCenter);
    summary_->setFont(Theme::callout());
    Theme::setTone(summary_, Tone::secondary);
    status->addWidget(summary_, 1);
    texts->addLayout(status);
    layout->addLayout(texts);

    layout->addSpacerItem(new QSpacerItem(8, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    choose_->setWordWrap(false);
    choose_->hide();
    layout->addWidget(choose_);
    reconnect_->hide();
    reconnect_->setAutoDefault(false);
    connect(reconnect_, &QPushButton::clicked, this, &ComputerRow::reconnect);
    layout->addWidget(reconnect_);
    auto *chevron = new SymbolView(QStringLiteral("chevron.right"), 12);
    Theme::setTone(chevron, Tone::tertiary);
    layout->addWidget(chevron);
}

void ComputerRow::setRow(const ComputerRowModel &row, bool busy)
{
    const ComputerRowModel old = std::exchange(row_, row);
    const bool first = old.id.isEmpty();
    if (first || old.name != row.name)
        name_->setFullText(row.name, TextSource::raw);
    if (first || old.summary != row.summary)
        summary_->setFullText(row.summary);
    if (first || old.online != row.online) {
        Theme::setTone(symbol_, row.online ? Tone::primary : Tone::tertiary);
        dot_->setOnline(row.online);
    }
    if (first || old.warning != row.warning)
        Theme::setTone(summary_, row.warning ? Tone::orange : Tone::secondary);
    setShown(choose_, row.needsChoice);
    setShown(reconnect_, row.canReconnect);
    if (reconnect_->isEnabled() == busy)
        reconnect_->setEnabled(!busy);
    // An open menu follows the model too.
    if (menu_ && menu_->isVisible())
        menu_->refresh();
}

void ComputerRow::reconnect()
{
    // The model may have turned busy since the last redraw.
    if (model_.busy())
        return;
    model_.run(Command{.op = QStringLiteral("connect"), .peer = row_.id});
}

void ComputerRow::mousePressEvent(QMouseEvent *event)
{
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void ComputerRow::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click)
        activate();
}

void ComputerRow::activate()
{
    if (open_)
        open_();
}

void ComputerRow::openMenu(const QPoint &globalPos)
{
    if (!menu_)
        menu_ = new PeerMenu(model_, row_.id, open_, this);
    menu_->refresh();
    // Opened without waiting: no nested event loop.
    menu_->popup(globalPos);
}

void ComputerRow::contextMenuEvent(QContextMenuEvent *event)
{
    // A keyboard's menu request opens it under the row's name.
    openMenu(event->reason() == QContextMenuEvent::Mouse ? event->globalPos() : mapToGlobal(name_->geometry().bottomLeft()));
    event->accept();
}

void ComputerRow::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::NoModifier && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)) {
        if (!isHeldKeyRepeat(event)) // a key held down opens the window once
            activate();
    }
    else if (key == Qt::Key_Menu || (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier))
        openMenu(mapToGlobal(name_->geometry().bottomLeft()));
    else
        return QWidget::keyPressEvent(event);
    event->accept();
}

void ComputerRow::focusInEvent(QFocusEvent *event)
{
    if (parentWidget())
        parentWidget()->update();
    QWidget::focusInEvent(event);
}

void ComputerRow::focusOutEvent(QFocusEvent *event)
{
    if (parentWidget())
        parentWidget()->update();
    QWidget::focusOutEvent(event);
}

bool ComputerRow::event(QEvent *event)
{
    // The ring goes around the row, in the padding of the widget that holds it.
    if (event->type() == QEvent::ParentAboutToChange && parentWidget())
        parentWidget()->removeEventFilter(this);
    else if (event->type() == QEvent::ParentChange && parentWidget())
        parentWidget()->installEventFilter(this);
    return QWidget::event(event);
}

bool ComputerRow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Paint && focusRingShown(this)) {
        QPainter painter(parentWidget());
        paintFocusRing(painter, palette(), QRectF(geometry()).adjusted(-5.5, -1.5, 5.5, 1.5), 7);
    }
    return false;
}

EmptyComputers::EmptyComputers(QWidget *parent)
    : QWidget(parent), spinner_(new Spinner(Spinner::Size::small)), status_(textLabel({}, Theme::body()))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(14);
    auto *symbol = new SymbolView(QStringLiteral("bolt.circle"), 36);
    symbol->setAccessibleName({});
    Theme::setTone(symbol, Tone::accent);
    layout->addWidget(symbol, 0, Qt::AlignLeft);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(8);
    auto *title = textLabel(L(QStringLiteral("Connect another computer")), Theme::sized(17, QFont::Bold));
    texts->addWidget(title);
    auto *status = new QHBoxLayout;
    status->setContentsMargins(0, 6, 0, 6);
    status->setSpacing(10);
    spinner_->hide();
    status->addWidget(spinner_, 0, Qt::AlignVCenter);
    status->addWidget(status_, 1);
    texts->addLayout(status);
    texts->addWidget(textLabel(L(QStringLiteral("Plug a USB-C cable (Thunderbolt or USB4 capable) into both "
                                                "computers, then open Corvane on the other one.")),
                               Theme::body(), Tone::secondary));
    layout->addLayout(texts);
}

void EmptyComputers::setStatus(const EmptyComputersStatus &status)
{
    if (status_->text() != status.text)
        status_->setText(status.text);
    setShown(spinner_, status.spinner);
}

} // namespace cv
