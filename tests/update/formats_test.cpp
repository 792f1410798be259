#include "support/test_support.h"
#include "update/mod_update.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using kirasol::update::FieldList;
using kirasol::update::SplitFields;

namespace {

TEST(SplitFieldsTest, Table) {
  struct Case {
    const char *line;
    std::vector<const char *> fields;  // Fields(1).. ; the rest must be empty
  };
  const Case cases[] = {
      {"a.dll,1.2", {"a.dll", "1.2"}},
      {",a.dll,,1.2", {"a.dll", "1.2"}},  // empty fields are skipped
      {"a.dll", {"a.dll"}},
      {"a.dll,", {"a.dll", ""}},
      {"a.dll,,,", {"a.dll", ""}},
      {"", {}},
      {",,,", {}},
      {" a.dll , 1.2 ", {" a.dll ", " 1.2 "}},  // blanks belong to the fields
      {"a,b,c,d,e,f,g,h,i,j", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}},
      {"a,b,c,d,e,f,g,h,i,j,k,l", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}},  // beyond ten: dropped
      {"a,b,c,d,e,f,g,h,i,j k", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j k"}},
      {"ไฟล์.dll,๑.๒", {"ไฟล์.dll", "๑.๒"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    const FieldList got = SplitFields(QString::fromUtf8(c.line), u',');
    for (int k = 0; k < kirasol::update::kFieldCount; ++k) {
      const QString expected = k < int(c.fields.size()) ? QString::fromUtf8(c.fields[k]) : QString();
      EXPECT_EQ(got[k], expected) << "Fields(" << k + 1 << ")";
    }
  }
}

TEST(SplitFieldsTest, ThirdFieldIsAChecksumOnlyWhenItIs64HexDigits) {
  const QString hash64 = QString(64, u'A');
  const struct {
    QString line;
    QString sha;
  } cases[] = {
      {"a.dll,1.2," + hash64, hash64.toLower()},
      {"a.dll,1.2," + QString(63, u'a'), {}},
      {"a.dll,1.2," + QString(65, u'a'), {}},
      {"a.dll,1.2," + QString(63, u'a') + u'g', {}},
      {"a.dll,1.2,note", {}},
      {"a.dll,1.2", {}},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(kirasol::update::listedSha256(SplitFields(c.line, u',')), c.sha) << c.line.toStdString();
  }
}

TEST(SafeFileNameTest, RefusesNamesThatLeaveTheWorkingFolder) {
  QTemporaryDir work;
  QTemporaryDir outside;
  ASSERT_TRUE(QDir(work.path()).mkdir("sub"));
  ASSERT_TRUE(QFile::link(outside.path(), work.filePath("out")));
  ASSERT_TRUE(QFile::link(outside.filePath("target"), work.filePath("dangling")));
  ASSERT_TRUE(kirasol::test::writeFile(work.filePath("sub/real.bin"), "x"));
  ASSERT_TRUE(QFile::link(work.filePath("sub/real.bin"), work.filePath("inner-link")));
  const struct {
    const char *name;
    bool safe;
  } cases[] = {
      {"a.dll", true},
      {"sub/b.dll", true},
      {"new/folder/c.dll", true},
      {"inner-link", true},  // a link that stays inside
      {"", false},
      {"  ", false},
      {"../a.dll", false},
      {"sub/../../a.dll", false},
      {"a..dll", false},
      {"/etc/passwd", false},
      {"out/a.dll", false},   // through a link to a folder outside
      {"dangling", false},    // a link to a file outside that does not exist yet
      {"sub/", false},
      {"line\nbreak", false},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(kirasol::update::isSafeFileName(work.path(), QString::fromUtf8(c.name)), c.safe) << c.name;
  }
}

}  // namespace
