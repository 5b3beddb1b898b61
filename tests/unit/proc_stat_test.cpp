#include "platform/linux/procfs/proc_stat.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace tavren::procfs {
namespace {

TEST(ParseProcStat, ReadsTheFieldsAfterTheName) {
  const std::string text =
      "4242 (gtk3-widget-fac) S 17 4240 4240 0 -1 4194560 4012 0 0 0 31 7 0 0 20 0 4 0 "
      "123456789 812345344 9876 18446744073709551615 1 1 0 0 0 0 0 4096 17663 0 0 0 17 1 0 0\n";
  auto stat = parseProcStat(text);
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->pid, 4242);
  EXPECT_EQ(stat->comm, "gtk3-widget-fac");
  EXPECT_EQ(stat->state, 'S');
  EXPECT_EQ(stat->ppid, 17);
  EXPECT_EQ(stat->pgid, 4240);
  EXPECT_EQ(stat->cpuTicks, 38u);  // utime + stime, not the children's
  EXPECT_EQ(stat->startTicks, 123456789u);
  EXPECT_EQ(stat->residentPages, 9876u);
}

TEST(ParseProcStat, CountsFieldsFromTheLastParenthesis) {
  auto stat =
      parseProcStat("77 (my (odd) app ) R 1 77 77 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 555 0 0\n");
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->comm, "my (odd) app ");
  EXPECT_EQ(stat->state, 'R');
  EXPECT_EQ(stat->ppid, 1);
  EXPECT_EQ(stat->startTicks, 555u);
}

TEST(ParseProcStat, RejectsMalformedText) {
  EXPECT_FALSE(parseProcStat(""));
  EXPECT_FALSE(parseProcStat("12 comm S 1 2 3"));
  EXPECT_FALSE(parseProcStat("12 (comm) S 1 2 3 4"));  // cut before the start time
  EXPECT_FALSE(parseProcStat("12 (comm) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 x"));
  EXPECT_FALSE(parseProcStat("x1 (x) S 1 2 2 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5"));
  EXPECT_FALSE(parseProcStat("12 (x) SS 1 2 2 0 -1 0 0 0 0 0 0 0 0 0 20 0 1 0 5"));
}

TEST(ReadProcStat, ReadsThisProcessAndNothingForNoProcess) {
  auto self = readProcStat(getpid());
  ASSERT_TRUE(self);
  EXPECT_EQ(self->pid, getpid());
  EXPECT_EQ(self->ppid, getppid());
  EXPECT_EQ(self->state, 'R');
  EXPECT_FALSE(readProcStat(0));
  EXPECT_FALSE(readProcStat(-5));
}

}  // namespace
}  // namespace tavren::procfs
