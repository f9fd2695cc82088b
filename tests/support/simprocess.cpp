#include "support/simprocess.h"

#include "link/protocol/frame.h"
#include "link/protocol/frametext.h"

#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTest>

namespace {
const QString kServing = QStringLiteral("tarnavel-sim: serving on ");
const QString kLinked = QStringLiteral("tarnavel-sim: linked as COM");
} // namespace

SimProcess::SimProcess(const QString& program) : m_program(program)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
    m_process.setProcessEnvironment(env);
    // Console errors go to standard error; in one stream they stay in order with the rest.
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                     [this] { collect(); });
}

SimProcess::~SimProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kLooks * kLookMs)) {
        m_process.kill();
        m_process.waitForFinished(kLooks * kLookMs);
    }
}

QString SimProcess::comLinkPath(int number) const
{
    return m_config.path() + QStringLiteral("/quorvex-tarnavel/ports/com%1").arg(number);
}

bool SimProcess::start(const QStringList& arguments)
{
    if (!m_config.isValid()) {
        m_error = QStringLiteral("no temporary configuration folder: ") + m_config.errorString();
        return false;
    }
    m_process.start(m_program, arguments);
    if (!m_process.waitForStarted(kLooks * kLookMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(m_program, m_process.errorString());
        return false;
    }
    return readFirstLines(arguments.contains(QStringLiteral("--com")));
}

bool SimProcess::waitForOutput()
{
    if (m_process.state() == QProcess::NotRunning)
        return false;
    m_process.waitForReadyRead(kLookMs);
    collect();
    return true;
}

bool SimProcess::readFirstLines(bool linked)
{
    bool served = false;
    bool linkShown = !linked;
    for (int look = 0; look < kLooks && !(served && linkShown); ++look) {
        collect();
        for (const QString& line : std::as_const(m_lines)) {
            if (!served && line.startsWith(kServing)) {
                m_device = line.mid(kServing.size());
                served = true;
            }
            if (line.startsWith(kLinked))
                linkShown = true;
        }
        if (!(served && linkShown) && !waitForOutput())
            break;
    }
    if (served && linkShown && QFileInfo::exists(m_device))
        return true;
    collect();
    m_error = QStringLiteral("tarnavel-sim did not announce its device; it printed: ") +
              m_lines.join(QLatin1Char('\n'));
    return false;
}

bool SimProcess::isTraffic(const QString& line)
{
    return line.startsWith(QLatin1String("host   > ")) ||
           line.startsWith(QLatin1String("reader < ")) ||
           line.startsWith(QLatin1String("       * ")) ||
           line.startsWith(QLatin1String("tarnavel-sim: ")) ||
           line == QLatin1String("Type help for the console commands.");
}

void SimProcess::collect()
{
    // A line handler that waits would come back here; the outer call reads on.
    if (m_collecting)
        return;
    m_collecting = true;
    for (;;) {
        const QByteArray bytes = m_process.readAllStandardOutput();
        if (bytes.isEmpty())
            break;
        m_partial.append(bytes);
        qsizetype end;
        while ((end = m_partial.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(m_partial.left(end));
            m_partial.remove(0, end + 1);
            m_lines.append(line);
            if (!isTraffic(line))
                m_answers.append(line);
            if (onLine)
                onLine(line);
        }
    }
    m_collecting = false;
}

bool SimProcess::command(const QString& line, QString* answer)
{
    collect();
    // Further lines of an earlier many-line answer are not this command's.
    m_answers.clear();
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    if (m_process.state() != QProcess::Running || m_process.write(bytes) != bytes.size()) {
        m_error = QStringLiteral("cannot send \"%1\" to tarnavel-sim").arg(line);
        return false;
    }
    for (int look = 0; look < kLooks && m_process.bytesToWrite() > 0; ++look)
        m_process.waitForBytesWritten(kLookMs);
    for (int look = 0; look < kLooks && m_answers.isEmpty(); ++look) {
        if (!waitForOutput())
            break;
    }
    if (m_answers.isEmpty()) {
        m_error = QStringLiteral("no answer from tarnavel-sim to \"%1\"").arg(line);
        return false;
    }
    const QString first = m_answers.takeFirst();
    if (answer)
        *answer = first;
    if (first.startsWith(QLatin1String("error:"))) {
        m_error = QStringLiteral("tarnavel-sim refused \"%1\": %2").arg(line, first);
        return false;
    }
    return true;
}

const QStringList& SimProcess::lines()
{
    collect();
    return m_lines;
}

qsizetype SimProcess::mark()
{
    collect();
    return m_lines.size();
}

QStringList SimProcess::linesSince(qsizetype mark)
{
    collect();
    return m_lines.mid(mark);
}

int SimProcess::countSince(qsizetype mark, const QString& fragment)
{
    collect();
    int count = 0;
    for (qsizetype i = qMax<qsizetype>(0, mark); i < m_lines.size(); ++i) {
        if (m_lines.at(i).contains(fragment))
            ++count;
    }
    return count;
}

bool SimProcess::waitForLine(qsizetype mark, const QString& fragment)
{
    for (int look = 0; look < kLooks; ++look) {
        if (countSince(mark, fragment) > 0)
            return true;
        if (m_process.state() == QProcess::NotRunning)
            return countSince(mark, fragment) > 0;
        QTest::qWait(kLookMs);
    }
    return false;
}

bool SimProcess::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(kLooks * kLookMs)) {
            m_process.kill();
            m_process.waitForFinished(kLooks * kLookMs);
            collect();
            return false;
        }
    }
    collect();
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

void SimProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(kLooks * kLookMs);
    collect();
}

QString SimProcess::hostFrame(const QByteArray& data)
{
    return QStringLiteral("host   > ") + hexBytes(buildFrame(data));
}

QString SimProcess::readerFrame(const QByteArray& body)
{
    return QStringLiteral("reader < ") + hexBytes(buildFrame(body));
}
