#include "common/errors.h"
#include "targetdb/target_claim.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/qt_printers.h"
#include "tests/support/target_databases.h"

#include <gtest/gtest.h>

#include <QFileInfo>

namespace p1 {
namespace {

// A lock file the disk has no room for is no sign of another run: the operator is told what
// keeps the claim from being taken, and no cut lock file is left to block the next run.
TEST(SqliteClaim, ALockFileThatCannotBeWrittenIsAnErrorAndLeavesNoFile)
{
    test::ensureQtApplication();
    const test::TestTarget target = test::makeSqliteTarget(false);
    auto connection = test::connectTo(target);
    const QString lockFile = connection->sqliteDatabaseFile() + ".p1import-lock";
    TargetClaim claim(*connection);
    {
        const test::FileSizeLimit full(4);
        try {
            claim.tryAcquire();
            ADD_FAILURE() << "no error";
        } catch (const TargetError& error) {
            EXPECT_EQ(error.message(), "Le fichier de réservation [" + lockFile + "] n'a pas pu être écrit.");
        }
    }
    EXPECT_FALSE(QFileInfo::exists(lockFile));
    EXPECT_TRUE(claim.tryAcquire());
}

} // namespace
} // namespace p1
