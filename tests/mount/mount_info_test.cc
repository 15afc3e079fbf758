// Finding a FUSE mount's device in the kernel's table of mounts, by mount
// point and type, as kestrum-mount does right after mounting.
#include "mount/mount_info.h"

#include <gtest/gtest.h>

namespace kestrum {
namespace {

// Lines as /proc/self/mountinfo has them: optional fields (none, one or two)
// before the "-", blanks and backslashes in mount points escaped in octal.
constexpr const char* kTable =
    "22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
    "40 22 0:35 / /mnt/game rw,nosuid - fuse.kestrum kestrum ro,user_id=0\n"
    "41 22 0:36 / /mnt/other rw shared:7 master:2 - fuse.squashfuse s.sqfs ro\n"
    "42 22 0:37 / /mnt/my\\040game\\134x rw - fuse.kestrum kestrum ro\n"
    "43 40 0:38 / /mnt/game ro - fuse.kestrum kestrum ro\n"
    "44 22 0:39 /sub /mnt/bound rw - fuse.kestrum kestrum ro";  // no line end

TEST(MountDeviceOf, FindsTheTopmostMountOfTheTypeAtThePoint) {
  // Two kestrum mounts at one point: the later line is the one on top.
  EXPECT_EQ(MountDeviceOf(kTable, "/mnt/game", "fuse.kestrum"), "0:38");
  EXPECT_EQ(MountDeviceOf(kTable, "/mnt/other", "fuse.squashfuse"), "0:36");
  EXPECT_EQ(MountDeviceOf(kTable, "/mnt/my game\\x", "fuse.kestrum"), "0:37");
  EXPECT_EQ(MountDeviceOf(kTable, "/mnt/bound", "fuse.kestrum"), "0:39");
}

TEST(MountDeviceOf, IsEmptyWhereNoMountMatchesBothPointAndType) {
  EXPECT_EQ(MountDeviceOf(kTable, "/mnt/other", "fuse.kestrum"), "");
  EXPECT_EQ(MountDeviceOf(kTable, "/mnt/my\\040game\\134x", "fuse.kestrum"), "");  // compared unescaped
  EXPECT_EQ(MountDeviceOf(kTable, "/mnt", "fuse.kestrum"), "");
  EXPECT_EQ(MountDeviceOf(kTable, "/mnt/game/", "fuse.kestrum"), "");
  // Damaged lines: too few fields, no "-", nothing after it.
  EXPECT_EQ(MountDeviceOf("1 2 0:9 / /m\n1 2 0:9 / /m rw fuse.kestrum\n1 2 0:9 / /m rw -\n\n", "/m", "fuse.kestrum"),
            "");
  EXPECT_EQ(MountDeviceOf("", "/", "ext4"), "");
}

}  // namespace
}  // namespace kestrum
