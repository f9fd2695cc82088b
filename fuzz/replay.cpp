// Runs a fuzz target without libFuzzer: every file of the corpus folder, then a batch of random
// inputs, most of them corpus inputs mutated, seeded by TARNAVEL_FUZZ_SEED (default 1). An input
// that fails is kept as <program>.failed-input in the working folder.
//   replay_<name> corpus-folder runs max-length

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <csignal>
#include <cstdint>
#include <cstdio>
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
    if (fd >= 0 && ::write(fd, g_input.constData(), size_t(g_input.size())) >= 0)
        ::close(fd);
}

void run(const QByteArray& input)
{
    g_input = input;
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(g_input.constData()),
                           size_t(g_input.size()));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s corpus-folder runs max-length\n", argv[0]);
        return 2;
    }
    g_failurePath =
        QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toLocal8Bit() + ".failed-input";
    std::signal(SIGABRT, keepFailedInput);

    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const int runs = QByteArray(argv[2]).toInt();
    const qsizetype maxLength = QByteArray(argv[3]).toInt();
    // An input longer than the random ones (a file at a size bound) runs whole, but seeds no
    // random input: cut to the length it would give the same prefix every time.
    QList<QByteArray> corpus;
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return 2;
        const QByteArray input = file.readAll();
        run(input);
        if (input.size() <= maxLength)
            corpus.append(input);
    }

    const uint seed = qEnvironmentVariableIntValue("TARNAVEL_FUZZ_SEED") > 0
                          ? uint(qEnvironmentVariableIntValue("TARNAVEL_FUZZ_SEED"))
                          : 1u;
    std::mt19937 random(seed);
    const auto below = [&random](qsizetype n) { return qsizetype(random() % quint32(n + 1)); };
    for (int i = 0; i < runs; ++i) {
        QByteArray bytes;
        if (corpus.isEmpty() || below(7) == 0) {
            bytes.resize(below(maxLength));
            for (char& c : bytes)
                c = char(random());
        } else {
            // A corpus input with a few pieces changed, dropped or copied from another one.
            bytes = corpus.at(below(corpus.size() - 1));
            for (int step = int(below(3)); step >= 0; --step) {
                const QByteArray& other = corpus.at(below(corpus.size() - 1));
                const qsizetype at = below(bytes.size());
                switch (below(3)) {
                case 0:
                    bytes.insert(at, char(random()));
                    break;
                case 1:
                    bytes.remove(at, below(16));
                    break;
                default:
                    bytes.insert(at, other.mid(below(other.size()), below(64)));
                    break;
                }
            }
        }
        run(bytes.left(maxLength));
    }
    std::printf("replay: %lld corpus inputs and %d random inputs passed (seed %u)\n",
                static_cast<long long>(names.size()), runs, seed);
    return 0;
}
