// The sample-directory generator: same seed, same file; the requested
// number of address-list entries, readable by the directory layer; the
// awkward cases present even in a small file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/mapi/directory.h"
#include "platform/mapi/gal_directory.h"
#include "tools/gen-directory/generate_directory.h"

namespace corvane::gendir {
namespace {

std::string Generate(uint64_t entries, uint64_t seed) {
  std::ostringstream out;
  WriteDirectory(out, {entries, seed});
  return out.str();
}

TEST(GenerateDirectory, SameSeedSameFileOtherSeedOtherFile) {
  EXPECT_EQ(Generate(200, 5), Generate(200, 5));
  EXPECT_NE(Generate(200, 5), Generate(200, 6));
  // A larger file starts like the smaller one of the same seed.
  std::string small = Generate(50, 5), large = Generate(80, 5);
  EXPECT_EQ(large.compare(0, small.size() / 2, small, 0, small.size() / 2), 0);
}

TEST(GenerateDirectory, HoldsTheAwkwardCasesInASmallFile) {
  std::string text = Generate(25, 1);
  for (const char* needle : {"O'Brien", "D`Arcy", "SMTP:corvane.service@harbourline.example",
                             "msExchHideFromAddressLists", "msExchRecipientDisplayType: 0", "objectClass: contact",
                             "objectClass: group", "objectClass: publicFolder", "targetAddress"})
    EXPECT_NE(text.find(needle), std::string::npos) << needle;
}

TEST(GenerateDirectory, GroupsNameEachMemberOnceAndNoEntryCountIsRefused) {
  std::istringstream lines(Generate(1000, 1));
  std::vector<std::string> members;
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) {
      std::sort(members.begin(), members.end());
      EXPECT_EQ(std::adjacent_find(members.begin(), members.end()), members.end());
      members.clear();
    } else if (line.rfind("member: ", 0) == 0) {
      members.push_back(line);
    }
  }
  EXPECT_NE(CheckOptions({0, 1}).find("at least 1"), std::string::npos);  // entry 0 is the mailbox
  EXPECT_EQ(CheckOptions({1, 1}), "");
}

TEST(GenerateDirectory, AddressListHasTheRequestedSizeAndResolvesTheServiceMailbox) {
  char tmpl[] = "/tmp/corvane-gen-test-XXXXXX";
  int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  close(fd);
  for (uint64_t n : {1ull, 19ull, 20ull, 1234ull}) {
    {
      std::ofstream out(tmpl);
      WriteDirectory(out, {n, 9});
    }
    std::shared_ptr<mapi::GalDirectory> dir;
    ASSERT_EQ(mapi::GalDirectory::Open(tmpl, kServiceAccount, dir), S_OK) << n << ": " << MAPIGetLastErrorText();
    EXPECT_EQ(dir->count(), n);
    EXPECT_EQ(dir->mailbox_dn(), "CN=corvane.service,OU=Staff,DC=harbourline,DC=example");
  }
  std::remove(tmpl);
}

}  // namespace
}  // namespace corvane::gendir
