#pragma once

#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;

namespace cv {

class AppModel;
class ComputerRow;
class EmptyComputers;
class FooterLabel;
class FormSection;
class ServiceHost;
class Spinner;
class Switch;
class WindowHeight;
struct ComputerRowModel;

// The main window's content: one grouped form with the service's health, the
// computers this one knows, the settings and the notification choices. It keeps no
// state of its own: every change the model or the host announces schedules one
// redraw for the next turn of the event loop, and the redraw changes only the
// widgets whose content differs, so an unchanged status repaints nothing. Every
// control calls the model, the host, the diagnostics or the workspace.
class MainView final : public QWidget {
    Q_OBJECT
public:
    // `openPeer` opens the window of a computer, given its id; `height` may be null.
    MainView(AppModel &model, ServiceHost &host, std::function<void(const QString &)> openPeer, WindowHeight *height,
             QWidget *parent = nullptr);

    // Every computer the model knows of: the connected ones in the model's order,
    // then the remembered ones that are not connected and the disconnected ones that
    // are not remembered, together in name order (stable: equal names keep their
    // order, the remembered before the disconnected). Computed afresh at each call.
    static QList<ComputerRowModel> rows(const AppModel &model);

    // The product's web site, linked from the download footer.
    static const QString &productSite();

    QScrollArea *scrollArea() const { return area_; }

protected:
    bool focusNextPrevChild(bool next) override;
    void showEvent(QShowEvent *event) override;

private:
    void scheduleRedraw();
    void redraw();
    void redrawBanner();
    void redrawComputers(bool updateRequired);
    void redrawSettings();
    void redrawNotifications();
    void readHost();
    void openNotificationSettings();

    AppModel &model_;
    ServiceHost &host_;
    std::function<void(const QString &)> openPeer_;
    QScrollArea *area_;
    QTimer *redrawTimer_;

    // What the host says about registering: asked only when the host announces a
    // new reading, since asking may reach the service manager.
    bool hostRead_ = false;
    bool canRegister_ = false;
    bool needsApproval_ = false;

    FormSection *banner_;
    QLabel *bannerTitle_;
    QLabel *bannerText_;
    QPushButton *tryAgain_;

    FormSection *update_;

    FormSection *computers_;
    QWidget *computersHeader_;
    Spinner *computersSpinner_;
    QPointer<EmptyComputers> empty_; // while the list is empty
    QHash<QString, ComputerRow *> rows_; // by computer id
    FooterLabel *download_;
    QLabel *seenAs_;
    QWidget *footer_;

    Switch *login_;
    QLabel *loginDetail_;
    QWidget *loginSettings_;
    Switch *menuBar_;

    Switch *notifyConnections_;
    Switch *notifyFiles_;
    QWidget *denied_;
    QPushButton *notificationSettings_; // where the desktop has the pane
    QWidget *undetermined_;
};

} // namespace cv
