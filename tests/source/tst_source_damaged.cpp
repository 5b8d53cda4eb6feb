// Damaged copies of the real fixture files (truncated, bytes flipped where the structures lie):
// each copy either reads in full or raises a SourceError; never a crash, a hang or another error.
#include "common/errors.h"
#include "source/source_database.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

using namespace p1;

namespace {

constexpr int pageSize = 0x1000;

QByteArray fixture(const char* name)
{
    QFile file(QStringLiteral(P1_SOURCE_DIR "/tests/fixtures/independent/") + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

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

QByteArray flipped(QByteArray file, const QList<int>& offsets, std::mt19937& random)
{
    std::uniform_int_distribution<int> count(1, 6);
    std::uniform_int_distribution<int> pick(0, int(offsets.size()) - 1);
    std::uniform_int_distribution<int> anywhere(0, int(file.size()) - 1);
    std::uniform_int_distribution<int> bits(1, 255);
    const int flips = count(random);
    for (int i = 0; i < flips; ++i) {
        const int at = i % 3 == 2 ? anywhere(random) : offsets[pick(random)];
        file[at] = char(file[at] ^ bits(random));
    }
    return file;
}

struct Tally {
    int read = 0;
    int refused = 0;
};

void damageAndRead(const char* name, int flippedCopies, Tally& tally)
{
    const QByteArray original = fixture(name);
    ASSERT_FALSE(original.isEmpty());
    QTemporaryDir folder;
    const QString path = folder.filePath(QString::fromLatin1(name));
    Watchdog watchdog(std::chrono::seconds(20));
    auto readCopy = [&](const QByteArray& bytes, const std::string& what) {
        watchdog.starting(what);
        QFile copy(path);
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly | QIODevice::Truncate));
        copy.write(bytes);
        copy.close();
        (readEverything(path) == Outcome::Read ? tally.read : tally.refused)++;
    };

    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> length(0, int(original.size()) - 1);
    for (int i = 0; i < 40; ++i) {
        const int cut = i < 8 ? i * pageSize / 2 : (i % 2 ? length(random) : length(random) / pageSize * pageSize);
        readCopy(original.left(cut), std::string(name) + " cut at " + std::to_string(cut));
    }
    const QList<int> offsets = structuralOffsets(original);
    for (int i = 0; i < flippedCopies; ++i)
        readCopy(flipped(original, offsets, random), std::string(name) + " flipped copy " + std::to_string(i));
}

TEST(SourceDamagedFile, TruncatedAndFlippedCopiesReadOrRefuseCleanly)
{
    Tally tally;
    damageAndRead("V4.mdb", 200, tally);
    damageAndRead("Ordo.mdb", 160, tally);
    // Both kinds of outcome must occur, or the damage missed the structures it aims at.
    EXPECT_GT(tally.refused, 100);
    EXPECT_GT(tally.read, 10);
    std::printf("%d copies read in full, %d refused with a SourceError\n", tally.read, tally.refused);
}

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
