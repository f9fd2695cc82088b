// Runs a fuzz target without libFuzzer: every file of the corpus folders given, then a seeded
// batch of random inputs, most of them corpus inputs mutated. The input that fails is written
// to <program>.failed-input in the working folder.
//   replay_<name> [--runs N] [--max-len N] [--seed N] corpus-folder...
// TARNAVEL_FUZZ_SEED overrides the seed.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

QByteArray g_input;
QByteArray g_failurePath;

void keepFailedInput(int)
{
    const int fd = ::open(g_failurePath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
        (void)!::write(fd, g_input.constData(), size_t(g_input.size()));
        ::close(fd);
    }
    const char note[] = "replay: the failing input is in the .failed-input file\n";
    (void)!::write(2, note, sizeof note - 1);
}

void run(const QByteArray& input)
{
    g_input = input;
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(g_input.constData()),
                           size_t(g_input.size()));
}

QByteArray mutated(const QList<QByteArray>& corpus, std::mt19937& random, qsizetype maxLength)
{
    auto below = [&random](qsizetype n) {
        return qsizetype(random() % quint32(qMax<qsizetype>(1, n)));
    };
    QByteArray bytes;
    if (corpus.isEmpty() || below(8) == 0) {
        bytes.resize(below(maxLength + 1));
        for (char& c : bytes)
            c = char(random());
        return bytes;
    }
    bytes = corpus.at(below(corpus.size()));
    for (int steps = 1 + int(below(4)); steps > 0; --steps) {
        const qsizetype at = below(bytes.size() + 1);
        switch (below(5)) {
        case 0: // flip a bit
            if (!bytes.isEmpty())
                bytes[qMin(at, bytes.size() - 1)] ^= char(1 << below(8));
            break;
        case 1: // insert a random byte
            bytes.insert(at, char(random()));
            break;
        case 2: // drop a piece
            bytes.remove(at, below(16));
            break;
        case 3: // repeat a piece
            bytes.insert(at, bytes.mid(below(bytes.size()), below(32)));
            break;
        default: // splice in a piece of another input
            const QByteArray& other = corpus.at(below(corpus.size()));
            bytes.insert(at, other.mid(below(other.size()), below(64)));
            break;
        }
    }
    return bytes.left(maxLength);
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 1000;
    qsizetype maxLength = 4096;
    quint32 seed = 1;
    QStringList folders;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        const bool valued = i + 1 < argc;
        if (arg == "--runs" && valued)
            runs = QByteArray(argv[++i]).toInt();
        else if (arg == "--max-len" && valued)
            maxLength = QByteArray(argv[++i]).toLongLong();
        else if (arg == "--seed" && valued)
            seed = QByteArray(argv[++i]).toUInt();
        else
            folders.append(QFile::decodeName(arg));
    }
    if (qEnvironmentVariableIsSet("TARNAVEL_FUZZ_SEED"))
        seed = qEnvironmentVariable("TARNAVEL_FUZZ_SEED").toUInt();

    g_failurePath =
        QFileInfo(QFile::decodeName(argv[0])).fileName().toLocal8Bit() + ".failed-input";
    std::signal(SIGABRT, keepFailedInput);

    QList<QByteArray> corpus;
    for (const QString& folder : folders) {
        const QDir dir(folder);
        if (!dir.exists()) {
            std::fprintf(stderr, "replay: no corpus folder %s\n", qPrintable(folder));
            return 2;
        }
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "replay: cannot read %s\n", qPrintable(file.fileName()));
                return 2;
            }
            corpus.append(file.readAll());
            run(corpus.last());
        }
    }
    std::mt19937 random(seed);
    for (int i = 0; i < runs; ++i)
        run(mutated(corpus, random, maxLength));
    std::printf("replay: %lld corpus inputs and %d random inputs passed (seed %u)\n",
                static_cast<long long>(corpus.size()), runs, seed);
    return 0;
}
