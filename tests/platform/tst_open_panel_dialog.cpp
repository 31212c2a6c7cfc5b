#include "platform/open_panel_dialog.h"

#include <QAbstractItemView>
#include <QAbstractProxyModel>
#include <QItemSelectionModel>
#include <QApplication>
#include <QDir>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace cv;

namespace {

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

// A panel kept inside `root`, refusing everything else as the panel for getting files does.
OpenPanel insidePanel(const QString &root)
{
    OpenPanel panel;
    panel.prompt = QStringLiteral("Copy & Go");
    panel.message = QStringLiteral("Choose <b>files</b> here.");
    panel.directoryURL = QUrl::fromLocalFile(root + QLatin1Char('/'));
    auto inside = [root](const QUrl &url) {
        const QString path = QDir::cleanPath(url.toLocalFile());
        return path == root || path.startsWith(root + QLatin1Char('/'));
    };
    panel.shouldEnable = inside;
    panel.validate = [inside](const QUrl &url) -> std::optional<OpenPanelRefusal> {
        if (inside(url))
            return std::nullopt;
        return OpenPanelRefusal{QStringLiteral("Choose files and folders on Beta."),
                                QStringLiteral("Get Files copies from Beta to your Downloads folder.")};
    };
    return panel;
}

QAbstractButton *acceptButton(QFileDialog &dialog)
{
    auto *box = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
    if (!box)
        return nullptr;
    for (QAbstractButton *button : box->buttons()) {
        if (box->buttonRole(button) == QDialogButtonBox::AcceptRole)
            return button;
    }
    return nullptr;
}

} // namespace

class TestOpenPanelDialog : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(dir_.isValid());
        base_ = QDir::cleanPath(dir_.path());
        root_ = base_ + QStringLiteral("/share");
        QVERIFY(QDir().mkpath(root_ + QStringLiteral("/folder")));
        QVERIFY(QDir().mkpath(base_ + QStringLiteral("/shareX")));
        touch(root_ + QStringLiteral("/a.txt"));
        touch(root_ + QStringLiteral("/b.txt"));
        touch(base_ + QStringLiteral("/outside.txt"));
        touch(base_ + QStringLiteral("/shareX/c.txt"));
    }

    void isNonNativeAndChoosesSeveralItems()
    {
        OpenPanelDialog dialog(insidePanel(root_));
        QVERIFY(dialog.testOption(QFileDialog::DontUseNativeDialog));
        QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFiles);
        QCOMPARE(QDir::cleanPath(dialog.directory().absolutePath()), root_);
    }

    void showsMessageAndPromptAsPlainText()
    {
        OpenPanelDialog dialog(insidePanel(root_));
        QLabel *label = dialog.messageLabel();
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Choose <b>files</b> here."));
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QVERIFY(dialog.isAncestorOf(label));
        QAbstractButton *button = acceptButton(dialog);
        QVERIFY(button);
        // An ampersand of the prompt is shown, not read as a mnemonic.
        QCOMPARE(button->text(), QStringLiteral("Copy && Go"));
    }

    void disablesItemsOutsideTheRoot()
    {
        OpenPanelDialog dialog(insidePanel(root_));
        QAbstractProxyModel *proxy = dialog.proxyModel();
        QVERIFY(proxy);
        auto *files = qobject_cast<QFileSystemModel *>(proxy->sourceModel());
        QVERIFY(files);
        auto flags = [&](const QString &path) { return proxy->mapFromSource(files->index(path)).flags(); };
        QVERIFY(flags(root_ + QStringLiteral("/a.txt")) & Qt::ItemIsEnabled);
        QVERIFY(flags(root_ + QStringLiteral("/a.txt")) & Qt::ItemIsSelectable);
        QVERIFY(flags(root_ + QStringLiteral("/folder")) & Qt::ItemIsEnabled);
        QVERIFY(!(flags(base_ + QStringLiteral("/outside.txt")) & Qt::ItemIsEnabled));
        QVERIFY(!(flags(base_ + QStringLiteral("/shareX")) & Qt::ItemIsSelectable));
        QVERIFY(!(flags(base_) & Qt::ItemIsEnabled));
    }

    void refusesATypedPathOutsideAndStaysOpen()
    {
        OpenPanelDialog dialog(insidePanel(root_));
        dialog.show();
        dialog.selectFile(base_ + QStringLiteral("/outside.txt"));
        dialog.accept();
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(dialog.chosen().isEmpty());
        auto *refusal = dialog.findChild<QMessageBox *>(QStringLiteral("cv_panel_refusal"));
        QVERIFY(refusal);
        QCOMPARE(refusal->text(), QStringLiteral("Choose files and folders on Beta."));
        QCOMPARE(refusal->informativeText(), QStringLiteral("Get Files copies from Beta to your Downloads folder."));
        refusal->close();
    }

    void acceptsItemsInside()
    {
        OpenPanelDialog dialog(insidePanel(root_));
        dialog.show();
        dialog.selectFile(root_ + QStringLiteral("/b.txt"));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosen(), QList<QUrl>{QUrl::fromLocalFile(root_ + QStringLiteral("/b.txt"))});
        QVERIFY(!dialog.findChild<QMessageBox *>(QStringLiteral("cv_panel_refusal")));
    }

    void choosesAFolderSelectedInTheList()
    {
        OpenPanelDialog dialog(insidePanel(root_));
        dialog.show();
        auto *files = qobject_cast<QFileSystemModel *>(dialog.proxyModel()->sourceModel());
        QVERIFY(files);
        auto *list = dialog.findChild<QAbstractItemView *>(QStringLiteral("listView"));
        QVERIFY(list);
        const QString folder = root_ + QStringLiteral("/folder");
        const QString file = root_ + QStringLiteral("/a.txt");
        QTRY_VERIFY(files->index(folder).isValid() && files->rowCount(files->index(root_)) >= 3);
        list->selectionModel()->select(dialog.proxyModel()->mapFromSource(files->index(folder)),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        list->selectionModel()->select(dialog.proxyModel()->mapFromSource(files->index(file)),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
        // A selected folder does not turn the prompt into "Open".
        QCOMPARE(acceptButton(dialog)->text(), QStringLiteral("Copy && Go"));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QList<QUrl> chosen = dialog.chosen();
        std::sort(chosen.begin(), chosen.end());
        QList<QUrl> expected{QUrl::fromLocalFile(file), QUrl::fromLocalFile(folder)};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(chosen, expected);
    }

    void entersATypedFolder()
    {
        OpenPanelDialog dialog(insidePanel(root_));
        dialog.show();
        dialog.selectFile(root_ + QStringLiteral("/folder"));
        dialog.accept();
        QVERIFY(dialog.isVisible());
        QCOMPARE(QDir::cleanPath(dialog.directory().absolutePath()), root_ + QStringLiteral("/folder"));
    }

private:
    QTemporaryDir dir_;
    QString base_;
    QString root_;
};

QTEST_MAIN(TestOpenPanelDialog)
#include "tst_open_panel_dialog.moc"
