#include "cards/batchjournal.h"

#include "cards/cardbatch.h"
#include "cards/jsonline.h"
#include "cards/trackdecode.h"
#include "platform/boundedinput.h"
#include "platform/folderlock.h"
#include "platform/fsutil.h"
#include "platform/pathwalk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
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
    if (!card.id.isEmpty())
        json.add("card", QString::fromLatin1(card.id));
    return json;
}

// What one line says of a card or a track.
ResumeState::Track recordedTrack(const QJsonObject& object)
{
    ResumeState::Track track;
    const QString step = object.value(QLatin1String("step")).toString();
    // A box check only reads: it says nothing of what was written.
    if (step == QLatin1String("compared"))
        return track;
    if (object.contains(QLatin1String("result"))) {
        const QJsonValue written = object.value(QLatin1String("written"));
        track.written = written.isBool() ? (written.toBool() ? WriteState::Yes : WriteState::No)
                                         : WriteState::InDoubt;
        track.verified =
            object.value(QLatin1String("result")).toString() == QLatin1String("verified");
        return track;
    }
    if (step == QLatin1String("written") || step == QLatin1String("verified"))
        track.written = WriteState::Yes;
    else if (step == QLatin1String("armed"))
        track.written = WriteState::InDoubt;
    track.verified = step == QLatin1String("verified");
    return track;
}

// A line of a results file, or nothing. A line that is no JSON object but ends in a run's
// first line is a torn line an older version appended a header to: the header is taken.
std::optional<QJsonObject> parseLine(const QByteArray& line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (document.isObject())
        return document.object();
    const qsizetype header = line.lastIndexOf("{\"batch\"");
    if (header > 0) {
        const QJsonDocument rest = QJsonDocument::fromJson(line.mid(header));
        if (rest.isObject())
            return rest.object();
    }
    return std::nullopt;
}

// Opens a results file named on the command line: below folders judged as the ports folder's
// are, never through a link at its own name, and only the user's regular file with one name.
// make: create it (0600) when missing, and tell whether this call did.
fsutil::Fd openResults(const QString& path, int flags, bool make, fsutil::Fd* folder, bool* made,
                       QString* error)
{
    const QFileInfo info(QDir::current().absoluteFilePath(path));
    const QString name = info.fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        *error = QStringLiteral("it is a folder");
        return {};
    }
    pathwalk::Folder dir = pathwalk::open(QDir::cleanPath(info.absolutePath()), {});
    if (!dir.isOpen()) {
        *error = dir.missing ? QStringLiteral("its folder does not exist") : dir.error;
        return {};
    }
    // Whoever may change the folder may put another file in this one's place between runs; a
    // sticky folder (such as /tmp) keeps others from what is the user's in it.
    const bool sticky =
        (dir.st.st_mode & S_ISVTX) && (dir.st.st_uid == ::geteuid() || dir.st.st_uid == 0);
    const QString untrusted = fsutil::untrustedReason(dir.st, dir.path, fsutil::Role::Passage);
    if (!sticky && !untrusted.isEmpty()) {
        *error = untrusted;
        return {};
    }
    const QByteArray local = QFile::encodeName(name);
    const int common = O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    fsutil::Fd fd(::openat(dir.fd.get(), local.constData(), flags | common));
    if (!fd.isValid() && errno == ENOENT && make) {
        fd = fsutil::Fd(
            ::openat(dir.fd.get(), local.constData(), flags | common | O_CREAT | O_EXCL, 0600));
        *made = fd.isValid();
    }
    if (!fd.isValid()) {
        *error = errno == ELOOP    ? QStringLiteral("it is a symbolic link")
                 : errno == EISDIR ? QStringLiteral("it is a folder")
                                   : fsutil::errorText(errno);
        return {};
    }
    struct stat st {
    };
    if (::fstat(fd.get(), &st) != 0) {
        *error = fsutil::errorText(errno);
        return {};
    }
    QString why;
    if (!S_ISREG(st.st_mode))
        why = S_ISFIFO(st.st_mode) ? QStringLiteral("it is a FIFO, not a regular file")
                                   : QStringLiteral("it is not a regular file");
    else if (st.st_uid != ::geteuid())
        why = QStringLiteral("it belongs to another user (%1)").arg(fsutil::ownerText(st.st_uid));
    else if (st.st_nlink != 1)
        why = QStringLiteral("it has %1 names (hard links): through another, someone else may "
                             "read or change it; copy it to a file of its own")
                  .arg(st.st_nlink);
    else if ((st.st_mode & 077) != 0 && ::fchmod(fd.get(), 0600) != 0)
        why = QStringLiteral("others may read it and it cannot be made private (%1)")
                  .arg(fsutil::errorText(errno));
    if (!why.isEmpty()) {
        *error = why;
        return {};
    }
    // Regular: reads and writes no longer need to not block.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    if (folder)
        *folder = std::move(dir.fd);
    return fd;
}

// Reads every line of the results file fd from its start; for each parsed one calls take.
// False with *error set when the file cannot be read as results.
template <typename Take> bool readLines(int fd, QString* error, Take take)
{
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        *error = fsutil::errorText(errno);
        return false;
    }
    BoundedLineReader reader(fd, 64 * 1024, kResultsMaxBytes);
    QByteArray line;
    for (;;) {
        switch (reader.next(&line)) {
        case BoundedLineReader::Line: {
            if (line.trimmed().isEmpty())
                continue;
            const std::optional<QJsonObject> object = parseLine(line);
            if (object) {
                take(*object);
                continue;
            }
            // A power cut or a full disk can leave the last line half written.
            if (!reader.lineEnded())
                continue;
            *error = QStringLiteral("line %1 is not a results line").arg(reader.lineNumber());
            return false;
        }
        case BoundedLineReader::End:
            return true;
        case BoundedLineReader::LineTooLong:
            *error =
                QStringLiteral("line %1 is too long for a results line").arg(reader.lineNumber());
            return false;
        case BoundedLineReader::TooMuch:
            *error = QStringLiteral("it is longer than %1").arg(sizeText(kResultsMaxBytes));
            return false;
        case BoundedLineReader::Failed:
            *error = reader.errorString();
            return false;
        }
    }
}

bool writeAll(int fd, const QByteArray& bytes, QString* error)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = fsutil::errorText(n < 0 ? errno : EIO);
            return false;
        }
        done += n;
    }
    if (::fdatasync(fd) != 0) {
        *error = fsutil::errorText(errno);
        return false;
    }
    return true;
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
    case BatchStep::Compared:
        return QStringLiteral("compared");
    }
    return QString();
}

QByteArray CardIdentity::keyed(const QByteArray& text) const
{
    m_mac.reset();
    m_mac.addData(text);
    return m_mac.result().toHex();
}

QByteArray CardIdentity::of(const BatchCard& card) const
{
    QByteArray text("card\n");
    for (const BatchTrack& track : card.tracks)
        text += QByteArray::number(track.method.index()) + ':' + track.bytes.toHex() + '\n';
    return keyed(text).left(32);
}

QByteArray CardIdentity::ofBatch(const QList<BatchCard>& cards) const
{
    QByteArray text("batch\n");
    // A card identified already (by this key) is not hashed again.
    for (const BatchCard& card : cards)
        text += (card.id.isEmpty() ? of(card) : card.id) + '\n';
    return keyed(text);
}

QByteArray batchHeaderLine(const QString& source, const QByteArray& id, int cards,
                           const QDateTime& time)
{
    JsonLine json;
    json.add("batch", source)
        .add("id", QString::fromLatin1(id))
        .add("cards", cards)
        .add("time", isoTime(time));
    return json.text() + '\n';
}

QByteArray batchProgressLine(const BatchCard& card, const BatchTrack* track, BatchStep step,
                             const QDateTime& time)
{
    JsonLine json = cardFields(card);
    if (track && card.severalTracks())
        json.add("track", track->method.shortName());
    json.add("step", batchStepName(step)).add("time", isoTime(time));
    return json.text() + '\n';
}

QByteArray batchResultLine(const BatchCard& card, const BatchResult& result, BatchMode mode,
                           bool reveal)
{
    JsonLine json = cardFields(card);
    if (mode == BatchMode::Compare)
        json.add("result", result.ok                            ? QStringLiteral("matched")
                           : result.code == ErrorCode::Mismatch ? QStringLiteral("differs")
                                                                : QStringLiteral("failed"));
    else if (result.ok)
        json.add("result", mode == BatchMode::Verify ? QStringLiteral("verified")
                                                     : QStringLiteral("written"));
    else
        json.add("result", QStringLiteral("failed"));
    json.add("step", batchStepName(result.step));
    // A box check writes nothing, and a write recorded before in the same file stays true.
    if (mode != BatchMode::Compare) {
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
    }
    if (!result.ok && result.code)
        json.add("code", errorCodeName(*result.code)).add("error", result.error);
    json.add("time", isoTime(result.time));
    for (const BatchTrack& track : card.tracks) {
        const QString pan = accountNumberOf(track.method, track.bytes);
        if (!pan.isEmpty()) {
            json.add("pan", maskPan(pan));
            break;
        }
    }
    if (reveal && !card.severalTracks()) {
        json.add("data", QString::fromLatin1(card.tracks.first().bytes));
    } else if (reveal) {
        JsonLine tracks;
        for (const BatchTrack& track : card.tracks)
            tracks.add(track.method.row().shortName, QString::fromLatin1(track.bytes));
        json.addRaw("tracks", tracks.text());
    }
    return json.text() + '\n';
}

ResumeState::Track ResumeState::track(int index, CardMethodId method, bool severalTracks) const
{
    const Card card = cards.value(index);
    if (!severalTracks)
        return card.whole;
    // Every arm of a track is recorded with the track first: one never named was never armed.
    // The card's own result comes after all its tracks: written there, every track is, and
    // verified there, every track was read back.
    Track found = card.tracks.value(method.shortName());
    if (card.whole.written == WriteState::Yes) {
        found.written = WriteState::Yes;
        found.verified = found.verified || card.whole.verified;
    }
    return found;
}

int ResumeState::writtenCards(const QList<BatchCard>& batch) const
{
    int written = 0;
    for (const BatchCard& card : batch) {
        bool all = true;
        for (const BatchTrack& each : card.tracks)
            all = all &&
                  track(card.index, each.method, card.severalTracks()).written == WriteState::Yes;
        written += all ? 1 : 0;
    }
    return written;
}

ResultsJournal::~ResultsJournal()
{
    close();
}

bool ResultsJournal::open(const QString& path, QString* error)
{
    close();
    fsutil::Fd folder;
    bool made = false;
    fsutil::Fd fd = openResults(path, O_RDWR | O_APPEND, true, &folder, &made, error);
    if (!fd.isValid())
        return false;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        const QString holder = FolderLock::holderOf(fd.get());
        *error = errno == EWOULDBLOCK
                     ? QStringLiteral("another run keeps its results there now%1; wait for it to "
                                      "end, or stop it, and run this again")
                           .arg(holder.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(holder))
                     : fsutil::errorText(errno);
        return false;
    }
    m_fd = fd.release();
    m_folder = folder.release();
    m_path = path;
    m_name = QFileInfo(path).fileName();
    m_made = made;
    m_written = false;
    return true;
}

bool ResultsJournal::read(const QList<BatchCard>& cards, const QByteArray& identity,
                          const QByteArray& sha256, const QString& source, ResumeState* state,
                          QString* error)
{
    enum class Run { None, Ours, Earlier, Other };
    Run run = Run::None;
    bool anyLine = false;
    bool anyOfOurs = false;
    ResumeState found;
    const bool read = readLines(m_fd, error, [&](const QJsonObject& object) {
        anyLine = true;
        if (object.contains(QLatin1String("batch"))) {
            const QByteArray id = object.value(QLatin1String("id")).toString().toLatin1();
            const QByteArray sha = object.value(QLatin1String("sha256")).toString().toLatin1();
            run = (!id.isEmpty() && id == identity) || (!sha.isEmpty() && sha == sha256) ? Run::Ours
                  : object.value(QLatin1String("batch")).toString() == source ? Run::Earlier
                                                                              : Run::Other;
            anyOfOurs = anyOfOurs || run != Run::Other;
            found.sameBatch = found.sameBatch || run == Run::Ours;
            return;
        }
        const int index = object.value(QLatin1String("index")).toInt(0);
        if (index <= 0 || run == Run::None || run == Run::Other)
            return;
        const QByteArray id = object.value(QLatin1String("card")).toString().toLatin1();
        const bool sameCard =
            index <= cards.size() && !id.isEmpty() && cards.at(index - 1).id == id;
        if (!sameCard && (run == Run::Earlier || !id.isEmpty())) {
            if (!found.changed.contains(index))
                found.changed << index;
            return;
        }
        ResumeState::Card& card = found.cards[index];
        const QString track = object.value(QLatin1String("track")).toString();
        ResumeState::Track& slot = track.isEmpty() ? card.whole : card.tracks[track];
        if (object.value(QLatin1String("step")).toString() == QLatin1String("compared"))
            slot.matched =
                object.value(QLatin1String("result")).toString() == QLatin1String("matched");
        else
            slot = recordedTrack(object);
    });
    if (!read)
        return false;
    if (anyLine && !anyOfOurs) {
        *error = QStringLiteral("it holds no results of these cards: another batch's, or results "
                                "made with another results key (another machine or user)");
        return false;
    }
    std::sort(found.changed.begin(), found.changed.end());
    *state = found;
    return true;
}

bool ResultsJournal::begin(const QByteArray& header, qint64* cut, QString* error)
{
    *cut = 0;
    struct stat st {
    };
    if (::fstat(m_fd, &st) != 0) {
        *error = fsutil::errorText(errno);
        return false;
    }
    // Back to the end of the last whole line.
    qint64 end = st.st_size;
    char byte = '\n';
    while (end > 0 && ::pread(m_fd, &byte, 1, end - 1) == 1 && byte != '\n')
        --end;
    if (end != st.st_size) {
        if (::ftruncate(m_fd, end) != 0) {
            *error = fsutil::errorText(errno);
            return false;
        }
        *cut = st.st_size - end;
    }
    return append(header, error);
}

bool ResultsJournal::append(const QByteArray& line, QString* error)
{
    m_written = true;
    return writeAll(m_fd, line, error);
}

void ResultsJournal::close()
{
    if (m_fd < 0)
        return;
    // A run that never reached the reader leaves no file it made behind.
    if (m_made && !m_written) {
        struct stat mine {
        };
        struct stat there {
        };
        const QByteArray local = QFile::encodeName(m_name);
        if (::fstat(m_fd, &mine) == 0 &&
            ::fstatat(m_folder, local.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
            mine.st_dev == there.st_dev && mine.st_ino == there.st_ino && mine.st_size == 0)
            ::unlinkat(m_folder, local.constData(), 0);
    }
    ::close(m_fd);
    ::close(m_folder);
    m_fd = -1;
    m_folder = -1;
}

bool readResultsLines(const QString& path, QString* error,
                      const std::function<void(const QJsonObject&)>& take)
{
    bool made = false;
    const fsutil::Fd fd = openResults(path, O_RDONLY, false, nullptr, &made, error);
    return fd.isValid() && readLines(fd.get(), error, take);
}

bool readWrittenIdentities(const QString& path, QSet<QByteArray>* ids, QString* error)
{
    return readResultsLines(path, error, [&](const QJsonObject& object) {
        const QByteArray id = object.value(QLatin1String("card")).toString().toLatin1();
        // A card of several tracks is written once its result says so.
        if (id.isEmpty() || object.contains(QLatin1String("track")))
            return;
        if (recordedTrack(object).written == WriteState::Yes)
            ids->insert(id);
    });
}
