// Finding a Windows volume's folders and hives from Linux, and reading a
// service's program from its offline ImagePath.
#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include "rescue/disks/disk_format.h"
#include "rescue/disks/machine_disks.h"
#include "rescue/volume/offline_scan.h"
#include "rescue/volume/tree_reader.h"
#include "rescue/volume/volume.h"
#include "tests/support/test_volume.h"

namespace {

std::vector<std::string> Windows(const std::vector<VolumePath>& paths) {
  std::vector<std::string> names;
  for (const VolumePath& p : paths) names.push_back(p.windows);
  return names;
}

TEST(RescueVolume, FindsTheXpLayoutWhateverTheCaseOfItsNames) {
  TestVolume volume("discover-xp");
  BuildInfectedXp(volume);
  volume.MakeFolder("Program Files Old");
  WindowsVolume found;
  std::string error;
  ASSERT_TRUE(DiscoverVolume(volume.Root(), found, error)) << error;
  EXPECT_EQ("C:\\WinDows", found.windowsDirectory.windows);
  EXPECT_EQ(volume.Path("WinDows"), found.windowsDirectory.host);
  // Both temporary folders lie in trees walked before them.
  EXPECT_EQ((std::vector<std::string>{"C:\\WinDows", "C:\\documents and settings", "C:\\PROGRAM FILES"}),
            Windows(found.scanTargets));
  EXPECT_EQ(RegistryKind::Nt, found.registry);
  EXPECT_EQ(volume.Path(xp::kSoftware), found.softwareHive);
  EXPECT_EQ(volume.Path(xp::kSystem), found.systemHive);
  EXPECT_EQ(volume.Path(xp::kDefault), found.defaultHive);
  ASSERT_EQ(2u, found.profiles.size());
  EXPECT_EQ("Alice", found.profiles[0].name);
  EXPECT_EQ(volume.Path(xp::kAlice), found.profiles[0].host);
  EXPECT_EQ("Bob", found.profiles[1].name);
}

// A localized Windows: its own folders, as its registry names them, take
// the English ones' places; the English ones that exist are walked after.
TEST(RescueVolume, SystemFoldersOfALocalizedWindows) {
  struct Case {
    const char* name;
    SystemFolderNames system;
    std::vector<std::string> targets;
    std::vector<std::string> profiles;
  };
  const Case cases[] = {
      {"German", {"C:\\Dokumente und Einstellungen", "C:\\Programme"},
       {"C:\\WINDOWS", "C:\\DOKUMENTE UND EINSTELLUNGEN", "C:\\Documents and Settings", "C:\\programme",
        "C:\\Program Files"},
       {"Hans", "Old"}},
      {"English names", {"C:\\Documents and Settings", "C:\\Program Files"},
       {"C:\\WINDOWS", "C:\\Documents and Settings", "C:\\Program Files"}, {"Old"}},
      {"not on the volume", {"C:\\Documentos", "C:\\Programmi"},
       {"C:\\WINDOWS", "C:\\Documents and Settings", "C:\\Program Files"}, {"Old"}},
      {"no values", {}, {"C:\\WINDOWS", "C:\\Documents and Settings", "C:\\Program Files"}, {"Old"}},
      // Each tree once: a registry folder inside, around or equal to one
      // walked anyway is not walked again.
      {"profiles in the Windows directory (an NT 4.0 upgrade)", {"C:\\WINDOWS\\Profiles", ""},
       {"C:\\WINDOWS", "C:\\Documents and Settings", "C:\\Program Files"}, {"Nt4", "Old"}},
      {"profiles inside the English folder", {"C:\\Documents and Settings\\Profiles", ""},
       {"C:\\WINDOWS", "C:\\Documents and Settings", "C:\\Program Files"}, {"Inner", "Old"}},
      {"programs around the system's profiles", {"C:\\Daten\\Profile", "C:\\Daten"},
       {"C:\\WINDOWS", "C:\\Daten\\Profile", "C:\\Documents and Settings", "C:\\Program Files"}, {"Old"}},
      {"a link along the path", {"", "C:\\J\\Programme"},
       {"C:\\WINDOWS", "C:\\Documents and Settings", "C:\\Program Files"}, {"Old"}},
  };
  TestVolume volume("discover-localized");
  volume.WriteFile("WINDOWS/system32/config/SOFTWARE", "hive");
  volume.WriteFile("DOKUMENTE UND EINSTELLUNGEN/Hans/NTUSER.DAT", "hive");
  volume.WriteFile("Documents and Settings/Old/NTUSER.DAT", "hive");
  volume.MakeFolder("programme/App");
  volume.MakeFolder("Program Files/App");
  volume.WriteFile("WINDOWS/Profiles/Nt4/NTUSER.DAT", "hive");
  volume.WriteFile("Documents and Settings/Profiles/Inner/NTUSER.DAT", "hive");
  volume.MakeFolder("Daten/Profile");
  volume.MakeFolder("elsewhere/Programme");
  volume.Link("J", "elsewhere");
  for (const Case& c : cases) {
    WindowsVolume found;
    std::string error;
    ASSERT_TRUE(DiscoverVolume(volume.Root(), found, error, c.system)) << error;
    EXPECT_EQ(c.targets, Windows(found.scanTargets)) << c.name;
    std::vector<std::string> profiles;
    for (const ProfileHive& profile : found.profiles) profiles.push_back(profile.name);
    EXPECT_EQ(c.profiles, profiles) << c.name;
  }
}

TEST(RescueVolume, LocalizedWindows98ProgramFilesAreWalked) {
  TestVolume volume("discover-98-localized");
  volume.WriteFile("WINDOWS/SYSTEM.DAT", "CREG");
  volume.MakeFolder("Programme/Zubehoer");
  volume.MakeFolder("ARCHIVOS DE PROGRAMA");
  volume.MakeFolder("Programs");  // no Windows names its folder so
  WindowsVolume found;
  std::string error;
  ASSERT_TRUE(DiscoverVolume(volume.Root(), found, error)) << error;
  EXPECT_EQ((std::vector<std::string>{"C:\\WINDOWS", "C:\\Programme", "C:\\ARCHIVOS DE PROGRAMA"}),
            Windows(found.scanTargets));
}

TEST(RescueVolume, NewerWindowsAndItsJunctions) {
  TestVolume volume("discover-vista");
  volume.WriteFile("Windows/System32/config/SOFTWARE", "hive");
  volume.WriteFile("Users/carol/NTUSER.DAT", "hive");
  volume.WriteFile("Users/Default/NTUSER.DAT", "hive");
  volume.MakeFolder("Users/carol/AppData/Local/Temp");
  volume.MakeFolder("Users/Public");  // no hive: not a profile
  volume.WriteFile("users/carol/ntuser.dat", "a second spelling on a case-sensitive mount");
  volume.Link("Documents and Settings", "Users");
  volume.Link("Program Files", "/usr");  // a link out of the volume
  volume.MakeFolder("TEMP");              // not a temporary folder of Windows
  WindowsVolume found;
  std::string error;
  ASSERT_TRUE(DiscoverVolume(volume.Root(), found, error)) << error;
  EXPECT_EQ((std::vector<std::string>{"C:\\Windows", "C:\\Users", "C:\\users"}), Windows(found.scanTargets));
  EXPECT_EQ("", found.systemHive);
  EXPECT_EQ("", found.defaultHive);
  ASSERT_EQ(2u, found.profiles.size());
  EXPECT_EQ("Default", found.profiles[0].name);
  EXPECT_EQ("carol", found.profiles[1].name);
  EXPECT_EQ(volume.Path("Users/carol/NTUSER.DAT"), found.profiles[1].host);
}

TEST(RescueVolume, WindowsDirectoryChoiceAndFamilies) {
  {
    // WINNT holds the registry, an empty WINDOWS does not.
    TestVolume volume("discover-winnt");
    volume.MakeFolder("WINDOWS");
    volume.WriteFile("WINNT/system32/CONFIG/software", "hive");
    volume.MakeFolder("winnt/temp");
    WindowsVolume found;
    std::string error;
    ASSERT_TRUE(DiscoverVolume(volume.Root(), found, error));
    EXPECT_EQ("C:\\WINNT", found.windowsDirectory.windows);
    EXPECT_EQ(RegistryKind::Nt, found.registry);
  }
  {
    TestVolume volume("discover-98");
    volume.WriteFile("WINDOWS/USER.DAT", "CREG");
    volume.MakeFolder("WINDOWS/TEMP");
    volume.MakeFolder("My Documents");
    WindowsVolume found;
    std::string error;
    ASSERT_TRUE(DiscoverVolume(volume.Root(), found, error));
    EXPECT_EQ(RegistryKind::Windows9x, found.registry);
    EXPECT_EQ((std::vector<std::string>{"C:\\WINDOWS"}), Windows(found.scanTargets));
  }
  {
    TestVolume volume("discover-none");
    volume.WriteFile("Windows", "a file, not a folder");
    volume.Link("WINNT", "/");
    WindowsVolume found;
    std::string error;
    EXPECT_FALSE(DiscoverVolume(volume.Root(), found, error));
    EXPECT_NE(std::string::npos, error.find("no Windows directory")) << error;
  }
  {
    // A case-sensitive mount can show two spellings; Windows shows one.
    TestVolume volume("discover-spellings");
    volume.WriteFile("windows/SYSTEM.DAT", "CREG");
    volume.MakeFolder("WINDOWS/hidden");
    volume.MakeFolder("Program Files");
    volume.MakeFolder("program files");
    WindowsVolume found;
    std::string error;
    ASSERT_TRUE(DiscoverVolume(volume.Root(), found, error));
    EXPECT_EQ("C:\\windows", found.windowsDirectory.windows) << "the one with the registry";
    EXPECT_EQ((std::vector<std::string>{"C:\\windows", "C:\\WINDOWS", "C:\\Program Files", "C:\\program files"}),
              Windows(found.scanTargets));
  }
  {
    TestVolume volume("discover-bare");
    volume.MakeFolder("windows/system32");
    WindowsVolume found;
    std::string error;
    ASSERT_TRUE(DiscoverVolume(volume.Root(), found, error));
    EXPECT_EQ(RegistryKind::Missing, found.registry);
  }
}

TEST(RescueServices, ImagePathsAsTheRunningSystemReadsThem) {
  const std::string windows = "C:\\WINDOWS";
  const struct {
    const char* image;
    const char* program;
  } cases[] = {
      {"C:\\WINDOWS\\system32\\worm.exe", "C:\\WINDOWS\\system32\\worm.exe"},
      {"%SystemRoot%\\system32\\worm.exe", "C:\\WINDOWS\\system32\\worm.exe"},
      {"%SYSTEMROOT%\\system32\\worm.exe -s", "C:\\WINDOWS\\system32\\worm.exe -s"},
      {"%windir%\\worm.exe", "C:\\WINDOWS\\worm.exe"},
      {"\\SystemRoot\\System32\\drivers\\x.sys", "C:\\WINDOWS\\System32\\drivers\\x.sys"},
      {"\\??\\C:\\Temp\\worm.exe", "C:\\Temp\\worm.exe"},
      {"system32\\worm.exe", "C:\\WINDOWS\\system32\\worm.exe"},
      {"\"%SystemRoot%\\my programs\\worm.exe\" /run", "\"C:\\WINDOWS\\my programs\\worm.exe\" /run"},
      {"\"C:\\Program Files\\App\\svc.exe\"", "\"C:\\Program Files\\App\\svc.exe\""},
      {"%ProgramFiles%\\App\\svc.exe", "%ProgramFiles%\\App\\svc.exe"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(c.program, ResolveImagePath(c.image, windows)) << c.image;
}

// --all: a machine's disks as /sys/block, the mount table and /dev show
// them, here written out in a test folder.
TEST(UnusedWindowsDisks, OnlyDisksNothingUsesWithAWindowsFileSystem) {
  TestVolume machine("machine-disks");
  std::string ntfs(512, '\0'), fat32(512, '\0'), ext4(512, '\0'), bitlocker(512, '\0');
  ntfs.replace(3, 8, "NTFS    ");
  bitlocker.replace(3, 8, "-FVE-FS-");
  fat32.replace(82, 8, "FAT32   ");
  const auto disk = [&](const std::string& name, const std::string& number, const std::string& bootSector) {
    machine.WriteFile("sys/block/" + name + "/dev", number + "\n");
    machine.MakeFolder("sys/block/" + name + "/holders");
    machine.WriteFile("dev/" + name, bootSector);
  };
  const auto partition = [&](const std::string& diskName, const std::string& name, const std::string& number,
                             const std::string& bootSector) {
    machine.WriteFile("sys/block/" + diskName + "/" + name + "/dev", number + "\n");
    machine.WriteFile("sys/block/" + diskName + "/" + name + "/partition", "1\n");
    machine.MakeFolder("sys/block/" + diskName + "/" + name + "/holders");
    machine.WriteFile("dev/" + name, bootSector);
  };
  disk("sda", "8:0", std::string(512, '\0'));  // Windows on its second partition
  partition("sda", "sda1", "8:1", ext4);
  partition("sda", "sda2", "8:2", ntfs);
  disk("sdb", "8:16", std::string(512, '\0'));  // a partition of it is mounted
  partition("sdb", "sdb1", "8:17", ntfs);
  disk("sdc", "8:32", fat32);                   // a FAT32 file system on the whole disk
  disk("sdd", "8:48", ext4);                    // nothing Windows starts from
  disk("sde", "8:64", std::string(512, '\0'));  // held by a device-mapper device
  partition("sde", "sde1", "8:65", ntfs);
  machine.WriteFile("sys/block/sde/sde1/holders/dm-0", "");
  disk("sdf", "8:80", std::string(512, '\0'));  // used as swap
  partition("sdf", "sdf1", "8:81", ntfs);
  disk("sdg", "8:96", std::string(512, '\0'));  // btrfs shows a number of its own in the mount table
  partition("sdg", "sdg1", "8:97", ntfs);
  partition("sdg", "sdg2", "8:98", ext4);
  disk("sdh", "8:112", std::string(512, '\0'));  // a PC's disk: its EFI partition, Windows, BitLocker
  partition("sdh", "sdh1", "8:113", fat32);
  partition("sdh", "sdh2", "8:114", ntfs);
  partition("sdh", "sdh3", "8:115", bitlocker);
  disk("sdi", "8:128", std::string(512, '\0'));  // the stick booted from: its image mounted, its FAT32 beside
  partition("sdi", "sdi1", "8:129", std::string(512, '\0'));
  partition("sdi", "sdi2", "8:130", fat32);
  disk("loop0", "7:0", ntfs);                   // loop, RAM and optical devices are not disks
  disk("sr0", "11:0", ntfs);
  machine.WriteFile("mountinfo",
                    "22 27 0:21 / /proc rw - proc proc rw\n31 1 8:17 / /data rw - ntfs3 /dev/sdb1 rw\n"
                    "40 1 0:40 / / rw,relatime - btrfs /dev/sdg2 rw\n"
                    "41 1 8:129 / /run/live/medium ro - iso9660 /dev/sdi1 ro\n");
  machine.WriteFile("swaps", "Filename\tType\tSize\tUsed\tPriority\n/dev/sdf1 partition 1 0 -2\n");

  MachinePaths paths;
  paths.sysBlock = machine.Path("sys/block");
  paths.mountInfo = machine.Path("mountinfo");
  paths.swaps = machine.Path("swaps");
  paths.dev = machine.Path("dev");
  EXPECT_EQ((std::vector<std::string>{paths.dev + "/sda", paths.dev + "/sdc", paths.dev + "/sdh"}),
            UnusedWindowsDisks(paths));
  // A stick's system mounts the volumes itself: the partitions of those
  // disks, or the disk where it has none, with what each holds.
  std::vector<std::string> volumes;
  for (const MachineVolume& volume : UnusedWindowsVolumes(paths)) {
    volumes.push_back(volume.device.substr(paths.dev.size() + 1) + " " + VolumeKindName(volume.kind));
  }
  EXPECT_EQ((std::vector<std::string>{"sda2 ntfs", "sdc fat32", "sdh1 fat32", "sdh2 ntfs", "sdh3 bitlocker"}), volumes);
}

// The readers a volume gets from its disk, the machine written out as above.
TEST(ReadersForDevice, FewOnlyOnARealRotatingDisk) {
  TestVolume machine("machine-readers");
  const auto disk = [&](const std::string& name, const std::string& number, const char* rotational,
                        const char* vendor) {
    machine.WriteFile("sys/block/" + name + "/dev", number + "\n");
    machine.WriteFile("sys/block/" + name + "/queue/rotational", std::string(rotational) + "\n");
    if (vendor != nullptr) machine.WriteFile("sys/block/" + name + "/device/vendor", std::string(vendor) + "\n");
  };
  disk("sda", "8:0", "1", "ATA     ");
  machine.WriteFile("sys/block/sda/sda2/dev", "8:2\n");
  disk("sdb", "8:16", "0", "ATA     ");
  disk("sdc", "8:32", "1", "QEMU    ");
  disk("vda", "254:0", "1", nullptr);
  machine.WriteFile("sys/block/vda/vda1/dev", "254:1\n");
  disk("nvme0n1", "259:0", "0", nullptr);
  machine.WriteFile("mountinfo",
                    "40 1 0:40 / /mnt/win rw - fuseblk /dev/sda2 rw\n"
                    "41 1 0:41 / /mnt/other rw - fuseblk /dev/sdb rw\n"
                    "42 1 0:42 / /mnt/share rw - cifs //server/c rw\n"
                    "43 1 0:43 / /mnt/odd rw - fuseblk /dev/mapper/vg-win rw\n");
  MachinePaths paths;
  paths.sysBlock = machine.Path("sys/block");
  paths.mountInfo = machine.Path("mountinfo");
  const struct {
    unsigned major, minor;
    int readers;
  } cases[] = {
      {8, 2, kReadersRotating},   // a partition of a rotating disk
      {8, 0, kReadersRotating},   // the disk itself
      {8, 16, kReadersFast},      // an SSD
      {8, 32, kReadersFast},      // a virtual disk that says it rotates
      {254, 1, kReadersFast},     // virtio
      {259, 0, kReadersFast},     // NVMe
      {0, 40, kReadersRotating},  // ntfs-3g on the rotating disk's partition
      {0, 41, kReadersFast},      // ntfs-3g on the SSD
      {0, 42, kReadersFast},      // a network share: no disk to ask
      {0, 43, kReadersFast},      // a source sysfs does not list
      {9, 9, kReadersFast},       // unknown
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.readers, ReadersForDevice(makedev(c.major, c.minor), paths)) << c.major << ":" << c.minor;
  }
}

// The walk's read-ahead within the descriptors the process has: never more
// than are free, even at the worst (every held level open, every step read
// ahead in a folder of its own, each reader opening one beneath the root),
// and the readers asked for where there is room for them.
TEST(PlanWalk, StaysWithinTheFreeDescriptors) {
  for (const int free : {40, 42, 64, 100, 1000, 65000}) {
    for (const int readers : {1, 4, 16, 64}) {
      const WalkLimits limits = PlanWalk(readers, free);
      EXPECT_GE(limits.readers, 1);
      EXPECT_LE(limits.readers, readers);
      EXPECT_GE(limits.window, 2u);
      EXPECT_GE(limits.listings, 1u);
      EXPECT_GE(limits.heldLevels, 1);
      const size_t worst = static_cast<size_t>(limits.heldLevels) + 1 + limits.window + limits.listings + 1 +
                           3 * static_cast<size_t>(limits.readers);
      EXPECT_LE(worst, static_cast<size_t>(free)) << readers << " readers, " << free << " free";
    }
  }
  EXPECT_EQ(16, PlanWalk(16, 1000).readers);
  EXPECT_EQ(64, PlanWalk(64, 65000).readers);
  EXPECT_EQ(1, PlanWalk(16, 42).readers);  // ulimit -n 64
  EXPECT_GE(PlanWalk(16, 1000).window, 64u);
}

// The image's format from its own bytes; whatever could make qemu open
// another file of this machine is refused.
TEST(DetectDiskFormat, FromTheImagesOwnBytes) {
  const auto bytes = [](const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); };
  const auto qcow2 = [](char version, size_t byte, char value) {
    std::string header = std::string("QFI\xfb\0\0\0", 7) + version + std::string(504, '\0');
    header[byte] = value;
    return header;
  };
  const auto vmdk = [](char capacity) {
    std::string header = "KDMV" + std::string(508, '\0');
    header[4] = 1;            // version
    header[12] = capacity;    // sectors
    return header;
  };
  std::string differencing = "conectix" + std::string(504, '\0');
  differencing[63] = 4;
  struct Case {
    std::string head, tail, descriptor, format;
  };
  const Case cases[] = {
      {qcow2(3, 0, 'Q'), "", "", "qcow2"},
      {qcow2(2, 0, 'Q'), "", "", "qcow2"},
      {qcow2(3, 15, 1), "", "", ""},              // a backing file
      {qcow2(3, 79, 4), "", "", ""},              // an external data file
      {qcow2(3, 79, 1), "", "", "qcow2"},         // another incompatible feature: qemu decides
      {qcow2(9, 0, 'Q'), "", "", ""},
      {qcow2(3, 0, 'Q').substr(0, 40), "", "", ""},
      {"vhdxfile" + std::string(504, '\0'), "", "", "vhdx"},
      {vmdk(8), "", "", "vmdk"},
      {vmdk(8), "", "# Disk DescriptorFile\nRW 8 SPARSE \"disk.vmdk\"\n", "vmdk"},
      {vmdk(8), "", "RW 8 FLAT \"/etc/shadow\" 0\n", ""},
      {vmdk(8), "", "RDONLY 8 SPARSE \"other.vmdk\"\n", ""},
      {vmdk(0), "", "", ""},                      // the descriptor describes the disk
      {"# Disk DescriptorFile\nRW 100 FLAT \"/etc/shadow\" 0\n", "", "", ""},
      {"conectix" + std::string(504, '\0'), "", "", "vpc"},
      {std::string(512, '\0'), "conectix" + std::string(504, '\0'), "", "vpc"},
      {std::string(512, '\0'), differencing, "", ""},
      {"<<< Oracle VM VirtualBox Disk Image >>>", "", "", ""},
      {std::string(512, '\x33'), std::string(512, '\0'), "", "raw"},
      {"", "", "", "raw"},
  };
  for (const Case& c : cases) {
    const DiskFormat format = DetectDiskFormat(bytes(c.head), bytes(c.tail), bytes(c.descriptor), "disk.vmdk");
    EXPECT_EQ(c.format, format.name) << ::testing::PrintToString(c.head.substr(0, 16)) << " " << c.descriptor;
    EXPECT_EQ(c.format.empty(), !format.problem.empty()) << c.head.substr(0, 16);
  }
  uint64_t size = 0;
  std::string sparse = vmdk(8);
  sparse[28] = 1;  // descriptor at sector 1
  sparse[36] = 2;  // two sectors long
  EXPECT_EQ(512u, VmdkDescriptorOffset(bytes(sparse), size));
  EXPECT_EQ(1024u, size);
  EXPECT_EQ(0u, VmdkDescriptorOffset(bytes(qcow2(3, 0, 'Q')), size));
}

}  // namespace
