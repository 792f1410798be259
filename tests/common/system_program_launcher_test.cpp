#include "common/system_program_launcher.h"
#include "support/test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using kirasol::SystemProgramLauncher;
using namespace std::chrono_literals;

namespace {

// A shell script that appends "<tag> <cwd> <args...>" to the file named by
// its first argument.
void writeScript(const QString &path, const QString &tag, bool executable = true) {
  const QByteArray text = "#!/bin/sh\nout=\"$1\"; shift\necho \"" + tag.toUtf8() + " $(pwd) $*\" >> \"$out\"\n";
  ASSERT_TRUE(kirasol::test::writeFile(path, text));
  QFile::Permissions p = QFile::ReadOwner | QFile::WriteOwner;
  if (executable) p |= QFile::ExeOwner;
  ASSERT_TRUE(QFile::setPermissions(path, p));
}

class ProgramLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedPath_ = qgetenv("PATH");
    qputenv("PATH", (pathDir_.path() + u':').toUtf8() + savedPath_);
  }
  void TearDown() override { qputenv("PATH", savedPath_); }
  QTemporaryDir programDir_;
  QTemporaryDir pathDir_;
  QByteArray savedPath_;
};

TEST_F(ProgramLauncherTest, ProgramFolderComesBeforePath) {
  struct Case {
    const char *name;
    bool inProgramDir;
    bool programDirCopyExecutable;
    bool onPath;
    const char *expected;  // "program", "path" or "" for not found
  };
  const Case cases[] = {
      {"both: program folder wins", true, true, true, "program"},
      {"only on PATH", false, false, true, "path"},
      {"program folder copy not executable", true, false, true, "path"},
      {"only in program folder", true, true, false, "program"},
      {"nowhere", false, false, false, ""},
  };
  int n = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const QString name = QStringLiteral("kirasol-launcher-probe-%1").arg(n++);
    if (c.inProgramDir) writeScript(programDir_.filePath(name), "program", c.programDirCopyExecutable);
    if (c.onPath) writeScript(pathDir_.filePath(name), "path");
    SystemProgramLauncher launcher(programDir_.path());
    const QString resolved = launcher.resolve(name);
    const QString expected = QString::fromLatin1(c.expected) == u"program" ? programDir_.filePath(name)
                             : QString::fromLatin1(c.expected) == u"path"  ? pathDir_.filePath(name)
                                                                           : QString();
    EXPECT_EQ(resolved, expected);
    if (expected.isEmpty()) {
      EXPECT_FALSE(launcher.startProgram(name));
    }
  }
}

TEST_F(ProgramLauncherTest, StartsDetachedWithArgumentsInTheInheritedWorkingDirectory) {
  writeScript(programDir_.filePath("kirasol-launcher-run"), "ran");
  QTemporaryDir workDir;
  QTemporaryDir outDir;
  const QString out = outDir.filePath("out.txt");
  const QString savedCwd = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(workDir.path()));
  SystemProgramLauncher launcher(programDir_.path());
  const bool started = launcher.startProgram("kirasol-launcher-run", {out, "a b", "c"});
  QDir::setCurrent(savedCwd);
  ASSERT_TRUE(started);
  ASSERT_TRUE(kirasol::test::waitUntil([&] { return kirasol::test::readFile(out).endsWith('\n'); }, 10s));
  EXPECT_EQ(QString::fromUtf8(kirasol::test::readFile(out)).trimmed(),
            "ran " + QDir(workDir.path()).canonicalPath() + " a b c");
}

}  // namespace
