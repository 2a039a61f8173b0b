#!/usr/bin/env python3
"""The Scourix Rescue USB image booted in qemu, with disks made by the
project's own image maker, in three boots:

  uefi-report  UEFI with Secure Boot (OVMF with Microsoft's keys): the GRUB
               menu, its "Report only" entry edited to add a serial console,
               then the unattended report of an infected XP disk, a disk with
               a partition without Windows and a hibernated one, and a disk
               with a BitLocker partition and a damaged NTFS one; not one byte
               of any disk changes; the machine powers itself off.
  bios-ask     BIOS from the ISO as a CD: the isolinux menu, its default entry
               edited to add a serial console, the screens driven over it
               (the report, "Clean 4 copies...?", the results, "Remove the
               stick..."), the disk cleaned, then the restart.
  stick-clean  the ISO written to a USB stick with a SCOURIX FAT32 partition
               added, its kernel booted with the "Clean automatically" entry's
               parameters: the disk cleaned, the record and log on it and on
               the SCOURIX partition, a disk without Windows left alone, the
               machine powered off.

Each cleaned disk is read back from its image: the worm's files gone, the
others kept, the hives repaired (hivexget), the log, the record and the
backup in \\Scourix.

rescue_usb.py ISO MAKE_SAMPLES MAKE_XP_VOLUME MAKE_DISK_IMAGE WORK [--only NAME...]
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from machine import Failure, Machine  # noqa: E402

OVMF_CODE = "/usr/share/OVMF/OVMF_CODE_4M.ms.fd"
OVMF_VARS = "/usr/share/OVMF/OVMF_VARS_4M.ms.fd"
ENTRIES = ["Scan, then ask", "Report only", "Clean automatically", "Root shell"]
WORM_FILES = ["WinDows/system32/worm.exe", "WinDows/Temp/dropped.exe",
              "documents and settings/Alice/Local Settings/Temp/x.scr", "PROGRAM FILES/App/app.exe"]
KEPT_FILES = ["Other/outside.exe", "outside.exe", "PROGRAM FILES/App/helper.dll", "WinDows/system32/notepad.exe"]
POLICY = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System"
times = []


def run(*command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        raise Failure("%s: status %d: %s%s" % (" ".join(command), result.returncode, result.stdout, result.stderr))
    return result.stdout


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def check(condition, message):
    if not condition:
        raise Failure(message)


# --- Disks -----------------------------------------------------------------

def mbr_disk(path, partitions, size_mib=16):
    """A raw disk with an MBR and partitions given as (start sector, sectors,
    type, first sector's bytes)."""
    with open(path, "wb") as f:
        f.truncate(size_mib << 20)
        table = b""
        for start, sectors, kind, boot in partitions:
            table += struct.pack("<B3sB3sII", 0, b"\0\0\0", kind, b"\0\0\0", start, sectors)
            f.seek(start * 512)
            f.write(boot.ljust(512, b"\0"))
        f.seek(446)
        f.write(table.ljust(64, b"\0") + b"\x55\xaa")


def boot_sector(oem):
    sector = bytearray(512)
    sector[0:3] = b"\xeb\x52\x90"
    sector[3:11] = oem
    sector[510:512] = b"\x55\xaa"
    return bytes(sector)


def make_disks(args, work):
    samples = os.path.join(work, "samples")
    os.makedirs(samples)
    run(args.make_samples, samples)
    xp = os.path.join(work, "xp")
    run(args.make_xp_volume, xp)
    # Inspection-free here, but a real XP has a cmd.exe beside config.
    shutil.copy(os.path.join(samples, "first-one-byte-off.exe"), os.path.join(xp, "WinDows/system32/cmd.exe"))
    hibernated = os.path.join(work, "hibernated")
    shutil.copytree(xp, hibernated, symlinks=True)
    with open(os.path.join(hibernated, "hiberfil.sys"), "wb") as f:
        f.write(b"HIBR" + bytes(8188))
    plain = os.path.join(work, "plain")
    os.makedirs(os.path.join(plain, "Data"))
    with open(os.path.join(plain, "Data", "readme.txt"), "w") as f:
        f.write("no Windows here\n")
    disks = {}
    for name, trees in (("xp", [xp]), ("mixed", [plain, hibernated]), ("plain", [plain])):
        disks[name] = os.path.join(work, name + ".img")
        run(args.make_disk_image, disks[name], "raw", "ntfs", *trees)
    # BitLocker (only its boot sector: enough to be told apart) and an NTFS
    # boot sector over nothing, which no driver can mount.
    disks["odd"] = os.path.join(work, "odd.img")
    mbr_disk(disks["odd"], [(2048, 8192, 0x07, boot_sector(b"-FVE-FS-")),
                            (10240, 8192, 0x07, boot_sector(b"NTFS    "))])
    for copy in ("xp-ask", "xp-stick", "xp-shots"):
        disks[copy] = os.path.join(work, copy + ".img")
        shutil.copy(disks["xp"], disks[copy])
    return disks


def virtio(*images):
    args = []
    for image in images:
        args += ["-drive", "file=%s,format=raw,if=virtio" % image]
    return args


class LoopMount:
    """An NTFS partition of an image mounted read-only by ntfs-3g, through a
    loop device over its sectors."""

    def __init__(self, image, partition, work):
        table = json.loads(run("sfdisk", "--json", image))["partitiontable"]["partitions"]
        start, size = table[partition - 1]["start"] * 512, table[partition - 1]["size"] * 512
        self.loop = run("losetup", "--find", "--show", "--read-only", "--offset", str(start),
                        "--sizelimit", str(size), image).strip()
        self.point = tempfile.mkdtemp(dir=work)
        try:
            run("ntfs-3g", "-o", "ro", self.loop, self.point)
        except Failure:
            run("losetup", "-d", self.loop)
            raise

    def path(self, *parts):
        return os.path.join(self.point, *parts)

    def close(self):
        run("umount", self.point)
        run("losetup", "-d", self.loop)
        os.rmdir(self.point)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def fat_file(image, partition, name):
    """A file of a FAT partition of an image, read with mtools (no mount)."""
    start = json.loads(run("sfdisk", "--json", image))["partitiontable"]["partitions"][partition - 1]["start"]
    result = subprocess.run(["mcopy", "-n", "-i", "%s@@%d" % (image, start * 512), "::" + name, "-"],
                            capture_output=True, env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    check(result.returncode == 0, "%s on the stick's partition %d: %s" % (name, partition, result.stderr))
    return result.stdout


def hive_value(hive, key, value=None):
    """A hive's value through hivexget; None where the key or value is not there."""
    command = ["hivexget", hive, key] + ([value] if value is not None else [])
    result = subprocess.run(command, capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else None


def check_cleaned(image, work, computer="XP-DESK"):
    """The disk image as cleaned: read back from its NTFS partition."""
    with LoopMount(image, 1, work) as volume:
        for gone in WORM_FILES:
            check(not os.path.lexists(volume.path(gone)), "%s: %s is still there" % (image, gone))
        for kept in KEPT_FILES:
            check(os.path.exists(volume.path(kept)), "%s: %s was removed" % (image, kept))
        config = volume.path("WinDows", "system32", "config")
        software, system = os.path.join(config, "SOFTWARE"), os.path.join(config, "SYSTEM")
        check(hive_value(software, "Microsoft\\Windows\\CurrentVersion\\explorer\\CacheBox") is None,
              "the worm's key is still in SOFTWARE")
        check(hive_value(software, "Microsoft\\Windows\\CurrentVersion\\Run", "gibe") is None,
              "the worm's Run entry is still in SOFTWARE")
        check(hive_value(software, "Microsoft\\Windows\\CurrentVersion\\Run", "other") == "C:\\Other\\tray.exe",
              "another Run entry was changed")
        opens = hive_value(software, "Classes\\exefile\\shell\\open\\command", "@")
        check(opens == '"%1" %*', "exefile opens with %r" % opens)
        check(hive_value(system, "ControlSet001\\Services\\worm") is None, "the worm's service is still in SYSTEM")
        check(hive_value(system, "ControlSet001\\Services\\legit") is not None, "another service was removed")
        for hive in (os.path.join(config, "DEFAULT"), volume.path("documents and settings", "Alice", "NTUSER.DAT")):
            check(hive_value(hive, POLICY, "DisableRegistryTools") == "0", "%s: the registry tools stay off" % hive)
        folder = volume.path("Scourix")
        log = open(os.path.join(folder, "scourix-rescue.log"), "rb").read()
        check(b"Scanning completed" in log and log.count(b"W32/Gibe.F.Worm deleted") == 4,
              "the log on the volume: %r" % log)
        record = json.load(open(os.path.join(folder, computer + ".json")))
        check(record["computer"] == computer and record["filesDeleted"] == 4 and not record["reportOnly"],
              "the record on the volume: %s" % record)
        backups = [name for name in os.listdir(folder) if name.startswith("backup-")]
        check(len(backups) == 1 and os.path.exists(os.path.join(folder, backups[0], "manifest.txt")),
              "the backup on the volume: %s" % os.listdir(folder))
        return log


# --- The image's menus ---------------------------------------------------

def extract(iso, work):
    """The boot files and menus, as the ISO holds them."""
    out = os.path.join(work, "iso")
    os.makedirs(out, exist_ok=True)
    files = ["isolinux/live.cfg", "isolinux/isolinux.cfg", "boot/grub/grub.cfg", "live/vmlinuz", "live/initrd.img"]
    command = ["xorriso", "-osirrox", "on", "-indev", iso]
    for name in files:
        command += ["-extract", "/" + name, os.path.join(out, name.replace("/", "_"))]
    run(*command)
    return {name: os.path.join(out, name.replace("/", "_")) for name in files}


def menus(files):
    """Each menu's entries: (label, kernel parameters), BIOS and UEFI."""
    bios = []
    for block in re.split(r"^label ", open(files["isolinux/live.cfg"]).read(), flags=re.M)[1:]:
        label = re.search(r"menu label (.*)", block).group(1).replace("^", "").strip()
        bios.append((label, re.search(r"append (.*)", block).group(1).split()))
    uefi = []
    for label, body in re.findall(r'menuentry "([^"]*)"[^{]*\{(.*?)\n\}', open(files["boot/grub/grub.cfg"]).read(), re.S):
        params = re.search(r"linux\s+\S+\s+(.*)", body).group(1).split()
        uefi.append((label, [p for p in params if not p.startswith("findiso=")]))
    return bios, uefi


def check_menus(files):
    bios, uefi = menus(files)
    check([label for label, _ in bios] == ENTRIES, "the BIOS menu: %s" % bios)
    check(bios == uefi, "the BIOS and UEFI menus differ:\n%s\n%s" % (bios, uefi))
    modes = [next(p for p in params if p.startswith("scourix=")) for _, params in bios]
    check(modes == ["scourix=ask", "scourix=report", "scourix=clean", "scourix=shell"], "modes: %s" % modes)
    check(re.search(r"^timeout \d+", open(files["isolinux/isolinux.cfg"]).read(), re.M)
          and re.search(r"^set timeout=\d+", open(files["boot/grub/grub.cfg"]).read(), re.M),
          "a menu without a timeout")
    return dict(bios)


def check_image(iso):
    """Hybrid: El Torito boot images for BIOS and UEFI (a CD), and an MBR with
    a partition table (a stick written with dd); at most 700 MB."""
    size = os.path.getsize(iso)
    check(size <= 700 * 1000 * 1000, "the image is %d bytes" % size)
    report = subprocess.run(["xorriso", "-indev", iso, "-report_el_torito", "plain"],
                            capture_output=True, text=True).stdout
    check(re.search(r"El Torito boot img :\s+\d+\s+BIOS", report) and re.search(r"El Torito boot img :\s+\d+\s+UEFI", report),
          "the image's El Torito boot images:\n" + report)
    with open(iso, "rb") as f:
        mbr = f.read(512)
    check(mbr[510:] == b"\x55\xaa" and any(mbr[446 + 16 * i + 4] for i in range(4)), "no MBR partition table")
    return size


def count(text, pattern):
    return len(re.findall(pattern, text, re.M))


# --- The boots ---------------------------------------------------------------

def uefi_report(iso, disks, work, shots):
    before = {name: sha256(disks[name]) for name in ("xp", "mixed", "odd")}
    variables = os.path.join(work, "OVMF_VARS.fd")
    shutil.copy(OVMF_VARS, variables)
    machine = Machine("uefi-report", work, [
        "-machine", "q35,smm=on", "-global", "driver=cfi.pflash01,property=secure,value=on",
        "-drive", "if=pflash,format=raw,unit=0,readonly=on,file=" + OVMF_CODE,
        "-drive", "if=pflash,format=raw,unit=1,file=" + variables,
        "-drive", "file=%s,media=cdrom,readonly=on,if=none,id=cd" % iso, "-device", "ide-cd,drive=cd,bootindex=0",
    ] + virtio(disks["xp"], disks["mixed"], disks["odd"]))
    try:
        for entry in ENTRIES:
            machine.expect(re.escape(entry), 600, "the UEFI menu's %r" % entry)
        menu_at = machine.elapsed()
        if shots:
            time.sleep(1)
            machine.screendump(os.path.join(shots, "uefi-menu.png"))
        # "Report only", edited: a serial console, the kernel's notices (that
        # Secure Boot locked it down among them), off when done.
        machine.send("\x1b[B")
        machine.send("e")
        machine.expect(r"scourix=report", 60, "GRUB's editor")
        # Its lines: setparams, a blank one, linux (the parameters), initrd.
        machine.send("\x1b[B\x1b[B\x05 console=ttyS0 loglevel=6 scourix.after=poweroff")
        machine.send("\x18")
        machine.expect(r"Kernel is locked down from EFI Secure Boot", 600, "the kernel saying Secure Boot is on")
        machine.expect(r"report only, looking for Windows", 900, "the report's start")
        machine.expect(r"finished\.", 1800, "the report's end")
        text = machine.text()
        machine.wait_off(180)
    finally:
        machine.stop()
    times.append(("uefi-report", machine.elapsed(), menu_at))
    check(count(text, r"W32/Gibe\.F\.Worm found \(report only: not deleted\)$") == 4, "the report:\n" + text[-4000:])
    check(re.search(r"/dev/vdb2: Windows there is hibernated", text), "the hibernated Windows is not named")
    check(re.search(r"/dev/vdc1: encrypted with BitLocker", text), "the BitLocker volume is not named")
    check(re.search(r"/dev/vdc2: cannot be read", text), "the damaged volume is not named")
    check("/dev/vdb1" not in text, "the volume without Windows was not passed over quietly")
    check(re.search(r"Windows XP Service Pack 3 \(5\.1\.2600\), computer XP-DESK, on /dev/vda1 \(NTFS\)", text),
          "the installation's heading")
    for name, digest in before.items():
        check(sha256(disks[name]) == digest, "the report changed the disk %s" % name)
    print("uefi-report: Secure Boot, GRUB's menu, 4 copies reported, the hibernated, BitLocker and damaged volumes"
          " named, the one without Windows passed over, no disk changed")


def bios_ask(iso, disks, work, shots):
    plain = sha256(disks["plain"])
    machine = Machine("bios-ask", work, ["-no-reboot", "-cdrom", iso, "-boot", "d"]
                      + virtio(disks["xp-ask"], disks["plain"]))
    try:
        for entry in ENTRIES:
            machine.expect(re.escape(entry), 300, "the BIOS menu's %r" % entry)
        menu_at = machine.elapsed()
        if shots:
            time.sleep(1)
            machine.screendump(os.path.join(shots, "bios-menu.png"))
        machine.send("\t")
        machine.expect(r"scourix=ask", 60, "the entry's kernel parameters")
        machine.send(" console=ttyS0\r")
        machine.expect(r"Report:", 1800, "the report screen")
        machine.expect(r"XP-DESK", 60, "the computer's name in the report")
        machine.expect(r"Copies of the worm found: 4", 60, "the report's count")
        scanned_at = machine.elapsed()
        machine.send("\t\r")  # Tab to the button first: a long text scrolls
        machine.expect(r"Clean 4 copies and repair the registry\?", 120, "the question")
        machine.expect(r"Scourix\\backup-", 60, "where the backup goes")
        machine.send("\r")
        machine.expect(r"Results \(status 1\)", 900, "the results screen")
        machine.expect(r"W32/Gibe\.F\.Worm deleted", 60, "a deleted copy on the results screen")
        machine.send("\t\r")
        machine.expect(r"Remove the stick and press Enter to restart", 120, "the last screen")
        machine.send("\r")
        machine.wait_off(180)  # -no-reboot: the restart ends qemu
    finally:
        machine.stop()
    times.append(("bios-ask", machine.elapsed(), menu_at, scanned_at))
    check_cleaned(disks["xp-ask"], work)
    check(sha256(disks["plain"]) == plain, "the disk without Windows changed")
    print("bios-ask: the isolinux menu, the report, the question and the results over the serial console; "
          "the disk cleaned, then the restart")


def vga_text(machine, work):
    """The characters in the VGA text memory (the BIOS console, with its
    driver left at the VGA text mode): the screen and what scrolled off it."""
    path = os.path.join(work, "vga.bin")
    machine.qmp_command("pmemsave", val=0xB8000, size=0x8000, filename=path)
    return open(path, "rb").read()[0::2].decode("cp437")


def wait_screen(machine, work, text, timeout):
    deadline = time.monotonic() + timeout
    while text not in vga_text(machine, work):
        check(time.monotonic() < deadline and machine.process.poll() is None, "the screen never showed %r" % text)
        time.sleep(1)
    time.sleep(2)  # drawn whole


def screens(iso, disks, work, shots):
    """Pictures for README, from the screen: the BIOS menu and each screen of
    "Scan, then ask" on the machine's own console (the serial one only says
    when the questions start)."""
    machine = Machine("screens", work, ["-no-reboot", "-cdrom", iso, "-boot", "d"] + virtio(disks["xp-shots"]))
    try:
        for entry in ENTRIES:
            machine.expect(re.escape(entry), 300, "the BIOS menu's %r" % entry)
        time.sleep(1)
        machine.screendump(os.path.join(shots, "rescue-usb-menu.png"))
        machine.send("\t")
        machine.expect(r"scourix=ask", 60, "the entry's kernel parameters")
        machine.send(" modprobe.blacklist=bochs console=ttyS0 console=tty0\r")
        machine.expect(r"asks its questions on tty1", 1800, "the questions' start")
        for text, picture in (("Copies of the worm found", "report"), ("Clean 4 copies", "question"),
                              ("Results (status", "results"), ("Remove the stick", None)):
            wait_screen(machine, work, text, 1800)
            if picture:
                machine.screendump(os.path.join(shots, "rescue-usb-%s.png" % picture))
            if picture in ("report", "results"):
                machine.key("tab")
            machine.key("ret")
        machine.wait_off(180)
    finally:
        machine.stop()
    print("screens: pictures of the menu, the report, the question and the results in %s" % shots)


def make_stick(iso, work):
    """The ISO as written to a stick by dd, then a FAT32 partition labelled
    SCOURIX added in the free space after it, as README says."""
    stick = os.path.join(work, "stick.img")
    shutil.copy(iso, stick)
    size = os.path.getsize(stick)
    start = (size + (1 << 20) - 1) // (1 << 20) * 2048  # the next MiB
    sectors = 64 * 2048
    with open(stick, "r+b") as f:
        f.truncate((start + sectors) * 512)
    run("sfdisk", "--append", "--no-reread", stick, input="start=%d, size=%d, type=c\n" % (start, sectors))
    run("mkfs.vfat", "-F", "32", "-n", "SCOURIX", "--offset", str(start), stick, str(sectors // 2))
    partitions = json.loads(run("sfdisk", "--json", stick))["partitiontable"]["partitions"]
    number = next(i for i, p in enumerate(partitions, 1) if p["start"] == start)
    return stick, number


def stick_clean(iso, files, params, disks, work):
    plain = sha256(disks["plain"])
    stick, number = make_stick(iso, work)
    append = " ".join(params["Clean automatically"]) + " console=ttyS0 scourix.after=poweroff"
    machine = Machine("stick-clean", work, [
        "-kernel", files["live/vmlinuz"], "-initrd", files["live/initrd.img"], "-append", append,
        "-device", "qemu-xhci", "-drive", "if=none,id=stick,format=raw,file=" + stick,
        "-device", "usb-storage,drive=stick,removable=on",
    ] + virtio(disks["xp-stick"], disks["plain"]))
    try:
        machine.expect(r"cleaning, looking for Windows", 1800, "the cleaning's start")
        started_at = machine.elapsed()
        machine.expect(r"finished\.", 1800, "the cleaning's end")
        text = machine.text()
        machine.wait_off(180)
    finally:
        machine.stop()
    guest = re.search(r"Times since the kernel started: kernel and initramfs ([\d.]+) s, system ([\d.]+) s, "
                      r"Scourix ([\d.]+) s", text)
    times.append(("stick-clean", machine.elapsed(), started_at, guest.groups() if guest else None))
    check(count(text, r"W32/Gibe\.F\.Worm deleted$") == 4, "the cleaning:\n" + text[-4000:])
    check(re.search(r"Copied to the SCOURIX partition \(/dev/sd[a-z]%d\): records/XP-DESK\.json" % number, text),
          "the copy to the SCOURIX partition is not said:\n" + text[-3000:])
    check("/dev/vdb" not in text, "the disk without Windows was not passed over quietly")
    log = check_cleaned(disks["xp-stick"], work)
    record = json.loads(fat_file(stick, number, "records/XP-DESK.json"))
    check(record["filesDeleted"] == 4 and record["computer"] == "XP-DESK", "the record on the stick: %s" % record)
    check(fat_file(stick, number, "records/XP-DESK.log") == log, "the log on the stick is not the volume's")
    check(sha256(disks["plain"]) == plain, "the disk without Windows changed")
    print("stick-clean: booted from the stick, the disk cleaned, its record and log on it and on the SCOURIX"
          " partition, the disk without Windows left alone, powered off")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("iso")
    parser.add_argument("make_samples")
    parser.add_argument("make_xp_volume")
    parser.add_argument("make_disk_image")
    parser.add_argument("work")
    parser.add_argument("--only", nargs="*", default=["uefi-report", "bios-ask", "stick-clean"])
    parser.add_argument("--screenshots", help="a folder for pictures of the menus")
    args = parser.parse_args()
    work = args.work
    started = time.monotonic()
    try:
        size = check_image(args.iso)
        print("image: %d MB, El Torito for BIOS and UEFI, an MBR for a stick" % (size // 1000000))
        files = extract(args.iso, work)
        params = check_menus(files)
        print("menus: the BIOS and UEFI menus hold the same %d entries and parameters" % len(ENTRIES))
        disks = make_disks(args, work)
        print("disks: made in %.0f s" % (time.monotonic() - started))
        if "uefi-report" in args.only:
            uefi_report(args.iso, disks, work, args.screenshots)
        if "bios-ask" in args.only:
            bios_ask(args.iso, disks, work, args.screenshots)
        if "stick-clean" in args.only:
            stick_clean(args.iso, files, params, disks, work)
        if args.screenshots:
            screens(args.iso, disks, work, args.screenshots)
    except Failure as failure:
        print("FAIL: %s" % failure)
        return 1
    finally:
        for entry in times:
            print("time: " + ", ".join(str(round(x, 1)) if isinstance(x, float) else str(x) for x in entry))
    print("rescue USB: passed in %.0f s" % (time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
