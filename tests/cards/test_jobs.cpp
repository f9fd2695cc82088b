// Jobs described rather than listed: CSV tables, track templates, and the cards they make.

#include "cards/cardjob.h"
#include "cards/cardmethods.h"
#include "cards/csvtable.h"
#include "cards/jsonline.h"
#include "cards/trackdecode.h"

#include <QTest>

class TestJobs : public QObject
{
    Q_OBJECT
private slots:
    void csv_data();
    void csv();
    void templates_data();
    void templates();
    void luhn();
    void job_data();
    void job();
    void jsonQuotingAsQt();
    void theLargestJobFitsABatchFile();
};

// A table as one line of text: the header, then each row as "number:field|field".
static QString tableText(const CsvTable& table)
{
    QStringList rows{table.header.join(QLatin1Char('|'))};
    for (const CsvTable::Row& row : table.rows)
        rows << QStringLiteral("%1:%2").arg(row.number).arg(row.fields.join(QLatin1Char('|')));
    return rows.join(QLatin1Char(' '));
}

void TestJobs::csv_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("problems"); // "row N (line L): text"

    QTest::newRow("plain, LF") << QByteArray("room,guest\n101,Ann\n102,Bo\n")
                               << "room|guest 2:101|Ann 3:102|Bo" << QStringList{};
    QTest::newRow("CRLF, byte-order mark, no final break")
        << QByteArray("\xEF\xBB\xBFroom,guest\r\n101,Ann") << "room|guest 2:101|Ann"
        << QStringList{};
    QTest::newRow("quotes hold commas, quotes and line breaks")
        << QByteArray("a,b\n\"x, y\",\"say \"\"hi\"\"\"\n\"two\nlines\",z\n")
        << "a|b 2:x, y|say \"hi\" 3:two\nlines|z" << QStringList{};
    QTest::newRow("blank lines skipped, empty fields kept")
        << QByteArray("a,b\n\n,\n") << "a|b 2:|" << QStringList{};
    QTest::newRow("bad rows named, good ones kept")
        << QByteArray("a,b\n1\n\"x\"y,2\nok,3\n4,\"never closed\n") << "a|b 4:ok|3"
        << QStringList{"row 2 (line 2): 1 fields where the header row has 2",
                       "row 3 (line 3): text after a closing quote",
                       "row 5 (line 5): a quoted field is never closed"};
    QTest::newRow("a quote inside a field") << QByteArray("a\nx\"y\n") << "a"
                                            << QStringList{"row 2 (line 2): a quote inside a "
                                                           "field that does not start with one"};
    QTest::newRow("header faults")
        << QByteArray("a,,a\n") << "a||a"
        << QStringList{"row 1 (line 1): the header row has a column without a name"};
    QTest::newRow("not UTF-8") << QByteArray("a\n\xff\n") << "a"
                               << QStringList{
                                      "row 2 (line 2): holds bytes that are not UTF-8 text"};
    QTest::newRow("empty") << QByteArray() << ""
                           << QStringList{"row 1 (line 1): no header row: the file is empty"};
}

void TestJobs::csv()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, table);
    QFETCH(QStringList, problems);
    QList<CsvProblem> found;
    const CsvTable parsed = parseCsv(text, &found);
    QCOMPARE(tableText(parsed), table);
    QStringList named;
    for (const CsvProblem& problem : found)
        named << QStringLiteral("row %1 (line %2): %3")
                     .arg(problem.row)
                     .arg(problem.line)
                     .arg(problem.text);
    QCOMPARE(named, problems);
}

void TestJobs::templates_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("number");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("expected"); // or "error: ..."

    QTest::newRow("gift card, track 2") << ";603571{seq:10}{luhn}=2912?" << qint64(1)
                                        << QStringList{} << ";60357100000000019=2912?";
    QTest::newRow("unpadded counter, escaped braces")
        << "{{{seq}}}" << qint64(42) << QStringList{} << "{42}";
    QTest::newRow("columns, one named twice")
        << "%B{pan}^{name}^{pan}" << qint64(0) << QStringList{"4111111111111111", "DOE/J"}
        << "%B4111111111111111^DOE/J^4111111111111111";
    QTest::newRow("number too wide") << "{seq:3}" << qint64(1000) << QStringList{}
                                     << "error: 1000 has more than the 3 digits of {seq:3}";
    QTest::newRow("luhn without digits")
        << ";{luhn}" << qint64(1) << QStringList{} << "error: {luhn} has no digits just before it";
    QTest::newRow("unclosed field") << ";{seq" << qint64(1) << QStringList{}
                                    << "error: the field opened at position 2 is never closed "
                                       "with \"}\"";
    QTest::newRow("stray brace")
        << "a}b" << qint64(1) << QStringList{}
        << "error: a \"}\" at position 2 closes nothing (\"}}\" writes one)";
    QTest::newRow("bad width") << "{seq:0}" << qint64(1) << QStringList{}
                               << "error: {seq:0}: the width is a whole number from 1 to 19";
}

void TestJobs::templates()
{
    QFETCH(QString, text);
    QFETCH(qint64, number);
    QFETCH(QStringList, values);
    QFETCH(QString, expected);
    QString error;
    const std::optional<CardTemplate> parsed = CardTemplate::parse(text, &error);
    std::optional<QString> rendered;
    if (parsed)
        rendered = parsed->render(number, values, &error);
    QCOMPARE(rendered ? *rendered : QStringLiteral("error: ") + error, expected);
}

void TestJobs::luhn()
{
    QCOMPARE(luhnDigit(QStringLiteral("7992739871")), QLatin1Char('3'));
    QCOMPARE(luhnDigit(QStringLiteral("411111111111111")), QLatin1Char('1'));
    // Whatever the digits, the check digit makes them pass.
    for (qint64 n = 0; n < 2000; n += 7) {
        const QString digits = QString::number(n * 7919 + 6035710000000000LL);
        QVERIFY(luhnValid(digits + luhnDigit(digits)));
    }
}

void TestJobs::job_data()
{
    QTest::addColumn<QStringList>("templates"); // "method=template"
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("lines"); // the batch lines made, or "problem: ..."

    QTest::newRow("numbered, one track")
        << QStringList{"iso2=;6035{seq:4}{luhn}?"} << QByteArray() << 2
        << QStringList{"{\"method\": \"iso2\", \"data\": \";603500018?\"}",
                       "{\"method\": \"iso2\", \"data\": \";603500026?\"}"};
    QTest::newRow("spreadsheet, two tracks")
        << QStringList{"iso1=%B{pan}^{name}^", "iso2=;{pan}?"}
        << QByteArray("pan,name\n4111,DOE/J\n") << 0
        << QStringList{"{\"iso1\": \"%B4111^DOE/J^\", \"iso2\": \";4111?\"}"};
    QTest::newRow("the first number that breaks is named")
        << QStringList{"iso2=;{seq:2}"} << QByteArray() << 200
        << QStringList{"problem: card 100 (number 100, row 0): iso2: 100 has more than the 2 "
                       "digits of {seq:2}"};
    QTest::newRow("a row with a character the track refuses")
        << QStringList{"iso2=;{pan}?"} << QByteArray("pan\n4111\n41A1\n") << 0
        << QStringList{"problem: card 2 (number 2, row 3): iso2: invalid character \"A\" at "
                       "position 4: ISO on Track 2 takes 0-9 : ; < = > ?"};
    QTest::newRow("too long for the track")
        << QStringList{"iso2=;{seq:18}{seq:19}"} << QByteArray() << 1
        << QStringList{"problem: card 1 (number 1, row 0): iso2: 38 characters: ISO on Track 2 "
                       "holds at most 37"};
}

void TestJobs::job()
{
    QFETCH(QStringList, templates);
    QFETCH(QByteArray, csv);
    QFETCH(int, count);
    QFETCH(QStringList, lines);

    CardJob job;
    job.count = count;
    for (const QString& given : templates) {
        QString error;
        const auto parsed = CardTemplate::parse(given.section(QLatin1Char('='), 1), &error);
        QVERIFY2(parsed, qPrintable(error));
        job.tracks.append(
            {*CardMethodId::fromText(given.section(QLatin1Char('='), 0, 0)), *parsed});
    }
    CsvTable table;
    if (!csv.isEmpty()) {
        QList<CsvProblem> problems;
        table = parseCsv(csv, &problems);
        QVERIFY(problems.isEmpty());
        job.table = &table;
    }
    QVERIFY2(jobProblem(job).isEmpty(), qPrintable(jobProblem(job)));
    QStringList made;
    JobProblem problem;
    const bool rendered = renderJob(
        job, false,
        [&](const JobCard& card) {
            made << QString::fromUtf8(batchLine(card)).trimmed();
            return true;
        },
        &problem);
    if (!rendered)
        made = {QStringLiteral("problem: card %1 (number %2, row %3): %4")
                    .arg(problem.card)
                    .arg(problem.number)
                    .arg(problem.row)
                    .arg(problem.text)};
    QCOMPARE(made, lines);
}

// Batch lines are quoted by hand for speed, exactly as Qt's JSON writer quotes: every code unit,
// lone surrogates included, and a pair beyond the basic plane.
void TestJobs::jsonQuotingAsQt()
{
    for (int unit = 0; unit <= 0xFFFF; ++unit) {
        const QString text = QStringLiteral("a") + QChar(char16_t(unit)) + QStringLiteral("z");
        QCOMPARE(JsonLine::quote(text), JsonLine::quoteAsQt(text));
    }
    const QString pair = QString::fromUcs4(U"\U0001F600 \"q\" \\");
    QCOMPARE(JsonLine::quote(pair), JsonLine::quoteAsQt(pair));
}

// generate may write up to the most cards a batch takes, each with every track full of the
// character its line quotes longest: batch must take that file whole.
void TestJobs::theLargestJobFitsABatchFile()
{
    // On each track the method whose longest data quotes longest.
    QMap<int, QPair<CardMethodId, QString>> longest;
    for (int index = 0; index < CARD_METHOD_COUNT; ++index) {
        const CardMethodId method = *CardMethodId::fromIndex(index);
        for (const QChar c : {QLatin1Char('"'), QLatin1Char('0')}) {
            const QString data(method.capacity(), c);
            if (inspectCardData(method, data, false).verdict == TrackDataCheck::Invalid)
                continue;
            JobCard one;
            one.tracks.append({method, data});
            JobCard kept;
            if (longest.contains(method.track()))
                kept.tracks.append(*longest.constFind(method.track()));
            if (kept.tracks.isEmpty() || batchLine(one).size() > batchLine(kept).size())
                longest.insert(method.track(), {method, data});
            break;
        }
    }
    JobCard card;
    for (const auto& track : std::as_const(longest))
        card.tracks.append(track);
    QCOMPARE(card.tracks.size(), qsizetype(3));
    const qsizetype line = batchLine(card).size();
    QVERIFY2(line <= kBatchMaxLine, qPrintable(QString::number(line)));
    QVERIFY2(line * kBatchMaxCards <= kBatchMaxBytes, qPrintable(QString::number(line)));
}

QTEST_GUILESS_MAIN(TestJobs)
#include "test_jobs.moc"
