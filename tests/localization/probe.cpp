// Prints one line per argument, in order:
//   language          the chosen interface language
//   reads             how many times a catalog file was looked for or read
//   text=<key>        L(key)
//   number=<n>        Localization::number
//   decimal=<v>,<p>   Localization::decimal
//   speed=<bits/s>    Localization::speed
//   bytes=<n>         Localization::byteCount
#include "localization/localization.h"

#include <cstdio>

int main(int argc, char **argv)
{
    using cv::Localization;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromUtf8(argv[i]);
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        const QString command = eq < 0 ? arg : arg.left(eq);
        const QString value = eq < 0 ? QString() : arg.mid(eq + 1);
        QString out;
        if (command == QLatin1String("language"))
            out = Localization::language();
        else if (command == QLatin1String("reads"))
            out = QString::number(Localization::catalogReads());
        else if (command == QLatin1String("text"))
            out = cv::L(value);
        else if (command == QLatin1String("number"))
            out = Localization::number(value.toLongLong());
        else if (command == QLatin1String("decimal"))
            out = Localization::decimal(value.section(QLatin1Char(','), 0, 0).toDouble(),
                                        value.section(QLatin1Char(','), 1, 1).toInt());
        else if (command == QLatin1String("speed"))
            out = Localization::speed(value.toDouble());
        else if (command == QLatin1String("bytes"))
            out = Localization::byteCount(value.toULongLong());
        else
            out = QStringLiteral("unknown command ") + command;
        std::printf("%s\n", out.toUtf8().constData());
    }
    return 0;
}
