#include "app/activity_log.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>

#include "tests/test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace dozerin {
namespace {

using testing::FileExists;
using testing::ReadFileBytes;
using testing::ScratchDir;

constexpr std::int64_t k20240105_080307Utc = 1704441787;

class ActivityLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Time stamps are local time; the tests fix the zone to UTC.
#ifdef _WIN32
    _putenv_s("TZ", "UTC0");
    _tzset();
#else
    setenv("TZ", "UTC0", 1);
    tzset();
#endif
    log_.Configure(dir_.File("dozerin.log"), true);
    log_.SetClockForTesting([this] { return now_; });
  }

  ScratchDir dir_;
  ActivityLog log_;
  std::int64_t now_ = k20240105_080307Utc;
};

TEST_F(ActivityLogTest, EntryIsTimeStampSeparatorAndMessageUnchanged) {
  ASSERT_EQ(log_.Write("Start WorkThread!!\n"), FileError::kNone);
  EXPECT_EQ(ReadFileBytes(log_.path()), "2024/01/05 08:03:07 - Start WorkThread!!\n");
}

TEST_F(ActivityLogTest, AppendsAfterWhateverTheFileHolds) {
  testing::WriteFileBytes(log_.path(), std::string("old\r\nno final newline\0x", 24));
  ASSERT_EQ(log_.Write("Set STATE_BUSY\n"), FileError::kNone);
  now_ += 1;
  ASSERT_EQ(log_.Write("Set ES_SYSTEM_REQUIRED\n"), FileError::kNone);
  ASSERT_EQ(log_.Write("Set ES_DISPLAY_REQUIRED\n"), FileError::kNone);
  EXPECT_EQ(ReadFileBytes(log_.path()), std::string("old\r\nno final newline\0x", 24) +
                                            "2024/01/05 08:03:07 - Set STATE_BUSY\n"
                                            "2024/01/05 08:03:08 - Set ES_SYSTEM_REQUIRED\n"
                                            "2024/01/05 08:03:08 - Set ES_DISPLAY_REQUIRED\n");
}

TEST_F(ActivityLogTest, AFullLogBecomesTheOlderOneAndANewOneBegins) {
  // Entries of 38 bytes ("2024/01/05 08:03:07 - " and a 16-byte message) under a limit of 100:
  // two fit, the third begins a new file; the older log is replaced the next time round.
  log_.SetMaxBytesForTesting(100, 100);
  const std::string older = dir_.File("dozerin.log.1");
  const std::string line = "2024/01/05 08:03:07 - Event KIND_CPU\n\n";
  struct Step {
    std::string log, old;
  } steps[] = {
      {line, ""},          {line + line, ""}, {line, line + line}, {line + line, line + line},
      {line, line + line},
  };
  for (const Step& step : steps) {
    ASSERT_EQ(log_.Write("Event KIND_CPU\n\n"), FileError::kNone);
    EXPECT_EQ(ReadFileBytes(log_.path()), step.log);
    EXPECT_EQ(FileExists(older) ? ReadFileBytes(older) : "", step.old);
  }
  // An entry larger than the limit still goes into a file of its own.
  ASSERT_EQ(log_.Write(std::string(200, 'x')), FileError::kNone);
  EXPECT_EQ(ReadFileBytes(log_.path()).size(), 222u);
}

TEST_F(ActivityLogTest, AFailedRotationFailsNoEntryAndIsTriedAgainLater) {
  // The older log's name is taken by a folder: the rename fails until that goes.
  log_.SetMaxBytesForTesting(100, 50);
  const std::string older = dir_.File("dozerin.log.1");
  std::filesystem::create_directory(older);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(log_.Write("Event KIND_CPU\n\n"), FileError::kNone);
  EXPECT_EQ(ReadFileBytes(log_.path()).size(), 3 * 38u);  // failed at 114; next try past 150
  std::filesystem::remove(older);
  ASSERT_EQ(log_.Write("Event KIND_CPU\n\n"), FileError::kNone);
  EXPECT_EQ(ReadFileBytes(log_.path()).size(), 38u);
  EXPECT_EQ(ReadFileBytes(older).size(), 3 * 38u);
}

TEST_F(ActivityLogTest, DeletedLogIsCreatedAgainByTheNextEntry) {
  ASSERT_EQ(log_.Write("Event KIND_CPU\n"), FileError::kNone);
  testing::RemoveFile(log_.path());
  ASSERT_EQ(log_.Write("Event KIND_MOUSE\n"), FileError::kNone);
  EXPECT_EQ(ReadFileBytes(log_.path()), "2024/01/05 08:03:07 - Event KIND_MOUSE\n");
}

TEST_F(ActivityLogTest, LoggingOffNeitherOpensNorAsksTheTime) {
  bool asked = false;
  log_.Configure(log_.path(), false);
  log_.SetClockForTesting([&] {
    asked = true;
    return now_;
  });
  EXPECT_EQ(log_.Write("Set STATE_MARGIN\n"), FileError::kNone);
  EXPECT_FALSE(asked);
  EXPECT_FALSE(FileExists(log_.path()));
}

TEST_F(ActivityLogTest, TimeThatCannotBeConvertedIsWrittenAsInvalidDateTime) {
  now_ = std::numeric_limits<std::int64_t>::max();
  ASSERT_EQ(log_.Write("Finish WorkThread!!\n"), FileError::kNone);
  EXPECT_EQ(ReadFileBytes(log_.path()), "Invalid DateTime - Finish WorkThread!!\n");
  EXPECT_EQ(ActivityLog::FormatTimestamp(-1000000000000000LL), "Invalid DateTime");
  EXPECT_EQ(ActivityLog::FormatTimestamp(0), "1970/01/01 00:00:00");
}

TEST_F(ActivityLogTest, FailuresAreReportedWithTheirCause) {
  ActivityLog missing_folder;
  missing_folder.Configure(dir_.File("no-such-folder") + "/x.log", true);
  EXPECT_EQ(missing_folder.Write("x\n"), FileError::kBadPath);

  ActivityLog folder_as_file;
  folder_as_file.Configure(dir_.path(), true);
  EXPECT_NE(folder_as_file.Write("x\n"), FileError::kNone);
}

TEST_F(ActivityLogTest, AnotherWriterHoldingTheFileIsASharingViolation) {
#ifdef _WIN32
  HANDLE other = CreateFileA(log_.path().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  EXPECT_EQ(log_.Write("x\n"), FileError::kSharingViolation);
  CloseHandle(other);
#else
  const int other = open(log_.path().c_str(), O_WRONLY | O_CREAT, 0666);
  ASSERT_GE(other, 0);
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  EXPECT_EQ(log_.Write("x\n"), FileError::kSharingViolation);
  close(other);
#endif
  // Readers are not kept out, and the next entry tries again.
  EXPECT_EQ(log_.Write("y\n"), FileError::kNone);
  EXPECT_EQ(ReadFileBytes(log_.path()), "2024/01/05 08:03:07 - y\n");
}

}  // namespace
}  // namespace dozerin
