// Prints names sorted by several locales' rules, which is what Qt's file dialog asks of ICU's
// data. The bundle's cut-down ICU data must print the same as the full one.
#include <QCollator>
#include <QCoreApplication>

#include <algorithm>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList names = {"zebra",  "Äpfel",    "apple", "Zürich", "éclair", "file10",   "file2",
                               "Ørsted", "ångström", "Chaos", "côte",   "coté",   "İstanbul", "ıslak",
                               "Łódź",   "中国",     "北京",  "上海",   "阿里",   "日本",     "한국"};
    for (const char *locale :
         {"en_US", "de_DE", "sv_SE", "cs_CZ", "tr_TR", "zh_CN", "zh_TW", "ja_JP", "ko_KR"}) {
        // As Qt's file dialog sorts: numbers by value, case ignored.
        QCollator collator{QLocale(QString::fromLatin1(locale))};
        collator.setNumericMode(true);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        QStringList sorted = names;
        std::sort(sorted.begin(), sorted.end(), collator);
        std::printf("%s: %s\n", locale, qPrintable(sorted.join(' ')));
    }
    return 0;
}
