// orvanne-cli disks on an sfdisk-made image: the listing matches what sfdisk wrote.
#include "fixtures/FixtureUtil.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

// Runs the command and returns its standard output and exit status.
std::string Capture(const std::string& strCommand, int& nStatus) {
    std::string strOutput;
    FILE* pPipe = popen(strCommand.c_str(), "r");
    char szLine[512];
    while (pPipe != nullptr && std::fgets(szLine, sizeof(szLine), pPipe) != nullptr)
        strOutput += szLine;
    nStatus = pPipe != nullptr ? WEXITSTATUS(pclose(pPipe)) : -1;
    return strOutput;
}

TEST(CliDisks, ListsTheImagePartitionsAsSfdiskWroteThem) {
    CTempDir dir;
    std::string strImage = dir.File("disk.img");
    ASSERT_TRUE(RunShell("truncate -s 64M " + strImage +
                         " && printf 'label: dos\\n2048,40960,c\\n"
                         "43008,8192,83\\n51200,,5\\n52224,4096,83\\n57344,,83\\n' | sfdisk -q " +
                         strImage));
    int nStatus = -1;
    std::string strOutput =
        Capture(std::string(ORVANNE_CLI_PATH) + " disks --image " + strImage, nStatus);
    EXPECT_EQ(nStatus, 0);
    size_t nDisk = strOutput.find("Physical Driver ");
    ASSERT_NE(nDisk, std::string::npos) << strOutput;
    EXPECT_NE(strOutput.find("Partition 1                  20.00 MB  2048  43007"),
              std::string::npos)
        << strOutput;
    EXPECT_NE(strOutput.find("Partition 2                   4.00 MB  43008  51199"),
              std::string::npos);
    EXPECT_NE(strOutput.find("Partition 3                   2.00 MB  52224  56319"),
              std::string::npos);
    EXPECT_NE(strOutput.find("Partition 4                  36.00 MB  57344  131071"),
              std::string::npos);
}

TEST(CliDisks, UnreadableImageIsAOneLineErrorWithStatusTwo) {
    int nStatus = -1;
    std::string strOutput =
        Capture(std::string(ORVANNE_CLI_PATH) + " disks --image /nonexistent.img 2>&1", nStatus);
    EXPECT_EQ(nStatus, 2);
    EXPECT_NE(strOutput.find("cannot read image /nonexistent.img"), std::string::npos);
    EXPECT_EQ(std::count(strOutput.begin(), strOutput.end(), '\n'), 1);
}

} // namespace
