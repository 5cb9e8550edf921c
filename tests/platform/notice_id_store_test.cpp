#include "platform/notice_id_store.h"
#include "tests/support/notification_bus.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace ventaro {
namespace {

const std::string kGuid = "0123456789abcdef0123456789abcdef";

class NoticeIdStoreTest : public ::testing::Test {
protected:
  testing::TemporaryDirectory temp;
  NoticeIdStore store{temp.path() / "runtime" / "ventaro"};
};

// Nothing is written outside the store's own directory, whatever the identifier.
TEST_F(NoticeIdStoreTest, KeepsEachIdentifierApartInItsOwnPrivateFile) {
  const std::string identifiers[] = {"Ventaro Start",
                                     "",
                                     ".",
                                     "..",
                                     "../escape",
                                     "a/b",
                                     "a%2Fb",
                                     "Ventaro\nStart",
                                     std::string("nul\0byte", 8),
                                     "Grüße",
                                     std::string(300, 'x'),
                                     std::string(301, 'x')};
  for (std::uint32_t i = 0; i < std::size(identifiers); ++i) {
    EXPECT_EQ(store.fileFor(identifiers[i], kGuid).parent_path(), store.directory()) << i;
    store.save(identifiers[i], SavedNotice{i + 1, kGuid, ":1.7"});
  }
  // Each reads back its own id: no two share a file.
  for (std::uint32_t i = 0; i < std::size(identifiers); ++i) {
    EXPECT_EQ(store.load(identifiers[i], kGuid), (SavedNotice{i + 1, kGuid, ":1.7"})) << i;
  }
  std::size_t written = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(temp.path())) {
    written += entry.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(written, std::size(identifiers));
  struct stat info {};
  ASSERT_EQ(stat(store.directory().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(store.fileFor("Ventaro Start", kGuid).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(NoticeIdStoreTest, IgnoresContentsItDidNotWrite) {
  const std::string bus = "Bus=" + kGuid + "\n";
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"binary", std::string("\x00\xff\xfe", 3)},
      {"no group", "Id=1\n" + bus + "Server=:1.7\n"},
      {"id zero", "[Notice]\nId=0\n" + bus + "Server=:1.7\n"},
      {"id negative", "[Notice]\nId=-1\n" + bus + "Server=:1.7\n"},
      {"id too large", "[Notice]\nId=4294967296\n" + bus + "Server=:1.7\n"},
      {"id with trailing text", "[Notice]\nId=7x\n" + bus + "Server=:1.7\n"},
      {"well-known server name", "[Notice]\nId=7\n" + bus + "Server=org.example.Notify\n"},
      {"missing server", "[Notice]\nId=7\n" + bus},
      {"bus not a guid", "[Notice]\nId=7\nBus=xyz\nServer=:1.7\n"},
      {"missing bus", "[Notice]\nId=7\nServer=:1.7\n"},
      {"another bus", "[Notice]\nId=7\nBus=" + std::string(32, 'f') + "\nServer=:1.7\n"},
      {"well formed", "[Notice]\nId=7\n" + bus + "Server=:1.7\n"},
  };
  std::filesystem::create_directories(store.directory());
  for (const auto& [name, contents] : cases) {
    std::ofstream(store.fileFor("Ventaro Start", kGuid)) << contents;
    EXPECT_EQ(store.load("Ventaro Start", kGuid).has_value(), name == std::string("well formed"))
        << name;
  }
  EXPECT_EQ(store.load("Ventaro Start", kGuid), (SavedNotice{7, kGuid, ":1.7"}));
}

} // namespace
} // namespace ventaro
