#include "workload/default_device.h"
#include "workload/pci_gpus.h"
#include "workload/pci_names.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <glib.h>
#include <gmock/gmock.h>
#include <sys/stat.h>

namespace ventaro::gpu {
namespace {

namespace fs = std::filesystem;

fs::path fixture(const std::string& tree) {
  const char* sources = std::getenv("VENTARO_SOURCE_DIR");
  return fs::path(sources != nullptr ? sources : ".") / "tests/fixtures/sysfs" / tree /
         "sys/bus/pci/devices";
}

std::vector<std::string> addresses(const std::vector<PciIdentity>& gpus) {
  std::vector<std::string> found;
  for (const PciIdentity& gpu : gpus) {
    found.push_back(gpu.address);
  }
  return found;
}

// Display controllers of the GPU makers count; their audio functions, bridges, management
// and virtual display adapters do not.
TEST(PciGpus, CountsTheDisplayControllersOfGpuMakersInEachFixtureMachine) {
  const std::pair<const char*, std::vector<std::string>> machines[] = {
      {"pci-macpro-2013", {"0000:02:00.0", "0000:06:00.0"}},
      {"pci-macpro-tower", {"0000:02:00.0"}},
      {"pci-macbookpro", {"0000:00:02.0", "0000:01:00.0"}},
      {"pci-gpu-server", {"0000:17:00.0"}},
      {"pci-virtual-machine", {}},
  };
  for (const auto& [tree, expected] : machines) {
    EXPECT_EQ(addresses(pciGpus(fixture(tree))), expected) << tree;
  }
  EXPECT_EQ(pciGpus(fixture("pci-macpro-tower")).front(),
            (PciIdentity{"0000:02:00.0", 0x1002, 0x67df}));
  EXPECT_TRUE(pciGpus("/nonexistent").empty());
}

TEST(PciGpus, OnlyDisplayClassesOfAmdNvidiaAndIntelAreGpus) {
  const std::tuple<std::uint32_t, std::uint32_t, bool> cases[] = {
      {0x030000, 0x1002, true},  {0x030200, 0x10de, true},  {0x038000, 0x8086, true},
      {0x030001, 0x10de, true},  {0x030100, 0x10de, false}, {0x040300, 0x1002, false},
      {0x060000, 0x8086, false}, {0x030000, 0x1a03, false}, {0x030000, 0x102b, false},
      {0x030000, 0x1af4, false}, {0x030000, 0x1b36, false}, {0x030000, 0x15ad, false},
      {0x030000, 0x1234, false}, {0x030000, 0x1013, false}, {0x030000, 0x1414, false},
  };
  for (const auto& [classCode, vendor, gpu] : cases) {
    EXPECT_EQ(isGpu(classCode, vendor), gpu) << std::hex << classCode << " " << vendor;
  }
}

// Planted files: a FIFO is never waited on, a link is not followed, a huge or malformed
// value does not count.
TEST(PciGpus, FilesThatAreNotPlainSmallNumbersDoNotCount) {
  const fs::path root = fs::temp_directory_path() / ("ventaro-pci-" + std::to_string(getpid()));
  fs::remove_all(root);
  const auto device = [&](const std::string& address, const std::string& klass) {
    fs::create_directories(root / address);
    std::ofstream(root / address / "class") << klass;
    std::ofstream(root / address / "vendor") << "0x1002\n";
    std::ofstream(root / address / "device") << "0x67df\n";
  };
  device("0000:01:00.0", "0x030000\n"); // the one that counts
  device("0000:02:00.0", "0x03000g\n");
  device("0000:03:00.0", "030000\n");
  device("0000:04:00.0", std::string(8192, '0'));
  fs::create_directories(root / "0000:05:00.0");
  ASSERT_EQ(mkfifo((root / "0000:05:00.0" / "class").c_str(), 0600), 0);
  std::ofstream(root / "0000:05:00.0" / "vendor") << "0x1002\n";
  fs::create_directories(root / "0000:06:00.0");
  fs::create_symlink(root / "0000:01:00.0" / "class", root / "0000:06:00.0" / "class");
  std::ofstream(root / "0000:06:00.0" / "vendor") << "0x1002\n";
  EXPECT_EQ(addresses(pciGpus(root.string())), std::vector<std::string>{"0000:01:00.0"});
  fs::remove_all(root);
}

TEST(PciNames, NamesVendorAndDeviceFromTheDatabase) {
  const std::string database = "# comment\n"
                               "1002  Advanced Micro Devices, Inc. [AMD/ATI]\n"
                               "\t6798  Tahiti XT [Radeon HD 7970/8970 OEM / R9 280X]\n"
                               "\t\t106b 0128  FirePro D700\n"
                               "\t67df  Ellesmere [Radeon RX 470/480/570/570X/580/580X/590]\n"
                               "10de  NVIDIA\x1b[2J Corporation\n"
                               "\t2330  GH100 [H100 SXM5 80GB]\n"
                               "C 03  Display controller\n"
                               "\t00  VGA compatible controller\n";
  EXPECT_EQ(pciName(database, 0x1002, 0x67df),
            "Advanced Micro Devices, Inc. [AMD/ATI] Ellesmere [Radeon RX 470/480/570/570X/580/"
            "580X/590]");
  EXPECT_EQ(pciName(database, 0x10de, 0x2330), "NVIDIA [2J Corporation GH100 [H100 SXM5 80GB]")
      << "control characters blanked";
  EXPECT_EQ(pciName(database, 0x1002, 0x0128), "Advanced Micro Devices, Inc. [AMD/ATI]")
      << "a subsystem line is no device";
  EXPECT_EQ(pciName(database, 0x8086, 0x3e9b), "");
  EXPECT_EQ(pciName("", 0x1002, 0x67df), "");
  EXPECT_EQ(pciNameFromFile("/nonexistent", 0x1002, 0x67df), "");
  if (fs::exists(kPciIdsPath)) {
    EXPECT_NE(pciNameFromFile(kPciIdsPath, 0x1002, 0x67df).find("Ellesmere"), std::string::npos);
  }
}

// A folder name on the PCI bus and a database entry are anyone's bytes: the note that names a
// GPU no backend drives shows them as display text, on one line.
TEST(PciNames, AreShownAsDisplayTextInTheNoteOfAGpuNoBackendDrives) {
  const std::string database = "1002  AMD\x07\x1b]0;title\x07 \xc2\x9b"
                               "31m\xff\xfe Inc\n"
                               "\t67df  Ellesmere\n";
  const std::string name = pciName(database, 0x1002, 0x67df);
  EXPECT_EQ(name, "AMD  ]0;title   31m\xef\xbf\xbd\xef\xbf\xbd Inc Ellesmere")
      << "ESC, BEL and C1 blanked, invalid bytes U+FFFD";

  const PciIdentity hostile{"0000:02:00.0\n\x1b[2Jventaro: forged\xc2\x9b", 0x1002, 0x67df};
  const DeviceChoice choice =
      chooseDefaultDevice(std::vector<PciIdentity>{hostile}, {}, [](const PciIdentity&) {
        return std::string("Radeon\nRX\x1b[31m \xff");
      });
  EXPECT_EQ(choice.device, nullptr);
  EXPECT_EQ(choice.note.find_first_of("\n\x1b\x07"), std::string::npos) << choice.note;
  EXPECT_THAT(choice.note,
              ::testing::HasSubstr("the GPU 0000:02:00.0  [2Jventaro: forged  "
                                   "[1002:67df] Radeon RX [31m \xef\xbf\xbd cannot be driven"));
  EXPECT_TRUE(
      g_utf8_validate(choice.note.data(), static_cast<gssize>(choice.note.size()), nullptr));
}

} // namespace
} // namespace ventaro::gpu
