// The settings file "ruzazazo.cfg": its byte image, the one-step backup, the
// tails kept, and every failure reported with the file left as it was.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "PowerCutFs.h"
#include "langue.h"
#include "ShellTest.h"

namespace {

class SettingsFileTest : public ShellTest {
 protected:
  // A record unlike the defaults in every field.
  static SettingsRecord Other() {
    SettingsRecord r = DefaultSettings();
    r.PortNumber = 4;
    r.LinkType = LinkRs485;
    SetShortStringText(r.DisplayFont, QStringLiteral("DejaVu Sans Mono"));
    r.DisplayFontHeight = 30;
    r.AngleUnit = 3;
    r.DateFormat = DateDayMonthYear;
    return r;
  }
  static bool Same(const SettingsRecord &a, const SettingsRecord &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
  }
  // Puts at the settings file's name a directory (mode 0), a symbolic link
  // to linkTo holding content (when given), or a file of content and mode.
  static void PutAtTheName(const QByteArray &content, mode_t mode, const char *linkTo) {
    const QByteArray name(SettingsFileName);
    QFile::remove(QString::fromLatin1(name));
    rmdir(name.constData());
    if (mode == 0) {
      ASSERT_EQ(mkdir(name.constData(), 0755), 0);
    } else if (linkTo) {
      QFile::remove(QString::fromLatin1(linkTo));
      if (!content.isEmpty()) {
        QFile target(QString::fromLatin1(linkTo));
        ASSERT_TRUE(target.open(QIODevice::WriteOnly));
        target.write(content);
      }
      ASSERT_EQ(symlink(linkTo, name.constData()), 0);
    } else {
      WriteFile(content);
      ASSERT_EQ(chmod(name.constData(), mode), 0);
    }
  }
  // What PutAtTheName put there is left as it was (the link's target too).
  static void ExpectLeftAsItWas(const QByteArray &content, mode_t mode, const char *linkTo) {
    const QString name = QString::fromLatin1(SettingsFileName);
    if (mode == 0) {
      EXPECT_TRUE(QFileInfo(name).isDir());
    } else if (linkTo) {
      EXPECT_TRUE(QFileInfo(name).isSymLink());
      EXPECT_EQ(FileBytes(linkTo), content) << "nothing written through it or made where it points";
      QFile::remove(name);
    } else {
      chmod(SettingsFileName, 0644);
      EXPECT_EQ(FileBytes(), content);
    }
  }
  // Whether file permissions hold for this thread (see AsUnprivileged).
  static bool PermissionsApply(const AsUnprivileged &as) { return geteuid() != 0 || as.Active(); }
};

TEST_F(SettingsFileTest, NoFileCreatesTheDefaultsImage) {
  EXPECT_TRUE(LoadSettings());
  EXPECT_TRUE(messages.empty());
  const QByteArray b = FileBytes();
  ASSERT_EQ(b.size(), 532);
  EXPECT_EQ(b.left(9), QByteArray::fromHex("ff000000010000000" "1"));
  EXPECT_EQ(b.mid(9, 12), QByteArray("\x0b" "Courier New"));
  EXPECT_EQ(b.mid(268, 5), QByteArray::fromHex("3600000001"));
  EXPECT_EQ(b.at(529), 2);
  EXPECT_EQ(b.mid(265, 3), QByteArray(3, '\0'));
  EXPECT_EQ(b.mid(530, 2), QByteArray(2, '\0'));
  EXPECT_EQ(ShortStringText(Settings.AcquisitionFile),
            QDir::currentPath() + QStringLiteral("/Acquisition.txt"));
  EXPECT_TRUE(Same(Settings, PendingSettings));
}

TEST_F(SettingsFileTest, ApplyOnOneRecordFileKeepsTheOldAsBackupAndLaterRecords) {
  const SettingsRecord old = DefaultSettings();
  SettingsRecord third = Other();
  third.PortNumber = 7;
  // Table: the file before the save, and what must follow the two records.
  const struct {
    const char *what;
    QByteArray before;
    QByteArray tail;
  } cases[] = {
      {"no file: both records are the new settings", QByteArray(), QByteArray()},
      {"one record", Image(old), QByteArray()},
      {"three records: the third survives", Image(old) + Image(old) + Image(third), Image(third)},
      {"a stray partial tail survives", Image(old) + Image(old) + QByteArray("xyz"), "xyz"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    QFile::remove(QString::fromLatin1(SettingsFileName));
    if (!c.before.isEmpty()) WriteFile(c.before);
    PendingSettings = Other();
    ApplyPendingSettings();
    EXPECT_TRUE(SaveSettings());
    const QByteArray b = FileBytes();
    const QByteArray previous = c.before.isEmpty() ? Image(Other()) : Image(old);
    EXPECT_EQ(b, Image(Other()) + previous + c.tail);
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(SettingsFileTest, ShortStringsKeepOldTailsAndCutOnCharacters) {
  SettingsRecord r = DefaultSettings();
  SetShortStringText(r.DisplayFont, QStringLiteral("Mono"));
  // The length byte changes; "Courier New" stays after the new text.
  EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(&r.DisplayFont), 12),
            QByteArray("\x04" "Monoier New"));
  EXPECT_EQ(ShortStringText(r.DisplayFont), QStringLiteral("Mono"));

  // 200 two-byte characters: cut at 127 characters (254 bytes), never half one.
  SetShortStringText(r.AcquisitionFile, QString(200, QChar(0xe9)));
  EXPECT_EQ(r.AcquisitionFile.Length, 254);
  EXPECT_EQ(ShortStringText(r.AcquisitionFile), QString(127, QChar(0xe9)));
  SetShortStringText(r.AcquisitionFile, QString(300, QLatin1Char('a')));
  EXPECT_EQ(r.AcquisitionFile.Length, 255);

  // Bytes from another system's code page are read as Latin-1.
  r.DisplayFont.Length = 4;
  std::memcpy(r.DisplayFont.Text, "Caf\xe9", 4);
  EXPECT_EQ(ShortStringText(r.DisplayFont), QString::fromUtf8("Café"));
}

TEST_F(SettingsFileTest, OutOfRangeValuesLoadAsTheyAre) {
  SettingsRecord r = DefaultSettings();
  r.Reserved = 12345;
  r.PortNumber = 0;
  r.AngleUnit = 9;
  r.DateFormat = 7;
  r.DisplayFontHeight = -3;
  WriteFile(Image(r) + Image(DefaultSettings()));
  EXPECT_TRUE(LoadSettings());
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(Same(Settings, r));
  EXPECT_TRUE(Same(PendingSettings, r));
}

// Load failures: each is reported, the defaults stay in force, the file (or
// whatever stands at its name) is left exactly as it was. A read-only file
// is no failure: it loads, and only a save will need to write.
TEST_F(SettingsFileTest, LoadFailuresKeepDefaultsAndLeaveTheFile) {
  SettingsRecord stored = Other();
  const struct {
    const char *what;
    QByteArray content;  // empty: a directory stands at the name
    mode_t mode;
    bool needsPermissions;
    bool loads = false;
    const char *linkTo = nullptr;  // the name is a symbolic link to this file, which holds content
  } cases[] = {
      {"shorter than one record", Image(stored).left(300), 0644, false},
      {"empty file", QByteArray(), 0644, false},
      {"a directory of that name", QByteArray(), 0, false},
      {"no access", Image(stored), 0000, true},
      // Could be truncated, but not read: it must not be made anew.
      {"write-only file", Image(stored), 0222, true},
      {"read-only file", Image(stored), 0444, true, true},
      // A link is never followed, not even to a whole record.
      {"symbolic link to a record", Image(stored), 0644, false, false, "elsewhere.cfg"},
      {"symbolic link to nothing", QByteArray(), 0644, false, false, "missing.cfg"},
  };
  chmod(Dir().toLocal8Bit().constData(), 0777);  // searchable by "nobody"
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    messages.clear();
    ASSERT_NO_FATAL_FAILURE(PutAtTheName(c.content, c.mode, c.linkTo));
    Settings = Other();  // anything but the defaults
    bool loaded;
    {
      AsUnprivileged as;
      if (c.needsPermissions && !PermissionsApply(as)) {
        std::printf("skipped %s: file permissions cannot be made to apply\n", c.what);
        continue;
      }
      loaded = LoadSettings();
    }
    if (c.loads) {
      EXPECT_TRUE(loaded);
      EXPECT_TRUE(messages.empty());
      EXPECT_TRUE(Same(Settings, stored));
    } else {
      EXPECT_FALSE(loaded);
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(messages[0].kind, MessageKind::Error);
      EXPECT_TRUE(messages[0].text.contains(QLatin1String(SettingsFileName)));
      EXPECT_TRUE(messages[0].text.contains(QLatin1String("default settings are in force")))
          << messages[0].text.toStdString();
      EXPECT_TRUE(Same(Settings, DefaultSettings()));
    }
    EXPECT_TRUE(Same(PendingSettings, Settings));
    ExpectLeftAsItWas(c.content, c.mode, c.linkTo);
  }
}

// Save failures: reported, nothing written, the applied settings in force.
TEST_F(SettingsFileTest, SaveFailuresKeepTheFileAndTheAppliedSettings) {
  const QByteArray name(SettingsFileName);
  chmod(Dir().toLocal8Bit().constData(), 0777);
  const struct {
    const char *what;
    QByteArray content;
    mode_t mode;
    bool needsPermissions;
    const char *linkTo = nullptr;  // the name is a symbolic link to this file, which holds content
    bool notRegular = false;       // named as no regular file
  } cases[] = {
      {"shorter than one record", QByteArray("partial"), 0644, false},
      {"a directory of that name", QByteArray(), 0, false, nullptr, true},
      {"read-only file", Image(DefaultSettings()) + Image(DefaultSettings()), 0444, true},
      {"write-only file", Image(DefaultSettings()), 0222, true},
      // Root following the link would write over the file it points at.
      {"symbolic link to another file", QByteArray("root:x:0:0:root:/root:/bin/bash\n"), 0644, false,
       "passwd", true},
      {"symbolic link to nothing", QByteArray(), 0644, false, "missing.cfg", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    messages.clear();
    ASSERT_NO_FATAL_FAILURE(PutAtTheName(c.content, c.mode, c.linkTo));
    PendingSettings = Other();
    ApplyPendingSettings();
    bool saved;
    {
      AsUnprivileged as;
      if (c.needsPermissions && !PermissionsApply(as)) {
        std::printf("skipped %s: file permissions cannot be made to apply\n", c.what);
        continue;
      }
      saved = SaveSettings();
    }
    EXPECT_FALSE(saved);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, MessageKind::Error);
    if (c.notRegular) {
      EXPECT_EQ(messages[0].text, Langue(TxtSettingsNotRegularSave).arg(QString::fromLatin1(name)));
    }
    EXPECT_TRUE(Same(Settings, Other()));
    ExpectLeftAsItWas(c.content, c.mode, c.linkTo);
  }
  // A directory without write access: the file cannot be created.
  messages.clear();
  QFile::remove(QString::fromLatin1(name));
  chmod(Dir().toLocal8Bit().constData(), 0555);
  {
    AsUnprivileged as;
    if (PermissionsApply(as)) {
      EXPECT_FALSE(SaveSettings());
      EXPECT_EQ(messages.size(), 1u);
      EXPECT_FALSE(QFileInfo::exists(QString::fromLatin1(name)));
    }
  }
  chmod(Dir().toLocal8Bit().constData(), 0755);
}

// A file this run creates but cannot fill (the disk full, a size limit) is
// removed again: left shorter than one record, it would make every later
// start and save fail.
TEST_F(SettingsFileTest, AFileThatCannotBeFilledIsNotLeftBehind) {
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 100;  // bytes: less than one record
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool loaded = LoadSettings();
  const bool loadLeftFile = QFileInfo::exists(QString::fromLatin1(SettingsFileName));
  PendingSettings = Other();
  ApplyPendingSettings();
  const bool saved = SaveSettings();
  const bool saveLeftFile = QFileInfo::exists(QString::fromLatin1(SettingsFileName));
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldSignal);

  EXPECT_FALSE(loaded);
  EXPECT_FALSE(loadLeftFile);
  EXPECT_FALSE(saved);
  EXPECT_FALSE(saveLeftFile);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].kind, MessageKind::Error);
  EXPECT_TRUE(Same(Settings, Other()));
  // The next start and save work as on a first run.
  EXPECT_TRUE(LoadSettings());
  EXPECT_EQ(FileBytes().size(), 532);
}

// The power goes at each moment of a first start or a save in turn, each
// write it meets kept whole or half: the settings in the file before are
// always whole in one of its two records (a save over an existing file), a
// file being made is whole or not there, and what a start or save reported
// done is on the disk.
TEST_F(SettingsFileTest, APowerCutLeavesOneWholeRecord) {
  PowerCutFs disk;
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount the power-cut file system here: " << disk.Why();
  ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(disk.Root())));
  const SettingsRecord before = DefaultSettings();
  const struct {
    const char *what;
    QByteArray file;  // before the start or save; empty: none
    bool start;       // a first start rather than a save
  } cases[] = {
      {"first start: the defaults' file is made", QByteArray(), true},
      {"first save: the file is made", QByteArray(), false},
      {"save over one record", Image(before), false},
      {"save over two records", Image(before) + Image(Other()), false},
  };
  for (const auto &c : cases) {
    for (const bool torn : {false, true}) {
      for (int cut = 1;; ++cut) {
        SCOPED_TRACE(std::string(c.what) + (torn ? ", half a write kept" : "") + ", cut at change " +
                     std::to_string(cut));
        // What stood there before is on the disk, name and all.
        ::unlink(SettingsFileName);
        if (!c.file.isEmpty()) WriteFile(c.file);
        const int fd = ::open(SettingsFileName, O_RDONLY);
        if (fd >= 0) ::fsync(fd), ::close(fd);
        const int folder = ::open(".", O_RDONLY | O_DIRECTORY);
        ASSERT_EQ(::fsync(folder), 0);
        ::close(folder);

        disk.CutAtChange(cut, torn);
        Settings = before;
        PendingSettings = Other();
        ApplyPendingSettings();
        const bool done = c.start ? LoadSettings() : SaveSettings();
        const bool cutReached = disk.PowerOff();
        disk.PowerBack();
        const QByteArray after = FileBytes();
        const bool making = c.file.isEmpty();
        const QByteArray made = !making ? Image(Other()) + Image(before)
                                : c.start ? Image(DefaultSettings()) : Image(Other()) + Image(Other());
        EXPECT_TRUE(making ? after.isEmpty() || after == made
                           : after.left(532) == Image(before) || after.mid(532, 532) == Image(before))
            << (making ? "a file being made is whole or none"
                       : "the settings before the save in record 0 or, whole, in record 1");
        if (done) {
          EXPECT_EQ(after, made);
        }
        if (!cutReached) {
          EXPECT_TRUE(done);
          break;
        }
      }
    }
  }
  ASSERT_TRUE(QDir::setCurrent(Dir()));
}

TEST_F(SettingsFileTest, SaveFollowsTheCurrentDirectory) {
  EXPECT_TRUE(LoadSettings());
  QDir(Dir()).mkdir(QStringLiteral("elsewhere"));
  ASSERT_TRUE(QDir::setCurrent(Dir() + QStringLiteral("/elsewhere")));
  EXPECT_TRUE(SaveSettings());
  EXPECT_EQ(FileBytes().size(), 1064);
  EXPECT_EQ(QFileInfo(Dir() + QLatin1Char('/') + QLatin1String(SettingsFileName)).size(), 532);
}

}  // namespace
