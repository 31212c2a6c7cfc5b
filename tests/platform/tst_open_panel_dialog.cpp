#include "platform/open_panel_dialog.h"
#include "test_files.h"

#include <QAbstractProxyModel>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

using namespace cv;

namespace {

// A panel kept inside `root`, refusing everything else as the panel for getting files does.
OpenPanel insidePanel(const QString &root)
{
    OpenPanel panel;
    panel.prompt = "Copy & Go";
    panel.message = "Choose <b>files</b> here.";
    panel.directoryURL = QUrl::fromLocalFile(root + '/');
    auto inside = [root](const QUrl &url) {
        const QString path = QDir::cleanPath(url.toLocalFile());
        return path == root || path.startsWith(root + '/');
    };
    panel.shouldEnable = inside;
    panel.validate = [inside](const QUrl &url) -> std::optional<OpenPanelRefusal> {
        if (inside(url))
            return std::nullopt;
        return OpenPanelRefusal{"Choose files and folders on Beta.",
                                "Get Files copies from Beta to your Downloads folder."};
    };
    return panel;
}

QAbstractButton *acceptButton(QFileDialog &dialog)
{
    auto *box = dialog.findChild<QDialogButtonBox *>("buttonBox");
    return box ? box->button(QDialogButtonBox::Open) : nullptr;
}

} // namespace

class TestOpenPanelDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(QDir().mkpath(root_ + "/folder"));
        for (const QString &path : {root_ + "/a.txt", root_ + "/b.txt", base_ + "/outside.txt", base_ + "/shareX/c.txt"})
            QVERIFY(test::writeFile(path, ""));
    }

    void plainTextPanelKeptInside()
    {
        OpenPanelDialog dialog(insidePanel(root_));
        QVERIFY(dialog.testOption(QFileDialog::DontUseNativeDialog));
        QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFiles);
        QCOMPARE(QDir::cleanPath(dialog.directory().absolutePath()), root_);
        QLabel *label = dialog.messageLabel();
        QVERIFY(label && dialog.isAncestorOf(label) && label->textFormat() == Qt::PlainText);
        QCOMPARE(label->text(), "Choose <b>files</b> here.");
        // An ampersand of the prompt is shown, not read as a mnemonic.
        QCOMPARE(acceptButton(dialog) ? acceptButton(dialog)->text() : "", "Copy && Go");
        // New folders only where the panel allows them.
        auto *newFolder = dialog.findChild<QAbstractButton *>("newFolderButton");
        QVERIFY(newFolder && !newFolder->isEnabled());
        // Items outside the root are shown disabled.
        QAbstractProxyModel *proxy = dialog.proxyModel();
        auto *files = proxy ? qobject_cast<QFileSystemModel *>(proxy->sourceModel()) : nullptr;
        QVERIFY(files);
        auto flags = [&](const QString &path) { return proxy->mapFromSource(files->index(path)).flags(); };
        QVERIFY(flags(root_ + "/a.txt").testFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
        QVERIFY(!(flags(base_ + "/outside.txt") & Qt::ItemIsEnabled));
        QVERIFY(!(flags(base_ + "/shareX") & Qt::ItemIsSelectable));
        // A typed path outside is refused, one inside accepted.
        dialog.show();
        dialog.selectFile(base_ + "/outside.txt");
        dialog.accept();
        QVERIFY(dialog.isVisible() && dialog.chosen().isEmpty());
        auto *refusal = dialog.findChild<QMessageBox *>("cv_panel_refusal");
        QVERIFY(refusal && refusal->text() == "Choose files and folders on Beta.");
        delete refusal;

        dialog.selectFile(root_ + "/b.txt");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosen(), QList<QUrl>{QUrl::fromLocalFile(root_ + "/b.txt")});
    }

    // Without a starting folder a panel starts in the home folder, not in the process's
    // working one; it is titled with its prompt, or its message when it has none.
    void startAndTitle_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("title");
        QTest::newRow("prompt and message") << "Share" << "Choose the folder to share with Dana’s Mac." << "Share";
        QTest::newRow("message only") << "" << "Choose where files from A [*] B are saved."
                                      << "Choose where files from A [*] B are saved.";
    }
    void startAndTitle()
    {
        QFETCH(QString, prompt);
        QFETCH(QString, message);
        QFETCH(QString, title);
        const QString working = QDir::currentPath();
        QVERIFY(QDir::setCurrent(root_));
        OpenPanel panel;
        panel.canChooseFiles = false;
        panel.allowsMultipleSelection = false;
        panel.prompt = prompt;
        panel.message = message;
        OpenPanelDialog dialog(panel);
        QVERIFY(QDir::setCurrent(working));
        QCOMPARE(QDir::cleanPath(dialog.directory().absolutePath()), QDir::cleanPath(QDir::homePath()));
        dialog.show();
        QCOMPARE(dialog.windowHandle()->title(), title);
    }

private:
    QTemporaryDir dir_;
    const QString base_ = QDir::cleanPath(dir_.path()), root_ = base_ + "/share";
};

QTEST_MAIN(TestOpenPanelDialog)
#include "tst_open_panel_dialog.moc"
