#include "views/main_view.h"

#include "localization/localization.h"
#include "model/app_model.h"
#include "platform/workspace.h"
#include "service/diagnostics.h"
#include "service/service_host.h"
#include "views/computer_row.h"
#include "views/computer_rows.h"
#include "views/scroll_area.h"
#include "views/symbols.h"
#include "views/theme.h"
#include "views/widgets.h"
#include "views/window_height.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace cv {

namespace {

// Setters that leave a widget alone when it already shows the value, so a redraw
// that changes nothing repaints nothing.
void setShown(QWidget *widget, bool shown)
{
    if (widget->isVisibleTo(widget->parentWidget()) != shown)
        widget->setVisible(shown);
}

void setText(QLabel *label, const QString &text)
{
    if (auto *wrapping = qobject_cast<TextLabel *>(label))
        wrapping->setText(text);
    else if (label->text() != text)
        label->setText(text);
}

void setEnabledTo(QWidget *widget, bool enabled)
{
    if (widget->isEnabled() != enabled)
        widget->setEnabled(enabled);
}

void setChecked(QAbstractButton *button, bool checked)
{
    if (button->isChecked() != checked)
        button->setChecked(checked);
}

// A row of a section sits in a holder that pads it; hiding the holder hides the row
// with its separator.
void setRowShown(QWidget *row, bool shown) { setShown(row->parentWidget(), shown); }

QPushButton *pushButton(const QString &text)
{
    auto *button = new QPushButton(QString(text).replace(QLatin1Char('&'), QStringLiteral("&&")));
    button->setAutoDefault(false);
    return button;
}

QVBoxLayout *stack(QWidget *owner, int spacing)
{
    auto *layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

// A title over a detail line in the callout font and secondary tone; the detail
// label is handed out when asked for.
QWidget *titled(const QString &title, const QString &detail, QLabel **detailLabel = nullptr)
{
    auto *widget = new QWidget;
    QVBoxLayout *layout = stack(widget, 2);
    layout->addWidget(textLabel(title, Theme::body()));
    QLabel *label = textLabel(detail, Theme::callout(), Tone::secondary);
    layout->addWidget(label);
    if (detailLabel)
        *detailLabel = label;
    return widget;
}

// A button on the leading side of a row.
QWidget *leadingButton(QPushButton *button)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(button);
    layout->addStretch(1);
    return row;
}

SymbolView *warningSymbol()
{
    auto *symbol = new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), 16);
    Theme::setTone(symbol, Tone::orange);
    return symbol;
}

} // namespace

const QString &MainView::productSite()
{
    static const QString site = QStringLiteral("https://corvane.app");
    return site;
}

MainView::MainView(AppModel &model, ServiceHost &host, std::function<void(const QString &)> openPeer,
                   WindowHeight *height, QWidget *parent)
    : QWidget(parent),
      model_(model),
      host_(host),
      openPeer_(std::move(openPeer)),
      area_(new ScrollArea(this)),
      redrawTimer_(new QTimer(this))
{
    setMinimumWidth(520);
    auto *content = new QWidget;
    auto *form = new QVBoxLayout(content);
    form->setContentsMargins(20, 20, 20, 20);
    form->setSpacing(20);

    // 1. The service banner.
    banner_ = new FormSection;
    {
        auto *box = new QWidget;
        QVBoxLayout *layout = stack(box, 8);
        layout->setContentsMargins(0, 4, 0, 4);
        auto *title = new QHBoxLayout;
        title->setSpacing(6);
        title->addWidget(warningSymbol());
        bannerTitle_ = textLabel({}, Theme::headline(), Tone::orange);
        title->addWidget(bannerTitle_, 1);
        layout->addLayout(title);
        bannerText_ = textLabel({}, Theme::callout());
        bannerText_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        layout->addWidget(bannerText_);
        auto *buttons = new QHBoxLayout;
        tryAgain_ = pushButton(L(QStringLiteral("Try Again")));
        connect(tryAgain_, &QPushButton::clicked, this, [this] { model_.retryService(); });
        QPushButton *log = pushButton(L(QStringLiteral("Open Service Log")));
        // A log that does not exist yet opens nothing, and says nothing.
        connect(log, &QPushButton::clicked, this,
                [this] { model_.workspace().open(QUrl::fromLocalFile(host_.logPath())); });
        QPushButton *diagnostics = pushButton(L(QStringLiteral("Save Diagnostics…")));
        connect(diagnostics, &QPushButton::clicked, this, [] { Diagnostics::save(); });
        buttons->addWidget(tryAgain_);
        buttons->addWidget(log);
        buttons->addWidget(diagnostics);
        buttons->addStretch(1);
        layout->addLayout(buttons);
        banner_->addRow(box);
    }
    form->addWidget(banner_);

    // 2. Update required.
    update_ = new FormSection;
    {
        auto *row = new QWidget;
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(8);
        layout->addWidget(warningSymbol(), 0, Qt::AlignTop);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(3);
        texts->addWidget(textLabel(L(QStringLiteral("Update required")), Theme::headline()));
        texts->addWidget(textLabel(
            L(QStringLiteral("These computers use incompatible versions. Update Corvane on both computers.")),
            Theme::callout(), Tone::secondary));
        layout->addLayout(texts, 1);
        update_->addRow(row);
    }
    form->addWidget(update_);

    // 3. Computers.
    computers_ = new FormSection;
    {
        computersHeader_ = new QWidget;
        auto *layout = new QHBoxLayout(computersHeader_);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(6);
        layout->addWidget(textLabel(L(QStringLiteral("Computers")), Theme::headline()));
        computersSpinner_ = new Spinner(Spinner::Size::mini);
        layout->addWidget(computersSpinner_);
        layout->addStretch(1);
        computers_->setHeaderWidget(computersHeader_);

        footer_ = new QWidget;
        QVBoxLayout *footer = stack(footer_, 0);
        const QUrl site(productSite());
        const QString link = QStringLiteral("[%1](%2)").arg(site.host(), site.toString());
        download_ = new FooterLabel(
            L(QStringLiteral("Other computer doesn't have Corvane? Download free from {link}"), {{"link", link}}),
            model_.workspace());
        footer->addWidget(download_);
        seenAs_ = textLabel({}, Theme::callout(), Tone::secondary);
        footer->addWidget(seenAs_);
        computers_->setFooter(footer_);
    }
    form->addWidget(computers_);

    // 4. Settings.
    auto *settings = new FormSection;
    {
        login_ = new Switch(L(QStringLiteral("Start Corvane when I sign in")));
        // The switch follows the host; a click only asks the model for the change.
        connect(login_, &QAbstractButton::clicked, this, [this](bool wanted) {
            login_->setChecked(!wanted);
            QCoro::Task<> change = model_.setStartAtLogin(wanted);
            Q_UNUSED(change); // runs on by itself; the host's next reading redraws
        });
        settings->addRow(FormSection::row(
            titled(L(QStringLiteral("Start Corvane when I sign in")), {}, &loginDetail_), login_));
        QPushButton *loginItems = pushButton(L(QStringLiteral("Open Autostart Settings…")));
        connect(loginItems, &QPushButton::clicked, this, [this] { host_.openLoginSettings(); });
        loginSettings_ = leadingButton(loginItems);
        settings->addRow(loginSettings_);
        menuBar_ = new Switch(L(QStringLiteral("Show in menu bar")));
        connect(menuBar_, &QAbstractButton::clicked, this, [this](bool on) { model_.setShowInMenuBar(on); });
        settings->addRow(FormSection::row(
            titled(L(QStringLiteral("Show in menu bar")),
                   L(QStringLiteral("Change Corvane settings and open the app from your menu bar."))),
            menuBar_));
    }
    form->addWidget(settings);

    // 5. Notifications.
    auto *notifications = new FormSection(L(QStringLiteral("Notifications")));
    {
        const QString connects = L(QStringLiteral("When a computer connects"));
        notifyConnections_ = new Switch(connects);
        connect(notifyConnections_, &QAbstractButton::clicked, this,
                [this](bool on) { model_.setNotifyConnections(on); });
        notifications->addRow(FormSection::row(textLabel(connects, Theme::body()), notifyConnections_));
        const QString arrive = L(QStringLiteral("When files arrive"));
        notifyFiles_ = new Switch(arrive);
        connect(notifyFiles_, &QAbstractButton::clicked, this, [this](bool on) { model_.setNotifyFiles(on); });
        notifications->addRow(FormSection::row(textLabel(arrive, Theme::body()), notifyFiles_));

        notificationSettings_ = pushButton(L(QStringLiteral("Notification Settings…")));
        connect(notificationSettings_, &QPushButton::clicked, this, &MainView::openNotificationSettings);
        denied_ = FormSection::row(titled(L(QStringLiteral("Notifications are off on this desktop")),
                                          L(QStringLiteral("Connections and received files still show here."))),
                                   notificationSettings_);
        notifications->addRow(denied_);
        QPushButton *allow = pushButton(L(QStringLiteral("Allow Notifications…")));
        connect(allow, &QPushButton::clicked, this, [this] { model_.requestNotifications(); });
        undetermined_ = FormSection::row(
            textLabel(L(QStringLiteral("The desktop needs your permission first.")), Theme::body(), Tone::secondary), allow);
        notifications->addRow(undetermined_);
    }
    form->addWidget(notifications);
    form->addStretch(1);

    area_->setFrameShape(QFrame::NoFrame);
    // Tab goes through what the area shows, never stopping at the area itself.
    area_->setFocusPolicy(Qt::NoFocus);
    area_->setWidgetResizable(true);
    area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area_->setWidget(content);
    // The window's own background shows through.
    area_->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(area_);

    // A burst of changes (a status sets several fields at once) is drawn once, on the
    // next turn of the event loop.
    redrawTimer_->setSingleShot(true);
    redrawTimer_->setInterval(0);
    connect(redrawTimer_, &QTimer::timeout, this, &MainView::redraw);
    connect(&model_, &AppModel::changed, this, &MainView::scheduleRedraw);
    // A new reading of the host may change what it says about registering.
    const auto hostChanged = [this] {
        hostRead_ = false;
        scheduleRedraw();
    };
    connect(&host_, &ServiceHost::loginEnabledChanged, this, hostChanged);
    connect(&host_, &ServiceHost::loginDetailChanged, this, hostChanged);
    connect(&host_, &ServiceHost::loginBusyChanged, this, hostChanged);
    redraw();
    keepFocus(this);
    fitsWindowHeight(area_, height);
}

bool MainView::focusNextPrevChild(bool next) { return focusNextStop(this, next) || QWidget::focusNextPrevChild(next); }

void MainView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The first Tab starts at the top, not at whichever control was made first.
    if (!window()->focusWidget())
        setFocus(Qt::OtherFocusReason);
}

void MainView::scheduleRedraw()
{
    if (!redrawTimer_->isActive())
        redrawTimer_->start();
}

void MainView::readHost()
{
    canRegister_ = host_.canRegister();
    needsApproval_ = host_.needsApproval();
    hostRead_ = true;
}

void MainView::redraw()
{
    redrawTimer_->stop();
    if (!hostRead_)
        readHost();
    const std::optional<ServiceStatus> &status = model_.status();
    const bool updateRequired = model_.connected() && status && status->connectionUpdateRequired();
    redrawBanner();
    setShown(update_, updateRequired);
    redrawComputers(updateRequired);
    redrawSettings();
    redrawNotifications();
}

void MainView::redrawBanner()
{
    const std::optional<QString> &error = model_.serviceError();
    setShown(banner_, error.has_value());
    if (!error)
        return;
    setText(bannerTitle_, model_.starting() ? L(QStringLiteral("Starting Corvane…"))
                                            : L(QStringLiteral("Corvane isn't running")));
    setText(bannerText_, Localization::service(*error));
    setEnabledTo(tryAgain_, !model_.starting());
}

void MainView::redrawComputers(bool updateRequired)
{
    const QList<ComputerRowModel> rows = MainView::rows(model_);
    setShown(computersHeader_, !rows.isEmpty());
    setShown(computersSpinner_, model_.starting() || model_.mutating());

    QList<QWidget *> widgets;
    QHash<QString, ComputerRow *> kept;
    if (rows.isEmpty()) {
        if (!empty_)
            empty_ = new EmptyComputers;
        empty_->setStatus(emptyComputersStatus(model_, updateRequired));
        widgets << empty_;
    } else {
        const bool busy = model_.busy();
        for (const ComputerRowModel &row : rows) {
            ComputerRow *widget = rows_.take(row.id);
            if (!widget) {
                widget = new ComputerRow(model_, [this, id = row.id] {
                    if (openPeer_)
                        openPeer_(id);
                });
            }
            widget->setRow(row, busy);
            kept.insert(row.id, widget);
            widgets << widget;
        }
    }
    // Rows of computers no longer listed (and the empty state, once there are rows)
    // go with this.
    computers_->setRows(widgets);
    rows_ = kept;

    const std::optional<ServiceStatus> &status = model_.status();
    QString seenAs;
    if (!rows.isEmpty() && status && !status->name.isEmpty())
        seenAs = L(QStringLiteral("Other computers see this computer as “{name}”."), {{"name", status->name}});
    setText(seenAs_, seenAs);
    setShown(seenAs_, !seenAs.isEmpty());
    setShown(download_, rows.isEmpty());
    setShown(footer_, rows.isEmpty() || !seenAs.isEmpty());
}

void MainView::redrawSettings()
{
    setChecked(login_, host_.loginEnabled());
    setText(loginDetail_, host_.loginDetail());
    setShown(loginDetail_, !host_.loginDetail().isEmpty());
    setEnabledTo(login_, canRegister_ && !host_.loginBusy() && !model_.busy());
    // A desktop without an autostart pane gets no button that would do nothing.
    setRowShown(loginSettings_, needsApproval_ && model_.workspace().hasSettings(SettingsPane::loginItems));
    setChecked(menuBar_, model_.showInMenuBar());
}

void MainView::redrawNotifications()
{
    using State = AppModel::NotificationState;
    const State state = model_.notifications();
    const bool wanted = model_.notifyConnections() || model_.notifyFiles();
    setChecked(notifyConnections_, model_.notifyConnections());
    setChecked(notifyFiles_, model_.notifyFiles());
    setRowShown(denied_, state == State::denied);
    setShown(notificationSettings_, model_.workspace().hasSettings(SettingsPane::notifications));
    setRowShown(undetermined_, state == State::notDetermined && wanted);
}

void MainView::openNotificationSettings()
{
    // Offered only where the pane exists; a pane that does not open says nothing.
    model_.workspace().openSettings(SettingsPane::notifications);
}

} // namespace cv
