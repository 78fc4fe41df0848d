// Checks of the three command catalogues of the console. The catalogue data is typed in by hand,
// so most checks here are properties that a slip of transcription would break: counts, order,
// the shape of every item, lengths, placeholders and separators. A few items that are easy to
// get wrong (tabs, runs of blanks, trailing blanks, odd spellings) are compared byte for byte.

#include "console/Catalogues.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace std::string_view_literals;

// Failure messages show compared items with their tabs made visible.
namespace QTest {
template <> char *toString(const std::string_view &item) {
    QByteArray text(item.data(), qsizetype(item.size()));
    text.replace('\t', "<TAB>");
    return qstrdup(('"' + text + '"').constData());
}
} // namespace QTest

namespace {

static_assert(catalogue::basic.size() == 60);
static_assert(catalogue::expanded.size() == 351);
static_assert(catalogue::expandedRead.size() == 98);

enum Which { Basic, Expanded, ExpandedRead };

std::span<const std::string_view> items(Which which) {
    switch (which) {
    case Basic:
        return catalogue::basic;
    case Expanded:
        return catalogue::expanded;
    case ExpandedRead:
        return catalogue::expandedRead;
    }
    return {};
}

// The part before the first "[" (whole text if none), computed on the raw bytes so the checks
// of the data do not depend on the helper under test.
std::string_view commandPart(std::string_view item) { return item.substr(0, item.find('[')); }

std::string_view restPart(std::string_view item) {
    const auto bracket = item.find('[');
    return bracket == std::string_view::npos ? std::string_view{} : item.substr(bracket);
}

// For the two expanded catalogues: the blanks and tabs between "[CR]" and ":".
std::string_view separatorOf(std::string_view item) {
    std::string_view rest = restPart(item).substr(4);
    return rest.substr(0, rest.find(':'));
}

// For the two expanded catalogues: the text after the ":" that follows "[CR]", empty if none.
std::string_view descriptionOf(std::string_view item) {
    const std::string_view rest = restPart(item).substr(4);
    const auto colon = rest.find(':');
    return colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
}

// Second word of an expanded command text: "CF KEYWORD ARG" -> "KEYWORD".
std::string_view keywordOf(std::string_view item) {
    std::string_view command = commandPart(item).substr(3);
    return command.substr(0, command.find(' '));
}

std::string_view findByCommand(std::span<const std::string_view> list, std::string_view command) {
    const auto it = std::find_if(list.begin(), list.end(),
                                 [&](std::string_view item) { return commandPart(item) == command; });
    return it == list.end() ? std::string_view{} : *it;
}

QString show(std::string_view s) {
    QString out = catalogue::toQString(s);
    out.replace(u'\t', QStringLiteral("<TAB>"));
    return out;
}

} // namespace

class TestCatalogues : public QObject {
    Q_OBJECT

private slots:
    void countsAndOrder_data();
    void countsAndOrder();
    void basicCodesAscend();
    void inputRunsAndKeywordGroups();

    void itemShape_data();
    void itemShape();
    void lengths_data();
    void lengths();

    void placeholders();
    void separatorsAndDescriptions();
    void exactItems_data();
    void exactItems();

    void commandTextOf_data();
    void commandTextOf();
    void hasPlaceholder();
    void toQStringKeepsEveryCharacter();
};

void TestCatalogues::countsAndOrder_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    // SHA-1 of the command texts in the design's list order, each followed by a line feed:
    // any two items changing places changes it, without the test copying the lists.
    QTest::addColumn<QByteArray>("orderDigest");
    QTest::newRow("basic") << int(Basic) << 60 << QStringLiteral("C00[CR]     POWER ON")
                           << QStringLiteral("CR7[CR]     Lamp Mode Read")
                           << QByteArray("70f3d2646086d1e78db88b4561ca7264160fa381");
    QTest::newRow("expanded") << int(Expanded) << 351 << QStringLiteral("CF BRIGHT UP[CR]  \t\t:Set Brightness value")
                              << QStringLiteral("CF VMUTE DN[CR]")
                              << QByteArray("64eedc1353e090f9d8bf7affa6006c8bec70beb1");
    QTest::newRow("expanded read") << int(ExpandedRead) << 98 << QStringLiteral("CR BRIGHT[CR] \t:Get Brightness value")
                                   << QStringLiteral("CR TEMPFAIL[CR] :Get temperature when sensors approach abnomal "
                                                     "temperature")
                                   << QByteArray("44ab763a938ed9cfcdebf0b60b335821936ebc22");
}

void TestCatalogues::countsAndOrder() {
    QFETCH(int, which);
    QFETCH(int, count);
    QFETCH(QString, first);
    QFETCH(QString, last);
    const auto list = items(Which(which));

    // Every item is filled in and no line was written twice.
    std::set<std::string_view> distinct;
    for (std::string_view item : list) {
        QVERIFY2(!item.empty(), "empty item");
        distinct.insert(item);
    }
    QCOMPARE(int(distinct.size()), count);

    QCOMPARE(catalogue::toQString(list.front()), first);
    QCOMPARE(catalogue::toQString(list.back()), last);

    QFETCH(QByteArray, orderDigest);
    QCryptographicHash order(QCryptographicHash::Sha1);
    for (std::string_view item : list) {
        const std::string_view command = commandPart(item);
        order.addData(QByteArrayView(command.data(), qsizetype(command.size())));
        order.addData("\n");
    }
    QCOMPARE(order.result().toHex(), orderDigest);
}

void TestCatalogues::basicCodesAscend() {
    // The basic codes run "C00" ... "C8F", then "CR0" ... "CR7"; in list order each code is
    // greater than the one before, so a swapped or misplaced row shows up here.
    const auto list = items(Basic);
    for (std::size_t i = 1; i < list.size(); ++i)
        QVERIFY2(commandPart(list[i - 1]) < commandPart(list[i]), qPrintable(show(list[i])));
    QCOMPARE(commandPart(list[53]), "C8F"sv);
    QCOMPARE(commandPart(list[54]), "CR0"sv);
}

void TestCatalogues::inputRunsAndKeywordGroups() {
    const auto list = items(Expanded);

    // Collapse consecutive items of the same keyword into runs.
    struct Run {
        std::string_view keyword;
        std::string_view head;
        int size;
    };
    std::vector<Run> runs;
    for (std::string_view item : list) {
        if (runs.empty() || runs.back().keyword != keywordOf(item))
            runs.push_back({keywordOf(item), item, 0});
        ++runs.back().size;
    }
    QCOMPARE(int(runs.size()), 88);

    // Every keyword forms one run, except "INPUT", which has two runs around "INPUT1" ... "INPUT5".
    std::map<std::string_view, std::vector<std::size_t>> runIndex;
    for (std::size_t i = 0; i < runs.size(); ++i)
        runIndex[runs[i].keyword].push_back(i);
    QCOMPARE(int(runIndex.size()), 87);
    for (const auto &[keyword, at] : runIndex)
        if (keyword != "INPUT"sv)
            QVERIFY2(at.size() == 1, qPrintable(catalogue::toQString(keyword)));
    const auto &input = runIndex["INPUT"sv];
    QCOMPARE(int(input.size()), 2);
    QCOMPARE(input[1] - input[0], std::size_t(7));
    QCOMPARE(runs[input[0]].size, 7);
    QCOMPARE(runs[input[1]].size, 7);
    const std::string_view between[] = {"SOURCE", "INPUT1", "INPUT2", "INPUT3", "INPUT4", "INPUT5"};
    for (std::size_t k = 0; k < std::size(between); ++k)
        QCOMPARE(runs[input[0] + 1 + k].keyword, between[k]);
    QCOMPARE(commandPart(runs[input[0]].head), "CF INPUT COMPUTER1"sv);
    QCOMPARE(commandPart(runs[input[1]].head), "CF INPUT COMPUTER1 ANALOG"sv);

    // A run starts with a group head (an item with a description), except for the five keywords
    // whose items simply follow the previous group.
    std::vector<std::string_view> headless;
    for (const Run &run : runs)
        if (descriptionOf(run.head).empty())
            headless.push_back(run.keyword);
    const std::vector<std::string_view> expectedHeadless = {"SCREENASPECT", "LAMPLIFECONTRL", "STANDBYMICOUT",
                                                            "HDMISETUP", "HDMISOUND"};
    QCOMPARE(headless, expectedHeadless);

    // 126 group heads in all, 22 of them the "% = 0-9" heads of a placeholder form.
    int heads = 0;
    int digitHeads = 0;
    for (std::string_view item : list) {
        heads += !descriptionOf(item).empty();
        digitHeads += descriptionOf(item) == "% = 0-9"sv;
    }
    QCOMPARE(heads, 126);
    QCOMPARE(digitHeads, 22);
}

void TestCatalogues::itemShape_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("commandPattern");
    QTest::addColumn<QString>("restPattern");
    QTest::newRow("basic") << int(Basic) << QStringLiteral(R"(C[0-9A-F]{2}|CR[0-7])")
                           << QStringLiteral(R"(\[CR\] {5}[^ \t].*)");
    QTest::newRow("expanded") << int(Expanded) << QStringLiteral(R"(CF [A-Z0-9-]+ [A-Z0-9%-]+( [A-Z0-9%-]+)?)")
                              << QStringLiteral(R"(\[CR\]([ \t]+:[^ \t].*)?)");
    QTest::newRow("expanded read") << int(ExpandedRead) << QStringLiteral(R"(CR [A-Z0-9-]+)")
                                   << QStringLiteral(R"(\[CR\][ \t]+:[^ \t].*)");
}

void TestCatalogues::itemShape() {
    QFETCH(int, which);
    QFETCH(QString, commandPattern);
    QFETCH(QString, restPattern);
    const QRegularExpression commandForm(QRegularExpression::anchoredPattern(commandPattern));
    const QRegularExpression restForm(QRegularExpression::anchoredPattern(restPattern),
                                      QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpression allowed(QStringLiteral(R"(^[A-Z0-9 %-]+$)"));

    for (std::string_view item : items(Which(which))) {
        const QString text = show(item);
        // Only printable ASCII and tabs.
        for (char c : item)
            QVERIFY2(c == '\t' || (c >= 0x20 && c < 0x7f), qPrintable(text));

        // Cut at the first "[": a non-empty command text without a trailing blank, and the rest
        // starts with the one and only "[CR]".
        const QString command = catalogue::commandTextOf(catalogue::toQString(item));
        QVERIFY2(!command.isEmpty(), qPrintable(text));
        QVERIFY2(!command.endsWith(u' '), qPrintable(text));
        QVERIFY2(allowed.match(command).hasMatch(), qPrintable(text));
        QVERIFY2(commandForm.match(command).hasMatch(), qPrintable(text));

        const std::string_view rest = restPart(item);
        QVERIFY2(rest.starts_with("[CR]"), qPrintable(text));
        QCOMPARE(std::count(item.begin(), item.end(), '['), std::ptrdiff_t(1));
        QVERIFY2(restForm.match(catalogue::toQString(rest)).hasMatch(), qPrintable(text));
    }
}

void TestCatalogues::lengths_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("longestCommand");
    QTest::addColumn<int>("longestItem");
    QTest::addColumn<QString>("longestItemCommand");
    QTest::newRow("basic") << int(Basic) << 3 << 41 << QStringLiteral("CR3");
    QTest::newRow("expanded") << int(Expanded) << 25 << 82 << QStringLiteral("CF KEYEMU RIGHT");
    QTest::newRow("expanded read") << int(ExpandedRead) << 20 << 98 << QStringLiteral("CR SERSYS");
}

void TestCatalogues::lengths() {
    QFETCH(int, which);
    QFETCH(int, longestCommand);
    QFETCH(int, longestItem);
    QFETCH(QString, longestItemCommand);

    const auto list = items(Which(which));
    std::size_t maxCommand = 0;
    for (std::string_view item : list)
        maxCommand = std::max(maxCommand, commandPart(item).size());
    QCOMPARE(int(maxCommand), longestCommand);

    // The longest item is unique.
    std::size_t maxItem = 0;
    std::vector<std::string_view> longest;
    for (std::string_view item : list) {
        if (item.size() > maxItem) {
            maxItem = item.size();
            longest.clear();
        }
        if (item.size() == maxItem)
            longest.push_back(item);
    }
    QCOMPARE(int(maxItem), longestItem);
    QCOMPARE(int(longest.size()), 1);
    QCOMPARE(catalogue::commandTextOf(catalogue::toQString(longest.front())), longestItemCommand);
}

void TestCatalogues::placeholders() {
    // Expanded: 30 items with "%" in the command text, 5 more with "%" only in the description,
    // and those five are the heads of "INPUT1" ... "INPUT5".
    // The placeholders of an item form one run of "%", whose width fixes the number of digits
    // typed: 13 items take two digits, 5 take three and 12 take four (89 digits in all).
    int inCommand = 0;
    std::map<std::size_t, int> byWidth;
    std::size_t digits = 0;
    std::vector<std::string_view> onlyInDescription;
    for (std::string_view item : catalogue::expanded) {
        const std::string_view command = commandPart(item);
        const auto first = command.find('%');
        if (first != std::string_view::npos) {
            ++inCommand;
            const auto last = command.find_last_of('%');
            const std::size_t width = last - first + 1;
            QVERIFY2(std::count(command.begin(), command.end(), '%') == std::ptrdiff_t(width), qPrintable(show(item)));
            ++byWidth[width];
            digits += width;
        } else if (item.find('%') != std::string_view::npos) {
            onlyInDescription.push_back(item);
        }
    }
    QCOMPARE(inCommand, 30);
    const std::map<std::size_t, int> expectedWidths = {{2, 13}, {3, 5}, {4, 12}};
    QCOMPARE(byWidth, expectedWidths);
    QCOMPARE(digits, std::size_t(89));
    QCOMPARE(int(onlyInDescription.size()), 5);
    for (std::size_t i = 0; i < onlyInDescription.size(); ++i) {
        const std::string keyword = "INPUT" + std::to_string(i + 1);
        QCOMPARE(keywordOf(onlyInDescription[i]), std::string_view(keyword));
        QVERIFY(descriptionOf(onlyInDescription[i]).ends_with(" also set input source to %1"));
    }

    // No "%" anywhere in the other two catalogues.
    for (Which which : {Basic, ExpandedRead})
        for (std::string_view item : items(which))
            QVERIFY2(item.find('%') == std::string_view::npos, qPrintable(show(item)));
}

void TestCatalogues::separatorsAndDescriptions() {
    // How often each separator between "[CR]" and ":" is used. The separators are the part of
    // the data most easily mistyped, and a wrong one changes these tallies.
    std::map<std::string_view, int> expanded;
    for (std::string_view item : catalogue::expanded)
        if (!descriptionOf(item).empty())
            ++expanded[separatorOf(item)];
    const std::map<std::string_view, int> expectedExpanded = {
        {"  \t\t", 92}, {"  \t", 25}, {"  ", 1}, {"\t\t", 3}, {"\t", 1}, {"\t        ", 1}, {" \t", 1}, {" \t\t", 2}};
    QCOMPARE(expanded, expectedExpanded);

    std::map<std::string_view, int> read;
    for (std::string_view item : catalogue::expandedRead)
        ++read[separatorOf(item)];
    const std::map<std::string_view, int> expectedRead = {{" \t", 65}, {" ", 33}};
    QCOMPARE(read, expectedRead);

    // Exactly two descriptions end in a blank, both in the expanded catalogue.
    std::vector<std::string_view> trailing;
    for (Which which : {Basic, Expanded, ExpandedRead})
        for (std::string_view item : items(which))
            if (item.ends_with(' '))
                trailing.push_back(commandPart(item));
    const std::vector<std::string_view> expectedTrailing = {"CF PIP OFF", "CF FDEFAULT RST"};
    QCOMPARE(trailing, expectedTrailing);

    // The only description with a run of blanks inside it is that of "LANG ENG".
    std::vector<std::string_view> doubleBlank;
    for (Which which : {Expanded, ExpandedRead})
        for (std::string_view item : items(which))
            if (descriptionOf(item).find("  ") != std::string_view::npos)
                doubleBlank.push_back(commandPart(item));
    QCOMPARE(doubleBlank, std::vector<std::string_view>{"CF LANG ENG"});
}

void TestCatalogues::exactItems_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("item");
    auto row = [](const char *name, Which which, const char *command, const char *item) {
        QTest::newRow(name) << int(which) << QString::fromLatin1(command) << QString::fromLatin1(item);
    };
    row("C01", Basic, "C01", "C01[CR]     POWER OFF(Quick Power OFF)");
    row("C0F", Basic, "C0F", "C0F[CR]     Screen Normal size(4:3)");
    row("C31", Basic, "C31", "C31[CR]     D.Zoom -");
    row("CR3", Basic, "CR3", "CR3[CR]     (Corresponding)Lamp Time Read");

    row("BRIGHT 0%%", Expanded, "CF BRIGHT 0%%", "CF BRIGHT 0%%[CR]  \t\t:% = 0-9");
    row("BRIGHT DN", Expanded, "CF BRIGHT DN", "CF BRIGHT DN[CR]");
    row("H-POS UP", Expanded, "CF H-POS UP", "CF H-POS UP[CR]  \t\t:Set Horizonetal Position value");
    row("PCMODEFREE MODE1", Expanded, "CF PCMODEFREE MODE1",
        "CF PCMODEFREE MODE1[CR]  \t:Relese registered values of Mode 1-10");
    row("INPUT COMPUTER1", Expanded, "CF INPUT COMPUTER1", "CF INPUT COMPUTER1[CR]  :Select Input");
    row("INPUT3 HDMI", Expanded, "CF INPUT3 HDMI",
        "CF INPUT3 HDMI[CR]  \t:Select Input13 and also set input source to %1");
    row("INPUT COMPUTER1 ANALOG", Expanded, "CF INPUT COMPUTER1 ANALOG",
        "CF INPUT COMPUTER1 ANALOG[CR]  \t:Select Input and Source");
    row("LAMPMODE AUTO", Expanded, "CF LAMPMODE AUTO", "CF LAMPMODE AUTO[CR]\t\t:Select Lamp mode");
    row("MICGAIN 0%%", Expanded, "CF MICGAIN 0%%", "CF MICGAIN 0%%[CR]  \t:% = 0-9");
    row("LANG ENG", Expanded, "CF LANG ENG", "CF LANG ENG[CR]  \t\t:Select English        Select language for OSD");
    row("LANG CZE", Expanded, "CF LANG CZE", "CF LANG CZE[CR]  \t\t:Select Cheskey");
    row("LOGO %%%% OFF", Expanded, "CF LOGO %%%% OFF", "CF LOGO %%%% OFF[CR]  \t\t:Set Logo function");
    row("PIP OFF", Expanded, "CF PIP OFF", "CF PIP OFF[CR]  \t\t:Set Picture in Picture function ");
    row("PIPSIZE SMALL", Expanded, "CF PIPSIZE SMALL", "CF PIPSIZE SMALL[CR]\t:Select PinP Main and Sub Windows Size");
    row("PIPPOSITION BTMRIGHT", Expanded, "CF PIPPOSITION BTMRIGHT",
        "CF PIPPOSITION BTMRIGHT[CR]\t        :Set PinP Position");
    row("P-MANETIME %%", Expanded, "CF P-MANETIME %%", "CF P-MANETIME %%[CR]");
    row("PTIMEMODE COUNTUP", Expanded, "CF PTIMEMODE COUNTUP",
        "CF PTIMEMODE COUNTUP[CR] \t:Set count up/count down P-timer function");
    row("PTIME %%%", Expanded, "CF PTIME %%%", "CF PTIME %%%[CR] \t\t:Set Countdown timer for P-timer");
    row("RCODE 001", Expanded, "CF RCODE 001", "CF RCODE 001[CR]  \t\t:Select Remote Control Receptin Code");
    row("FDEFAULT RST", Expanded, "CF FDEFAULT RST", "CF FDEFAULT RST[CR]  \t\t:Set the value to Factory Default ");

    row("CR BRIGHT", ExpandedRead, "CR BRIGHT", "CR BRIGHT[CR] \t:Get Brightness value");
    row("CR TINT", ExpandedRead, "CR TINT", "CR TINT[CR] \t:Get Tint valu");
    row("CR COLBOARD", ExpandedRead, "CR COLBOARD", "CR COLBOARD[CR] :Get Selected Colorboard mode");
    row("CR AUTOSETUPKEYSTONE", ExpandedRead, "CR AUTOSETUPKEYSTONE",
        "CR AUTOSETUPKEYSTONE[CR] :Get setting status of Keystone in Auto setup");
    row("CR TTLPWRSAVECO2", ExpandedRead, "CR TTLPWRSAVECO2",
        "CR TTLPWRSAVECO2[CR] :Get information for value of total power saving (kg/CO2)");
}

void TestCatalogues::exactItems() {
    QFETCH(int, which);
    QFETCH(QString, command);
    QFETCH(QString, item);
    const std::string key = command.toStdString();
    const std::string_view found = findByCommand(items(Which(which)), key);
    QVERIFY2(!found.empty(), qPrintable(command));
    QCOMPARE(show(found), QString(item).replace(u'\t', QStringLiteral("<TAB>")));
    QCOMPARE(catalogue::toQString(found), item);
}

void TestCatalogues::commandTextOf_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("command");
    QTest::newRow("basic item") << QStringLiteral("C00[CR]     POWER ON") << QStringLiteral("C00");
    QTest::newRow("placeholders kept") << QStringLiteral("CF BRIGHT 0%%[CR]  \t\t:% = 0-9")
                                       << QStringLiteral("CF BRIGHT 0%%");
    QTest::newRow("entry box") << QStringLiteral("CF BRIGHT 042[CR]") << QStringLiteral("CF BRIGHT 042");
    QTest::newRow("first bracket wins") << QStringLiteral("CR0[x[CR]") << QStringLiteral("CR0");
    QTest::newRow("no bracket") << QStringLiteral("cr0 typed ") << QStringLiteral("cr0 typed ");
    QTest::newRow("bracket first") << QStringLiteral("[CR]") << QString();
    QTest::newRow("empty") << QString() << QString();
}

void TestCatalogues::commandTextOf() {
    QFETCH(QString, text);
    QFETCH(QString, command);
    const QString result = catalogue::commandTextOf(text);
    QCOMPARE(result, command);
    QCOMPARE(result.isEmpty(), command.isEmpty());
}

void TestCatalogues::hasPlaceholder() {
    QVERIFY(catalogue::hasPlaceholder(u"CF BRIGHT 0%%[CR]  \t\t:% = 0-9"));
    QVERIFY(catalogue::hasPlaceholder(u"CF INPUT1 ANALOG[CR]  \t:Select Input11 and also set input source to %1"));
    QVERIFY(catalogue::hasPlaceholder(u"CF P-MANETIME %%[CR]"));
    QVERIFY(!catalogue::hasPlaceholder(u"CF BRIGHT UP[CR]  \t\t:Set Brightness value"));
    QVERIFY(!catalogue::hasPlaceholder(u""));

    // Over the expanded catalogue it picks the 30 + 5 items that show the parameter legend.
    int withLegend = 0;
    for (std::string_view item : catalogue::expanded)
        withLegend += catalogue::hasPlaceholder(catalogue::toQString(item));
    QCOMPARE(withLegend, 35);
}

void TestCatalogues::toQStringKeepsEveryCharacter() {
    const std::string_view item = "CF PIPPOSITION BTMRIGHT[CR]\t        :Set PinP Position";
    const QString text = catalogue::toQString(item);
    QCOMPARE(text.size(), qsizetype(item.size()));
    QCOMPARE(text.toLatin1(), QByteArray(item.data(), qsizetype(item.size())));
    QCOMPARE(catalogue::toQString({}), QString());
}

QTEST_APPLESS_MAIN(TestCatalogues)
#include "test_catalogues.moc"
