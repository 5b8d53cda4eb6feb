// Damaged copies of the independent fixtures and of a practice of the project's own writer
// (truncated, bytes flipped, pages zeroed, swapped or filled with noise): each copy either reads
// in full or raises a SourceError naming it; never a crash, a hang or another error.
#include "common/errors.h"
#include "source/source_database.h"
#include "tools/sample_practice/sample_practice.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <ostream>
#include <random>
#include <thread>

using namespace p1;

namespace {

constexpr int pageSize = 0x1000;

// Ends the process with a message when one copy takes longer than a read can take: a hang
// becomes a failure instead of a stalled test run.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit)
        : thread_([this, limit] {
              std::unique_lock lock(mutex_);
              while (!stopped_) {
                  const int seen = progress_;
                  if (!wake_.wait_for(lock, limit, [&] { return stopped_ || progress_ != seen; })) {
                      std::fprintf(stderr, "a damaged copy is still being read after %llds: %s\n",
                                   static_cast<long long>(limit.count()), current_.c_str());
                      std::abort();
                  }
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    void starting(std::string what)
    {
        {
            std::lock_guard lock(mutex_);
            current_ = std::move(what);
            ++progress_;
        }
        wake_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
    int progress_ = 0;
    std::string current_;
    std::thread thread_;
};

enum class Outcome { Read, Refused };

// Opens the copy and reads every row of every table; a SourceError is the one accepted failure.
Outcome readEverything(const QString& path)
{
    try {
        SourceDatabase database(path);
        for (const QString& table : database.userTables()) {
            database.columns(table);
            database.readRows(table, [](const QList<SourceValue>&) {});
        }
        return Outcome::Read;
    } catch (const SourceError& error) {
        EXPECT_FALSE(error.message().isEmpty());
        EXPECT_TRUE(error.message().contains(path)) << error.message().toStdString();
        return Outcome::Refused;
    }
}

// Offsets worth damaging: the header, table definitions, page maps and row offset tables.
QList<int> structuralOffsets(const QByteArray& file)
{
    QList<int> offsets;
    for (int page = 0; page * pageSize < file.size(); ++page) {
        const int start = page * pageSize;
        const auto type = static_cast<unsigned char>(file[start]);
        const int span = page == 0 ? 0x100 : type == 0x02 ? 0x400 : type == 0x01 ? 0x60 : 0;
        for (int at = start; at < start + span; ++at)
            offsets.append(at);
    }
    return offsets;
}

struct Original {
    QByteArray bytes;
    QList<int> structures;
    int pages() const { return int(bytes.size() / pageSize); }
};

int draw(std::mt19937& random, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

QByteArray truncated(const Original& original, std::mt19937& random)
{
    const int cut = draw(random, 0, int(original.bytes.size()) - 1);
    return original.bytes.left(draw(random, 0, 1) ? cut : cut / pageSize * pageSize);
}

QByteArray flipped(QByteArray file, const QList<int>& offsets, std::mt19937& random)
{
    const int flips = draw(random, 1, 6);
    for (int i = 0; i < flips; ++i) {
        const int at = offsets[draw(random, 0, int(offsets.size()) - 1)];
        file[at] = char(file[at] ^ draw(random, 1, 255));
    }
    return file;
}

QByteArray flippedStructures(const Original& original, std::mt19937& random)
{
    return flipped(original.bytes, original.structures, random);
}

QByteArray flippedAnywhere(const Original& original, std::mt19937& random)
{
    QList<int> anywhere(draw(random, 1, 6));
    for (int& at : anywhere)
        at = draw(random, 0, int(original.bytes.size()) - 1);
    return flipped(original.bytes, anywhere, random);
}

QByteArray zeroedPages(const Original& original, std::mt19937& random)
{
    QByteArray file = original.bytes;
    for (int i = draw(random, 1, 2); i > 0; --i)
        std::fill_n(file.begin() + draw(random, 0, original.pages() - 1) * pageSize, pageSize, '\0');
    return file;
}

QByteArray swappedPages(const Original& original, std::mt19937& random)
{
    QByteArray file = original.bytes;
    const int first = draw(random, 0, original.pages() - 1);
    const int second = (first + draw(random, 1, original.pages() - 1)) % original.pages();
    std::swap_ranges(file.begin() + first * pageSize, file.begin() + (first + 1) * pageSize,
                     file.begin() + second * pageSize);
    return file;
}

QByteArray randomPage(const Original& original, std::mt19937& random)
{
    QByteArray file = original.bytes;
    const auto page = file.begin() + draw(random, 0, original.pages() - 1) * pageSize;
    std::generate_n(page, pageSize, [&] { return char(draw(random, 0, 255)); });
    return file;
}

struct Damage {
    const char* name;
    QByteArray (*apply)(const Original&, std::mt19937&);
    int share; // of every ten copies of a file
};

const Damage damages[] = {
    {"truncated", truncated, 1},
    {"flipped in its structures", flippedStructures, 3},
    {"flipped anywhere", flippedAnywhere, 2},
    {"zeroed pages", zeroedPages, 1},
    {"swapped pages", swappedPages, 1},
    {"random page", randomPage, 2},
};

// 600 copies of each of the four files: the 2,000 damaged copies the reader must survive, and
// some over.
constexpr int copiesPerFile = 600;

struct Tally {
    int read = 0;
    int refused = 0;
};

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

QByteArray fixture(const char* name)
{
    return fileBytes(QStringLiteral(P1_SOURCE_DIR "/tests/fixtures/independent/") + name);
}

Outcome writeAndRead(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    file.close();
    return readEverything(path);
}

// The independent fixtures, and a small practice of the project's own writer.
struct OriginalFile {
    const char* testName;
    const char* fileName;
    bool written;
    int seed;
};

const OriginalFile originalFiles[] = {
    {"IndependentV4", "V4.mdb", false, 1},
    {"IndependentOrdo", "Ordo.mdb", false, 2},
    {"WrittenV4", "V4.mdb", true, 3},
    {"WrittenOrdo", "Ordo.mdb", true, 4},
};

void PrintTo(const OriginalFile& file, std::ostream* out)
{
    *out << file.testName;
}

Original loaded(const OriginalFile& file)
{
    Original original;
    if (file.written) {
        QTemporaryDir folder;
        SamplePracticeOptions options;
        options.patients = 40;
        writeSamplePractice(folder.filePath("cabinet"), options);
        original.bytes = fileBytes(folder.filePath("cabinet/") + file.fileName);
    } else {
        original.bytes = fixture(file.fileName);
    }
    original.structures = structuralOffsets(original.bytes);
    return original;
}

class DamagedCopies : public testing::TestWithParam<OriginalFile> {};

TEST_P(DamagedCopies, ReadInFullOrAreRefusedCleanly)
{
    const Original original = loaded(GetParam());
    ASSERT_GE(original.pages(), 3);
    QTemporaryDir folder;
    const QString path = folder.filePath("copie.mdb");
    Watchdog watchdog(std::chrono::seconds(60));
    std::map<std::string, Tally> tallies;
    for (int kind = 0; kind < int(std::size(damages)); ++kind) {
        const Damage& damage = damages[kind];
        for (int copy = 0; copy < copiesPerFile * damage.share / 10; ++copy) {
            // One seed per copy, so that any copy can be rebuilt on its own.
            std::seed_seq seed{20240611, GetParam().seed, kind, copy};
            std::mt19937 random(seed);
            watchdog.starting(std::string(damage.name) + ", copy " + std::to_string(copy));
            const Outcome outcome = writeAndRead(path, damage.apply(original, random));
            Tally& tally = tallies[damage.name];
            (outcome == Outcome::Read ? tally.read : tally.refused)++;
        }
    }
    for (const auto& [name, tally] : tallies) {
        std::printf("%s: %d copies read in full, %d refused with a SourceError\n", name.c_str(),
                    tally.read, tally.refused);
        // A kind of damage never refused would be missing the structures it aims at.
        EXPECT_GT(tally.refused, 0) << name;
    }
    EXPECT_GT(tallies["flipped anywhere"].read, 0);
}

INSTANTIATE_TEST_SUITE_P(SourceDamagedFile, DamagedCopies, testing::ValuesIn(originalFiles));

TEST(SourceDamagedFile, ForeignFilesAreRefusedWithTheirReason)
{
    QTemporaryDir folder;
    const struct {
        const char* name;
        QByteArray bytes;
        const char* reason;
    } cases[] = {
        {"empty.mdb", QByteArray(), "n'est pas une base de données Access"},
        {"text.mdb", QByteArray("Bonjour, ceci est un texte.\n").repeated(400), "n'est pas une base de données Access"},
        {"half.mdb", fixture("V4.mdb").left(3 * pageSize + 100), "est endommagé"},
        {"jet3.mdb", fixture("V4.mdb").left(4 * pageSize).replace(0x14, 1, QByteArray(1, '\0')), "Access 2000-2003"},
    };
    for (const auto& test : cases) {
        const QString path = folder.filePath(test.name);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(test.bytes);
        file.close();
        try {
            SourceDatabase database(path);
            ADD_FAILURE() << test.name << " opened";
        } catch (const SourceError& error) {
            EXPECT_TRUE(error.message().contains(test.reason)) << error.message().toStdString();
            EXPECT_TRUE(error.message().contains(path)) << error.message().toStdString();
        }
    }
}

TEST(SourceDamagedFile, MissingFileSaysSo)
{
    try {
        SourceDatabase database("/nonexistent/folder/V4.mdb");
        FAIL() << "opened";
    } catch (const SourceError& error) {
        EXPECT_EQ(error.message(), "Le fichier [/nonexistent/folder/V4.mdb] n'existe pas.");
    }
}

} // namespace
