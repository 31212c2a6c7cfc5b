// Plural categories per language and the choice of the plural text.
#include "localization/localization.h"

#include <QTest>

using namespace cv;

namespace {

const QString one = QStringLiteral("{n} file");
const QString other = QStringLiteral("{n} files");

QJsonObject forms(std::initializer_list<std::pair<const char *, const char *>> entries)
{
    QJsonObject object;
    for (const auto &[category, text] : entries)
        object.insert(QString::fromUtf8(category), QString::fromUtf8(text));
    return object;
}

} // namespace

class PluralsTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        Localization::overrideRegion(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void cleanup()
    {
        qputenv("CV_LANGUAGE", "en");
        Localization::reset();
        Localization::overrideRegion(std::nullopt);
    }

    void category_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("expected");
        for (const char *language : {"en", "de", "da", "es", "fi", "it", "nb", "nl", "sv", "tr"}) {
            QTest::addRow("%s 1", language) << language << qint64(1) << "one";
            QTest::addRow("%s 0", language) << language << qint64(0) << "other";
            QTest::addRow("%s 2", language) << language << qint64(2) << "other";
            QTest::addRow("%s -1", language) << language << qint64(-1) << "other";
        }
        for (const char *language : {"fr", "pt-BR"}) {
            QTest::addRow("%s 0", language) << language << qint64(0) << "one";
            QTest::addRow("%s 1", language) << language << qint64(1) << "one";
            QTest::addRow("%s 2", language) << language << qint64(2) << "other";
            QTest::addRow("%s -2", language) << language << qint64(-2) << "one";
            QTest::addRow("%s 1000", language) << language << qint64(1000) << "other";
        }
        const std::pair<qint64, const char *> polish[] = {
            {1, "one"},    {2, "few"},    {3, "few"},    {4, "few"},    {22, "few"},   {104, "few"},
            {122, "few"},  {5, "many"},   {11, "many"},  {12, "many"},  {13, "many"},  {14, "many"},
            {112, "many"}, {212, "many"}, {0, "many"},   {-2, "many"},  {-1, "many"},  {101, "many"},
        };
        for (const auto &[count, category] : polish)
            QTest::addRow("pl %lld", count) << "pl" << count << category;
        for (const char *language : {"ja", "ko", "zh-Hans", "zh-Hant"}) {
            for (qint64 count : {0, 1, 2, 5, -1})
                QTest::addRow("%s %lld", language, count) << language << count << "other";
        }
    }

    void category()
    {
        QFETCH(QString, language);
        QFETCH(qint64, count);
        QFETCH(QString, expected);
        QCOMPARE(Localization::category(count, language), expected);
    }

    void categoryOfChosenLanguage()
    {
        Localization::install(QStringLiteral("pl"), {});
        QCOMPARE(Localization::category(3), QStringLiteral("few"));
        Localization::install(QStringLiteral("fr"), {});
        QCOMPARE(Localization::category(0), QStringLiteral("one"));
    }

    void english_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("expected");
        QTest::newRow("1") << qint64(1) << "1 file";
        QTest::newRow("0") << qint64(0) << "0 files";
        QTest::newRow("2") << qint64(2) << "2 files";
        QTest::newRow("-1") << qint64(-1) << "-1 files";
        QTest::newRow("1234 grouped") << qint64(1234) << "1,234 files";
    }

    void english()
    {
        QFETCH(qint64, count);
        QFETCH(QString, expected);
        qputenv("CV_LANGUAGE", "en");
        Localization::reset();
        QCOMPARE(Lp(one, other, count), expected);
    }

    void translated_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QJsonObject>("entry");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("expected");

        const QJsonObject french = forms({{"one", "{n} fichier"}, {"other", "{n} fichiers"}});
        QTest::newRow("fr 0 takes one") << "fr" << french << qint64(0) << "0 fichier";
        QTest::newRow("fr 1") << "fr" << french << qint64(1) << "1 fichier";
        QTest::newRow("fr 2") << "fr" << french << qint64(2) << "2 fichiers";
        QTest::newRow("fr -2 takes one") << "fr" << french << qint64(-2) << "-2 fichier";

        const QJsonObject german = forms({{"one", "{n} Datei"}, {"other", "{n} Dateien"}});
        QTest::newRow("de 0 takes other") << "de" << german << qint64(0) << "0 Dateien";
        QTest::newRow("de 1") << "de" << german << qint64(1) << "1 Datei";

        const QJsonObject polish =
            forms({{"one", "{n} plik"}, {"few", "{n} pliki"}, {"many", "{n} plików"}, {"other", "{n} pliku"}});
        const std::pair<qint64, const char *> polishCases[] = {
            {1, "1 plik"},     {2, "2 pliki"},    {5, "5 plików"},     {12, "12 plików"},  {22, "22 pliki"},
            {104, "104 pliki"}, {112, "112 plików"}, {0, "0 plików"}, {-2, "-2 plików"},
        };
        for (const auto &[count, text] : polishCases)
            QTest::addRow("pl %lld", count) << "pl" << polish << count << text;

        const QJsonObject polishWithoutFew = forms({{"one", "{n} plik"}, {"many", "{n} plików"}, {"other", "{n} pliku"}});
        QTest::newRow("pl without few: other") << "pl" << polishWithoutFew << qint64(3) << "3 pliku";
        QTest::newRow("pl without few: many kept") << "pl" << polishWithoutFew << qint64(5) << "5 plików";

        const QJsonObject polishOnlyOne = forms({{"one", "{n} plik"}});
        QTest::newRow("pl neither few nor other: English") << "pl" << polishOnlyOne << qint64(3) << "3 files";
        QTest::newRow("pl only one: 1") << "pl" << polishOnlyOne << qint64(1) << "1 plik";

        const QJsonObject japanese = forms({{"other", "{n} 個のファイル"}});
        for (qint64 count : {0, 1, 2, 21})
            QTest::addRow("ja %lld", count) << "ja" << japanese << count << QString::number(count) + " 個のファイル";
        const QJsonObject japaneseWithOne = forms({{"one", "wrong"}, {"other", "{n} 個"}});
        QTest::newRow("ja ignores one") << "ja" << japaneseWithOne << qint64(1) << "1 個";

        QTest::newRow("empty object: English 1") << "de" << QJsonObject() << qint64(1) << "1 file";
        QTest::newRow("empty object: English 2") << "de" << QJsonObject() << qint64(2) << "2 files";
        QJsonObject notAllText = german;
        notAllText.insert(QStringLiteral("few"), 3);
        QTest::newRow("a form that is not text: English") << "de" << notAllText << qint64(2) << "2 files";
    }

    void translated()
    {
        QFETCH(QString, language);
        QFETCH(QJsonObject, entry);
        QFETCH(qint64, count);
        QFETCH(QString, expected);
        Localization::install(language, QJsonObject{{other, entry}});
        QCOMPARE(Lp(one, other, count), expected);
    }

    void plainStringEntryIsNotUsed()
    {
        Localization::install(QStringLiteral("de"), QJsonObject{{other, QStringLiteral("{n} Dateien")}});
        QCOMPARE(Lp(one, other, 1), QStringLiteral("1 file"));
        QCOMPARE(Lp(one, other, 3), QStringLiteral("3 files"));
        // The plain string still translates the text through L.
        QCOMPARE(L(other, {{"n", 3}}), QStringLiteral("3 Dateien"));
    }

    void pluralLooksUpTheOtherForm()
    {
        // An entry under the one-form is not a plural entry.
        Localization::install(QStringLiteral("de"),
                              QJsonObject{{one, forms({{"one", "{n} Datei"}, {"other", "{n} Dateien"}})}});
        QCOMPARE(Lp(one, other, 1), QStringLiteral("1 file"));
        QCOMPARE(Localization::plural(one, other, 2), other);
    }

    void countReplacesCallersValue()
    {
        Localization::install(QStringLiteral("en"), {});
        const QString from = QStringLiteral("Received {n} files from {from}");
        QCOMPARE(Lp(QStringLiteral("Received a file from {from}"), from, 3, {{"n", "many"}, {"from", "Mac"}}),
                 QStringLiteral("Received 3 files from Mac"));
        QCOMPARE(Lp(QStringLiteral("Received a file from {from}"), from, 1, {{"n", 99}, {"from", "Mac"}}),
                 QStringLiteral("Received a file from Mac"));
    }

    void countIsGroupedByRegion()
    {
        Localization::install(QStringLiteral("fr"),
                              QJsonObject{{other, forms({{"one", "{n} fichier"}, {"other", "{n} fichiers"}})}});
        QCOMPARE(Lp(one, other, 12345), QStringLiteral("12,345 fichiers"));
        Localization::overrideRegion(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(Lp(one, other, 12345), QStringLiteral("12.345 fichiers"));
    }
};

QTEST_GUILESS_MAIN(PluralsTest)
#include "tst_plurals.moc"
