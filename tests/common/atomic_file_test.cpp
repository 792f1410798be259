#include "common/atomic_file.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using kirasol::replaceFileAtomically;
using kirasol::test::readFile;
using kirasol::test::writeFile;

namespace {

TEST(AtomicFileTest, ReplacesWholeFileKeepingPermissionsAndLeavesNoTemporaries) {
  QTemporaryDir dir;
  const QString tool = dir.filePath("tool");
  ASSERT_TRUE(writeFile(tool, QByteArray(4096, 'L')));
  const QFile::Permissions executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                        QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
  ASSERT_TRUE(QFile::setPermissions(tool, executable));

  QString error;
  ASSERT_TRUE(replaceFileAtomically(tool, "short", &error)) << error.toStdString();
  EXPECT_EQ(readFile(tool), "short");
  EXPECT_EQ(QFile::permissions(tool) & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser), executable);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"tool"});
}

TEST(AtomicFileTest, NewFilesFollowTheUmaskAndEmptyContentIsWritten) {
  QTemporaryDir dir;
  const mode_t mask = ::umask(022);
  const QString path = dir.filePath("new.dat");
  const bool written = replaceFileAtomically(path, QByteArray());
  ::umask(mask);
  ASSERT_TRUE(written);
  EXPECT_TRUE(QFile::exists(path));
  EXPECT_EQ(readFile(path), QByteArray());
  const QFile::Permissions p = QFile::permissions(path);
  EXPECT_TRUE(p & QFile::ReadOther) << "a new file is readable like any other new file";
  EXPECT_FALSE(p & QFile::ExeOwner);
}

TEST(AtomicFileTest, FailureLeavesTheTargetAloneAndSaysWhy) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder"));
  for (const QString &path : {dir.filePath("missing/x.dat"), dir.filePath("folder")}) {
    SCOPED_TRACE(path.toStdString());
    QString error;
    EXPECT_FALSE(replaceFileAtomically(path, "bytes", &error));
    EXPECT_FALSE(error.isEmpty());
  }
  EXPECT_TRUE(QFileInfo(dir.filePath("folder")).isDir());
}

}  // namespace
