// Prints one line per argument: "language", "reads" (catalog files looked for or
// read), "text=<key>", "number=<n>", "decimal=<v>,<places>", "speed=<bits/s>",
// "bytes=<n>".
#include "localization/localization.h"

#include <cstdio>

int main(int argc, char **argv)
{
    using cv::Localization;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromUtf8(argv[i]);
        const QString command = arg.section('=', 0, 0), value = arg.section('=', 1);
        QString out = QStringLiteral("unknown command ") + command;
        if (command == "language")
            out = Localization::language();
        else if (command == "reads")
            out = QString::number(Localization::catalogReads());
        else if (command == "text")
            out = cv::L(value);
        else if (command == "number")
            out = Localization::number(value.toLongLong());
        else if (command == "decimal")
            out = Localization::decimal(value.section(',', 0, 0).toDouble(), value.section(',', 1).toInt());
        else if (command == "speed")
            out = Localization::speed(value.toDouble());
        else if (command == "bytes")
            out = Localization::byteCount(value.toULongLong());
        std::printf("%s\n", out.toUtf8().constData());
    }
    return 0;
}
