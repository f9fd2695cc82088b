#include "cards/batchjournal.h"

#include "cards/cardbatch.h"
#include "cards/jsonline.h"
#include "cards/trackdecode.h"
#include "platform/boundedinput.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString isoTime(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODate);
}

JsonLine cardFields(const BatchCard& card)
{
    JsonLine json;
    json.add("index", card.index).add("line", card.line);
    return json;
}

WriteState stateOfStep(const QString& step)
{
    if (step == QLatin1String("written") || step == QLatin1String("verified"))
        return WriteState::Yes;
    if (step == QLatin1String("armed"))
        return WriteState::InDoubt;
    return WriteState::No;
}

// What a card's line says of it: a result's "written", else the step its progress reached.
WriteState recordedState(const QJsonObject& object)
{
    if (!object.contains(QLatin1String("result")))
        return stateOfStep(object.value(QLatin1String("step")).toString());
    const QJsonValue written = object.value(QLatin1String("written"));
    return written.isBool() ? (written.toBool() ? WriteState::Yes : WriteState::No)
                            : WriteState::InDoubt;
}

} // namespace

QString batchStepName(BatchStep step)
{
    switch (step) {
    case BatchStep::None:
        return QStringLiteral("checked");
    case BatchStep::Loaded:
        return QStringLiteral("loaded");
    case BatchStep::Armed:
        return QStringLiteral("armed");
    case BatchStep::Written:
        return QStringLiteral("written");
    case BatchStep::Verified:
        return QStringLiteral("verified");
    }
    return QString();
}

QByteArray batchHeaderLine(const QString& source, const QByteArray& sha256, int cards,
                           const QDateTime& time)
{
    JsonLine json;
    json.add("batch", source)
        .add("sha256", QString::fromLatin1(sha256))
        .add("cards", cards)
        .add("time", isoTime(time));
    return json.text() + '\n';
}

QByteArray batchProgressLine(const BatchCard& card, BatchStep step, const QDateTime& time)
{
    JsonLine json = cardFields(card);
    json.add("step", batchStepName(step)).add("time", isoTime(time));
    return json.text() + '\n';
}

QByteArray batchResultLine(const BatchCard& card, const BatchResult& result, bool verify,
                           bool reveal)
{
    JsonLine json = cardFields(card);
    if (result.ok)
        json.add("result", verify ? QStringLiteral("verified") : QStringLiteral("written"));
    else
        json.add("result", QStringLiteral("failed"));
    json.add("step", batchStepName(result.step));
    switch (result.written) {
    case WriteState::Yes:
        json.add("written", true);
        break;
    case WriteState::No:
        json.add("written", false);
        break;
    case WriteState::InDoubt:
        json.addNull("written");
        break;
    }
    if (!result.ok)
        json.add("code", errorCodeName(result.code.value())).add("error", result.error);
    json.add("time", isoTime(result.time));
    const DecodedTrack track = decodeMethodTrack(card.method, card.bytes);
    if (track.decodable)
        json.add("pan", maskPan(track.pan));
    if (reveal)
        json.add("data", QString::fromLatin1(card.bytes));
    return json.text() + '\n';
}

ResultsFile::~ResultsFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ResultsFile::open(const QString& path, QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) {
        *error = errno == ELOOP ? QStringLiteral("it is a symbolic link") : qt_error_string(errno);
        return false;
    }
    struct stat st {
    };
    QString why;
    if (::fstat(fd, &st) != 0)
        why = qt_error_string(errno);
    else if (!S_ISREG(st.st_mode))
        why = QStringLiteral("it is not a regular file");
    else if (st.st_uid != ::geteuid())
        why = QStringLiteral("it belongs to another user");
    if (!why.isEmpty()) {
        ::close(fd);
        *error = why;
        return false;
    }
    m_fd = fd;
    m_path = path;
    return true;
}

bool ResultsFile::append(const QByteArray& line, QString* error)
{
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(m_fd, line.constData() + done, size_t(line.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = qt_error_string(n < 0 ? errno : EIO);
            return false;
        }
        done += n;
    }
    if (::fdatasync(m_fd) != 0) {
        *error = qt_error_string(errno);
        return false;
    }
    return true;
}

bool readResumeFile(const QString& path, const QByteArray& sha256, ResumeState* state,
                    QString* error)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = errno == ELOOP ? QStringLiteral("it is a symbolic link") : qt_error_string(errno);
        return false;
    }
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("it is not a regular file");
        return false;
    }
    BoundedLineReader reader(fd, 64 * 1024, kResultsMaxBytes);
    ResumeState found;
    bool ours = false;
    bool anyOfOurs = false;
    bool anyRecord = false;
    QByteArray line;
    QString problem;
    for (bool reading = true; reading && problem.isEmpty();) {
        switch (reader.next(&line)) {
        case BoundedLineReader::Line: {
            if (line.trimmed().isEmpty())
                break;
            const QJsonDocument document = QJsonDocument::fromJson(line);
            if (!document.isObject()) {
                // A power cut can leave the last line half written.
                if (!reader.lineEnded())
                    break;
                problem = QStringLiteral("line %1 is not a results line").arg(reader.lineNumber());
                break;
            }
            const QJsonObject object = document.object();
            anyRecord = true;
            if (object.contains(QLatin1String("batch"))) {
                ours = object.value(QLatin1String("sha256")).toString().toLatin1() == sha256;
                anyOfOurs = anyOfOurs || ours;
                break;
            }
            const int index = object.value(QLatin1String("index")).toInt(0);
            if (!ours || index <= 0)
                break;
            found.cards.insert(index, recordedState(object));
            break;
        }
        case BoundedLineReader::End:
            reading = false;
            break;
        case BoundedLineReader::LineTooLong:
            problem =
                QStringLiteral("line %1 is too long for a results line").arg(reader.lineNumber());
            break;
        case BoundedLineReader::TooMuch:
            problem = QStringLiteral("it is longer than %1").arg(sizeText(kResultsMaxBytes));
            break;
        case BoundedLineReader::Failed:
            problem = reader.errorString();
            break;
        }
    }
    ::close(fd);
    if (problem.isEmpty() && anyRecord && !anyOfOurs)
        problem = QStringLiteral("it holds no results of these cards (another batch, or the "
                                 "batch file has changed since)");
    if (!problem.isEmpty()) {
        *error = problem;
        return false;
    }
    found.recorded = int(found.cards.size());
    *state = found;
    return true;
}
