#include "platform/open_panel_dialog.h"

#include "platform/alerts.h"
#include "platform/dialog_result.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTreeView>

#include <utility>

namespace cv {

namespace {

// Leaves every item in the dialog's lists but disables those the panel refuses, so
// they can be neither chosen nor entered.
class EnableFilter final : public QSortFilterProxyModel {
public:
    EnableFilter(std::function<bool(const QUrl &)> shouldEnable, QObject *parent)
        : QSortFilterProxyModel(parent), shouldEnable_(std::move(shouldEnable))
    {
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        Qt::ItemFlags flags = QSortFilterProxyModel::flags(index);
        if (!index.isValid())
            return flags;
        const QString path = index.data(QFileSystemModel::FilePathRole).toString();
        if (path.isEmpty() || shouldEnable_(QUrl::fromLocalFile(path)))
            return flags;
        return flags & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
    }

private:
    std::function<bool(const QUrl &)> shouldEnable_;
};

// Puts `widget` above everything else in a grid layout.
void insertOnTop(QGridLayout *grid, QWidget *widget)
{
    struct Placed {
        QLayoutItem *item;
        int row, column, rowSpan, columnSpan;
    };
    QList<Placed> placed;
    for (int i = grid->count() - 1; i >= 0; --i) {
        Placed p{nullptr, 0, 0, 0, 0};
        grid->getItemPosition(i, &p.row, &p.column, &p.rowSpan, &p.columnSpan);
        p.item = grid->takeAt(i);
        placed.prepend(p);
    }
    int columns = 1;
    for (const Placed &p : placed)
        columns = std::max(columns, p.column + p.columnSpan);
    grid->addWidget(widget, 0, 0, 1, columns);
    for (const Placed &p : placed)
        grid->addItem(p.item, p.row + 1, p.column, p.rowSpan, p.columnSpan);
}

} // namespace

OpenPanelDialog::OpenPanelDialog(OpenPanel panel, QWidget *parent)
    : QFileDialog(parent), panel_(std::move(panel))
{
    setOption(QFileDialog::DontUseNativeDialog, true);
    setAcceptMode(QFileDialog::AcceptOpen);
    // Read-only also takes away renaming and deleting, which no panel offers.
    setOption(QFileDialog::ReadOnly, !panel_.canCreateDirectories);
    if (panel_.canChooseFiles)
        setFileMode(panel_.allowsMultipleSelection ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    else
        setFileMode(QFileDialog::Directory);
    if (panel_.shouldEnable)
        setProxyModel(new EnableFilter(panel_.shouldEnable, this));
    // Without a folder of its own the dialog would start in the process's working
    // folder, which means nothing to the user.
    if (panel_.directoryURL)
        setDirectoryUrl(*panel_.directoryURL);
    else
        setDirectory(QDir::homePath());
    if (!panel_.prompt.isEmpty())
        setLabelText(QFileDialog::Accept, literalButtonTitle(panel_.prompt));
    // Titled with the panel's own words, not the dialog's mode ("Find Directory"); Qt
    // reads "[*]" in a title as the place of the modified mark.
    if (const QString title = panel_.prompt.isEmpty() ? panel_.message : panel_.prompt; !title.isEmpty())
        setWindowTitle(QString(title).replace(QLatin1String("[*]"), QLatin1String("[*][*]")));

    if (!panel_.message.isEmpty()) {
        message_ = new QLabel(panel_.message, this);
        message_->setObjectName(QStringLiteral("cv_panel_message"));
        message_->setTextFormat(Qt::PlainText);
        message_->setWordWrap(true);
        if (auto *grid = qobject_cast<QGridLayout *>(layout()))
            insertOnTop(grid, message_);
        else if (layout())
            layout()->addWidget(message_);
    }

    auto *list = findChild<QListView *>(QStringLiteral("listView"));
    auto *tree = findChild<QTreeView *>(QStringLiteral("treeView"));
    const auto selection = panel_.allowsMultipleSelection ? QAbstractItemView::ExtendedSelection
                                                          : QAbstractItemView::SingleSelection;
    if (list)
        list->setSelectionMode(selection);
    if (tree)
        tree->setSelectionMode(selection);

    // The dialog renames its default button "Open" whenever a folder is selected;
    // these connections are made after its own, so the panel's prompt comes back.
    if (!panel_.prompt.isEmpty()) {
        if (list && list->selectionModel())
            connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &OpenPanelDialog::showPrompt);
        if (auto *edit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            connect(edit, &QLineEdit::textChanged, this, &OpenPanelDialog::showPrompt);
        connect(this, &QFileDialog::directoryEntered, this, &OpenPanelDialog::showPrompt);
        showPrompt();
    }
}

void OpenPanelDialog::showPrompt()
{
    auto *box = findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    if (!box)
        return;
    for (QAbstractButton *button : box->buttons()) {
        if (box->buttonRole(button) == QDialogButtonBox::AcceptRole) {
            button->setText(literalButtonTitle(panel_.prompt));
            return;
        }
    }
}

void OpenPanelDialog::accept()
{
    const QStringList files = selectedFiles();
    if (files.isEmpty())
        return;
    for (const QString &file : files) {
        if (!QFileInfo::exists(file)) {
            // The dialog says the name was not found and stays open.
            QFileDialog::accept();
            return;
        }
    }

    QList<QUrl> urls;
    for (const QString &file : files)
        urls << QUrl::fromLocalFile(file);
    if (panel_.validate) {
        for (const QUrl &url : urls) {
            if (auto refusal = panel_.validate(url)) {
                refuse(*refusal);
                return;
            }
        }
    }

    // A folder whose name was typed is entered, as the dialog usually does; a folder
    // selected in the list is chosen.
    const QFileInfo first(files.first());
    if (files.size() == 1 && first.isDir() && typedName(first.absoluteFilePath())) {
        setDirectory(first.absoluteFilePath());
        if (auto *edit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
            edit->clear();
        return;
    }
    for (const QString &file : files) {
        const QFileInfo info(file);
        if ((info.isDir() && !panel_.canChooseDirectories) || (!info.isDir() && !panel_.canChooseFiles))
            return;
    }

    chosen_ = urls;
    QDialog::accept();
}

bool OpenPanelDialog::typedName(const QString &path) const
{
    auto *edit = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!edit)
        return false;
    QString typed = edit->text().trimmed();
    if (typed.size() >= 2 && typed.startsWith(QLatin1Char('"')) && typed.endsWith(QLatin1Char('"')))
        typed = typed.mid(1, typed.size() - 2);
    if (typed.isEmpty())
        return false;
    return QDir::cleanPath(directory().absoluteFilePath(typed)) == QDir::cleanPath(path);
}

void OpenPanelDialog::refuse(const OpenPanelRefusal &refusal)
{
    auto *box = new QMessageBox(QMessageBox::Warning, windowTitle(), refusal.description, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("cv_panel_refusal"));
    box->setInformativeText(refusal.recoverySuggestion);
    showAsPlainText(*box);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QCoro::Task<std::optional<QList<QUrl>>> FileDialogOpenPanels::run(OpenPanel panel)
{
    // Owned here, never by the window or menu it was opened from, which may go away
    // while the panel is open.
    const LaterOwned<OpenPanelDialog> dialog(new OpenPanelDialog(std::move(panel)));
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    if (co_await finished(dialog.get()) != QDialog::Accepted)
        co_return std::nullopt;
    co_return dialog->chosen();
}

OpenPanels &OpenPanels::system()
{
    static FileDialogOpenPanels panels;
    return panels;
}

} // namespace cv
