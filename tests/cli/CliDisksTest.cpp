// orvanne-cli disks on an sfdisk-made image: the listing's lines (the positions themselves are
// PartitionManagerTest's), and an unreadable image.
#include "fixtures/FixtureUtil.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

TEST(CliDisks, ListsTheImagePartitionsAndRefusesAnUnreadableImage) {
    CTempDir dir;
    std::string strImage = dir.File("disk.img");
    ASSERT_TRUE(RunShell("truncate -s 64M " + strImage +
                         " && printf 'label: dos\\n2048,40960,c\\n"
                         "43008,8192,83\\n51200,,5\\n52224,4096,83\\n57344,,83\\n' | sfdisk -q " +
                         strImage));
    CLI_RUN run = RunCli("disks --image " + strImage);
    EXPECT_EQ(run.nStatus, 0) << run.strErr;
    EXPECT_NE(run.strOut.find("Physical Driver "), std::string::npos) << run.strOut;
    // Partition numbers run on across disks, so a loop device set up by a parallel test may
    // shift them: the sizes and ranges are what belong to this image.
    EXPECT_NE(run.strOut.find("20.00 MB  2048  43007"), std::string::npos) << run.strOut;
    EXPECT_NE(run.strOut.find("36.00 MB  57344  131071"), std::string::npos);

    run = RunCli("disks --image /nonexistent.img");
    EXPECT_EQ(run.nStatus, 2);
    EXPECT_TRUE(run.strOut.empty()) << run.strOut;
    EXPECT_NE(run.strErr.find("cannot read image /nonexistent.img"), std::string::npos);
    EXPECT_EQ(std::count(run.strErr.begin(), run.strErr.end(), '\n'), 1);
}

} // namespace
