#include "platform/alerts.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <QMessageBox>

namespace cv {

QString literalButtonTitle(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void showAsPlainText(QMessageBox &box)
{
    box.setTextFormat(Qt::PlainText);
    // The informative label guesses its format on its own.
    if (auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
}

int MessageBoxAlerts::run(const Alert &alert)
{
    QMessageBox box;
    switch (alert.style) {
    case Alert::Style::informational:
        box.setIcon(QMessageBox::Information);
        break;
    case Alert::Style::warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Alert::Style::critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    box.setText(alert.message);
    box.setInformativeText(alert.informative);
    // Texts from elsewhere are never markup.
    showAsPlainText(box);
    QList<QAbstractButton *> buttons;
    for (const QString &title : alert.buttons) {
        const bool cancels = alert.cancelButton == buttons.size();
        QPushButton *button =
            box.addButton(literalButtonTitle(title), cancels ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        if (buttons.isEmpty())
            box.setDefaultButton(button);
        if (cancels)
            box.setEscapeButton(button);
        buttons << button;
    }
    box.exec();
    const int index = int(buttons.indexOf(box.clickedButton()));
    return index < 0 ? noChoice : index;
}

Alerts &Alerts::system()
{
    static MessageBoxAlerts alerts;
    return alerts;
}

} // namespace cv
