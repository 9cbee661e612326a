#!/usr/bin/env python3
"""Writes the hand-built laptop fixture tree (tests/fixtures/laptop).

Usage: make-laptop-fixture.py OUT_DIR

Every file follows the format the kernel documents (sysfs ABI, proc(5),
the SMBIOS and EDID standards); the values are those of a typical
ThinkPad-class laptop, made up for the tests, not copied from a machine.
"""
import os
import struct
import sys

OUT = sys.argv[1] if len(sys.argv) > 1 else sys.exit(__doc__)


def w(path, data, mode="w"):
    full = os.path.join(OUT, path.lstrip("/"))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb" if isinstance(data, bytes) else "w") as f:
        f.write(data)


def link(path, target):
    full = os.path.join(OUT, path.lstrip("/"))
    os.makedirs(os.path.dirname(full), exist_ok=True)
    if os.path.lexists(full):
        os.remove(full)
    os.symlink(target, full)


# ---- kernel, processes, OS ----
cpu_tpl = """processor\t: {n}
vendor_id\t: GenuineIntel
cpu family\t: 6
model\t\t: 142
model name\t: Intel(R) Core(TM) i5-7200U CPU @ 2.50GHz
stepping\t: 9
microcode\t: 0xf4
cpu MHz\t\t: 1800.000
cache size\t: 3072 KB
physical id\t: 0
siblings\t: 4
core id\t\t: {core}
cpu cores\t: 2
flags\t\t: fpu vme de pse tsc msr pae mce cx8 apic sep mtrr pge mca cmov pat pse36 clflush mmx fxsr sse sse2 ss ht tm pbe syscall nx pdpe1gb rdtscp lm constant_tsc pni vmx est tm2 ssse3 sse4_1 sse4_2 popcnt aes xsave avx f16c rdrand avx2 ept vpid
address sizes\t: 39 bits physical, 48 bits virtual

"""
w("/proc/cpuinfo", "".join(cpu_tpl.format(n=n, core=n % 2) for n in range(4)))
w("/proc/meminfo", """MemTotal:       16279068 kB
MemFree:         9012344 kB
MemAvailable:   12345678 kB
Buffers:          312000 kB
Cached:          3000000 kB
SwapTotal:       2097148 kB
SwapFree:        2000000 kB
""")
w("/proc/stat", """cpu  1000 0 500 90000 100 0 10 0 0 0
cpu0 250 0 125 22500 25 0 3 0 0 0
intr 123456
ctxt 654321
btime 1764998400
processes 4321
procs_running 2
procs_blocked 0
""")
w("/proc/filesystems", "nodev\tsysfs\nnodev\ttmpfs\nnodev\tproc\nnodev\tnfs4\nnodev\tcgroup2\nnodev\tzfs\nnodev\tmqueue\n"
  "nodev\tnewpseudofs\n\text4\n\tvfat\n\tiso9660\n")
w("/proc/self/mountinfo", """22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro
23 22 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw
24 22 0:22 / /sys rw,nosuid,nodev,noexec,relatime shared:2 - sysfs sysfs rw
25 24 0:26 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:4 - cgroup2 cgroup2 rw
26 22 0:25 / /tmp rw,nosuid,nodev shared:14 - tmpfs tmpfs rw,size=8139532k
27 22 259:1 / /boot/efi rw,relatime shared:30 - vfat /dev/nvme0n1p1 rw,fmask=0077,dmask=0077
28 22 8:1 / /media/alice/My\\040Stick rw,nosuid,nodev,relatime shared:40 - vfat /dev/sda1 rw,uid=1000
29 22 0:50 / /mnt/nas rw,relatime shared:41 - nfs4 nas.example.org:/export/home rw,vers=4.2
30 22 11:0 / /media/alice/DVD ro,nosuid,nodev,relatime shared:42 - iso9660 /dev/sr0 ro
31 26 0:51 / /tmp rw,nosuid,nodev shared:15 - tmpfs tmpfs rw,size=1024k
32 22 0:52 / /tank/data rw,noatime shared:43 - zfs tank/data rw,xattr,posixacl
33 22 0:53 / /dev/mqueue rw,relatime shared:44 - mqueue mqueue rw
34 22 0:54 / /sys/kernel/newthing rw,relatime shared:45 - newpseudofs none rw
""")
for key, val in {"hostname": "t480s.example.org", "domainname": "(none)", "osrelease": "6.8.0-49-generic",
                 "version": "#49-Ubuntu SMP PREEMPT_DYNAMIC Mon Nov  4 02:06:24 UTC 2024",
                 "arch": "x86_64", "pid_max": "4194304"}.items():
    w("/proc/sys/kernel/" + key, val + "\n")
for pid, comm in [(1, "systemd"), (2, "kthreadd"), (812, "NetworkManager"), (1500, "gnome-shell"), (2210, "bash")]:
    w(f"/proc/{pid}/comm", comm + "\n")
w("/etc/os-release", """PRETTY_NAME="Ubuntu 24.04.1 LTS"
NAME="Ubuntu"
VERSION_ID="24.04"
VERSION="24.04.1 LTS (Noble Numbat)"
ID=ubuntu
# a comment
HOME_URL="https://www.ubuntu.com/"
""")
w("/etc/machine-id", "0123456789abcdef0123456789abcdef\n")
w("/etc/hostname", "t480s\n")
w("/etc/resolv.conf", "nameserver 127.0.0.53\noptions edns0\nsearch example.org\n")
w("/etc/default/locale", 'LANG="de_DE.UTF-8"\n')


def utmp(kind, pid, line, user, host):
    rec = struct.pack("<hxxi32s4s32s256s", kind, pid, line.encode(), b"", user.encode(), host.encode())
    return rec + b"\0" * (384 - len(rec))


w("/run/utmp", utmp(2, 0, "~", "reboot", "6.8.0") + utmp(6, 900, "tty1", "LOGIN", "")
  + utmp(7, 1400, "tty2", "alice", ":0") + utmp(7, 2200, "pts/0", "bob", "10.0.0.5"))

# ---- processors ----
C = "/sys/devices/system/cpu"
w(C + "/online", "0-3\n")
for n in range(4):
    w(f"{C}/cpu{n}/topology/physical_package_id", "0\n")
    w(f"{C}/cpu{n}/topology/core_id", f"{n % 2}\n")
    w(f"{C}/cpu{n}/cpufreq/scaling_cur_freq", "1800000\n")
    w(f"{C}/cpu{n}/cpufreq/cpuinfo_max_freq", "3100000\n")
    core = n % 2
    pair = f"{core},{core + 2}\n"
    for idx, (lvl, typ, size, ways, shared) in enumerate([
            (1, "Data", "32K", 8, pair), (1, "Instruction", "32K", 8, pair),
            (2, "Unified", "256K", 4, pair), (3, "Unified", "3072K", 12, "0-3\n")]):
        b = f"{C}/cpu{n}/cache/index{idx}/"
        w(b + "level", f"{lvl}\n")
        w(b + "type", typ + "\n")
        w(b + "size", size + "\n")
        w(b + "ways_of_associativity", f"{ways}\n")
        w(b + "coherency_line_size", "64\n")
        w(b + "shared_cpu_list", shared)

# ---- DMI ----
dmi = {"sys_vendor": "LENOVO", "product_name": "20L7001XGE", "product_version": "ThinkPad T480s",
       "product_family": "ThinkPad T480s", "product_sku": "LENOVO_MT_20L7_BU_Think_FM_ThinkPad T480s",
       "board_vendor": "LENOVO", "board_name": "20L7001XGE", "board_version": "SDK0J40697 WIN",
       "board_asset_tag": "Not Available", "bios_vendor": "LENOVO", "bios_version": "N22ET80W (1.57 )",
       "bios_date": "02/27/2023", "bios_release": "1.57", "ec_firmware_release": "1.22",
       "chassis_type": "10", "chassis_vendor": "LENOVO"}
for k, v in dmi.items():
    w("/sys/class/dmi/id/" + k, v + "\n")
w("/sys/firmware/acpi/pm_profile", "2\n")


def smbios_struct(stype, handle, body, strings):
    data = struct.pack("<BBH", stype, 4 + len(body), handle) + body
    if strings:
        data += b"".join(s.encode() + b"\0" for s in strings) + b"\0"
    else:
        data += b"\0\0"
    return data


bios = smbios_struct(0, 0, struct.pack("<BBHBBQBBBBBB", 1, 2, 0xE800, 3, 0xFF, 0x0000000000001A90, 0x03, 0x0D, 1, 57, 1, 22),
                     ["LENOVO", "N22ET80W (1.57 )", "02/27/2023"])
system = smbios_struct(1, 1, struct.pack("<BBBB16sBBB", 1, 2, 3, 4, bytes(range(16)), 6, 5, 6),
                       ["LENOVO", "20L7001XGE", "ThinkPad T480s", "PF1ABCDE", "LENOVO_MT_20L7", "ThinkPad T480s"])
board = smbios_struct(2, 2, struct.pack("<BBBBBBHBB", 1, 2, 3, 4, 5, 0x09, 3, 0x0A, 0),
                      ["LENOVO", "20L7001XGE", "SDK0J40697 WIN", "L1HF81234567", "Not Available"])
chassis = smbios_struct(3, 3, struct.pack("<BBBBBBBB", 1, 10, 2, 3, 4, 3, 3, 3), ["LENOVO", "None", "PF1ABCDE", "No Asset Information"])
proc_body = struct.pack("<BBBBQBBHHHBBHHHBBBBBBHH", 1, 3, 0xC6, 2, 0xBFEBFBFF000806E9, 3, 0x8A, 100, 3100, 2500,
                        0x41, 0x2C, 4, 5, 6, 4, 5, 6, 2, 2, 4, 0x00EC, 0xC6)
proc = smbios_struct(4, 4, proc_body, ["U3E1", "Intel(R) Corporation", "Intel(R) Core(TM) i5-7200U CPU @ 2.50GHz",
                                       "None", "None", "None"])
oem = smbios_struct(11, 5, struct.pack("<B", 2), ["OEM string one", "OEM string two"])
end = smbios_struct(127, 6, b"", [])
marray = smbios_struct(16, 7, struct.pack("<BBBIHHQ", 3, 3, 3, 33554432, 0xFFFE, 2, 0), [])
dimm = smbios_struct(17, 8, struct.pack("<HHHHHBBBBBHHBBBBBIHHHH", 7, 0xFFFE, 64, 64, 0x2000, 0x0D, 0, 1, 2, 0x1A,
                                        0x0080, 2400, 3, 4, 5, 6, 1, 0, 2400, 1200, 1200, 1200),
                     ["ChannelA-DIMM0", "BANK 0", "Samsung", "12345678", "None", "M471A1K43CB1-CRC"])
empty = smbios_struct(17, 9, struct.pack("<HHHHHBBBBBHHBBBBBIHHHH", 7, 0xFFFE, 0xFFFF, 0xFFFF, 0, 0x02, 0, 1, 2, 0x02,
                                         0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
                      ["ChannelB-DIMM0", "BANK 2"])
slot = smbios_struct(9, 10, struct.pack("<BBBBBHBBHBB", 1, 0xA5, 6, 4, 3, 1, 0x04, 0x03, 0, 0x3C, 0xE0), ["M.2 Slot 1"])
port = smbios_struct(8, 11, struct.pack("<BBBBB", 1, 0, 2, 0x12, 0x10), ["JUSB1", "USB 1"])
onboard41 = smbios_struct(41, 12, struct.pack("<BBBHBB", 1, 0x83, 1, 0, 0, 0x10), ["Onboard IGD"])
onboard10 = smbios_struct(10, 13, struct.pack("<BBBB", 0x85, 1, 0x07, 2), ["Ethernet", "Audio"])
# The array maps the first 8 GiB (kilobyte addresses 0 to 0x7FFFFF); the
# module answers all of it. A damaged second entry ends below its start.
mapped = smbios_struct(19, 14, struct.pack("<IIHBQQ", 0, 0x7FFFFF, 7, 1, 0, 0), [])
unused = smbios_struct(19, 15, struct.pack("<IIHBQQ", 0x800000, 0, 7, 1, 0, 0), [])
devmap = smbios_struct(20, 16, struct.pack("<IIHHBBBQQ", 0, 0x7FFFFF, 8, 14, 0xFF, 0, 0, 0, 0), [])
w("/sys/firmware/dmi/tables/DMI", bios + system + board + chassis + proc + oem + marray + dimm + empty + slot + port
  + onboard41 + onboard10 + mapped + unused + devmap + end)
entry = b"_SM3_" + bytes([0, 0x18, 3, 1, 0, 1, 0]) + struct.pack("<IQ", 0x1000, 0)
w("/sys/firmware/dmi/tables/smbios_entry_point", entry)

# ---- block devices ----
PCI = "/sys/devices/pci0000:00"
NV = PCI + "/0000:00:1d.0/0000:3c:00.0/nvme/nvme0"
w(NV + "/model", "SAMSUNG MZVLB512HAJQ-000L7              \n")
w(NV + "/serial", "S3TNNX0K123456      \n")
w(NV + "/firmware_rev", "4L7QEXA7\n")
link(NV + "/device", "../../../0000:3c:00.0")
d = NV + "/nvme0n1"
w(d + "/size", "1000215216\n")
w(d + "/removable", "0\n")
w(d + "/ro", "0\n")
w(d + "/dev", "259:0\n")
w(d + "/queue/logical_block_size", "512\n")
link(d + "/device", "../../nvme0")
for p, n in (("nvme0n1p1", 1), ("nvme0n1p2", 2)):
    w(f"{d}/{p}/partition", f"{n}\n")
    w(f"{d}/{p}/dev", f"259:{n}\n")
    link(f"/sys/dev/block/259:{n}", f"../../devices/pci0000:00/0000:00:1d.0/0000:3c:00.0/nvme/nvme0/nvme0n1/{p}")
link("/sys/block/nvme0n1", "../devices/pci0000:00/0000:00:1d.0/0000:3c:00.0/nvme/nvme0/nvme0n1")

USB = PCI + "/0000:00:14.0/usb2/2-1/2-1:1.0/host2/target2:0:0/2:0:0:0"
w(USB + "/vendor", "SanDisk \n")
w(USB + "/model", "Ultra Fit       \n")
w(USB + "/rev", "1.00\n")
w(USB + "/type", "0\n")
w(USB + "/vpd_pg80", b"\x00\x80\x00\x14" + b"4C530001230418109482")
s = USB + "/block/sda"
w(s + "/size", "60063744\n")
w(s + "/removable", "1\n")
w(s + "/ro", "0\n")
w(s + "/dev", "8:0\n")
w(s + "/queue/logical_block_size", "512\n")
link(s + "/device", "../../../2:0:0:0")
w(s + "/sda1/partition", "1\n")
w(s + "/sda1/dev", "8:1\n")
link("/sys/dev/block/8:1", "../../devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host2/target2:0:0/2:0:0:0/block/sda/sda1")
link("/sys/block/sda", "../devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host2/target2:0:0/2:0:0:0/block/sda")

ATA = PCI + "/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0"
w(ATA + "/vendor", "HL-DT-ST\n")
w(ATA + "/model", "DVDRAM GU90N    \n")
w(ATA + "/rev", "A1C2\n")
w(ATA + "/type", "5\n")
w(ATA + "/block/sr0/size", "8388608\n")
w(ATA + "/block/sr0/removable", "1\n")
w(ATA + "/block/sr0/dev", "11:0\n")
link(ATA + "/block/sr0/device", "../../../1:0:0:0")
link("/sys/block/sr0", "../devices/pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sr0")
link("/sys/dev/block/11:0", "../../devices/pci0000:00/0000:00:17.0/ata2/host1/target1:0:0/1:0:0:0/block/sr0")

w("/sys/devices/virtual/block/loop0/size", "0\n")
link("/sys/block/loop0", "../devices/virtual/block/loop0")
# A disk that went away while the tree was read: its link leads nowhere.
link("/sys/block/sdb", "../devices/pci0000:00/0000:00:14.0/usb2/2-2/gone/block/sdb")

link("/dev/disk/by-uuid/1A2B-3C4D", "../../nvme0n1p1")
link("/dev/disk/by-uuid/0f3c6f2e-5a1b-4c2d-9e8f-123456789abc", "../../nvme0n1p2")
link("/dev/disk/by-uuid/5e6f-7a8b", "../../sda1")
link("/dev/disk/by-label/ESP", "../../nvme0n1p1")
link("/dev/disk/by-label/My\\x20Stick", "../../sda1")

# ---- display ----
GPU = PCI + "/0000:00:02.0"
w(GPU + "/vendor", "0x8086\n")
w(GPU + "/device", "0x5917\n")
link(GPU + "/driver", "../../../bus/pci/drivers/i915")
w("/sys/bus/pci/drivers/i915/.keep", "")
link(GPU + "/drm/card0/device", "../../../0000:00:02.0")
edid = bytearray(128)
edid[0:8] = b"\x00\xff\xff\xff\xff\xff\xff\x00"
mfg = ((ord("L") - 64) << 10) | ((ord("E") - 64) << 5) | (ord("N") - 64)
edid[8:10] = struct.pack(">H", mfg)
edid[10:12] = struct.pack("<H", 0x40BA)
edid[12:16] = struct.pack("<I", 0)
edid[16], edid[17], edid[18], edid[19] = 0, 27, 1, 4
edid[20], edid[21], edid[22] = 0x95, 31, 17
# first detailed timing: 1920x1080, 141 MHz pixel clock
edid[54:72] = bytes([0x14, 0x37, 0x80, 0xB8, 0x70, 0x38, 0x24, 0x40, 0x10, 0x10, 0x3E, 0x00, 0x35, 0xAE, 0x10, 0x00, 0x00, 0x18])
edid[72:90] = b"\x00\x00\x00\xfe\x00" + b"LG Display\n  "
edid[90:108] = b"\x00\x00\x00\xfc\x00" + b"LP140WF7-SPB1"
edid[108:126] = b"\x00\x00\x00\xff\x00" + b"0x00000000\n  "
edid[127] = (256 - sum(edid[:127]) % 256) % 256
w(GPU + "/drm/card0/card0-eDP-1/edid", bytes(edid))
w(GPU + "/drm/card0/card0-eDP-1/status", "connected\n")
w(GPU + "/drm/card0/card0-eDP-1/dpms", "On\n")
w(GPU + "/drm/card0/card0-eDP-1/enabled", "enabled\n")
w(GPU + "/drm/card0/card0-eDP-1/modes", "1920x1080\n1680x1050\n1280x720\n1920x1080\n1024x768i\n")
w(GPU + "/drm/card0/card0-HDMI-A-1/status", "disconnected\n")
w(GPU + "/drm/card0/card0-HDMI-A-1/edid", b"")
w(GPU + "/drm/card0/card0-HDMI-A-1/dpms", "Off\n")
w(GPU + "/drm/card0/card0-HDMI-A-1/modes", "3840x2160\n")  # left from a monitor unplugged since
w(GPU + "/drm/renderD128/dev", "226:128\n")
link("/sys/class/drm/card0", "../../devices/pci0000:00/0000:00:02.0/drm/card0")
link("/sys/class/drm/card0-eDP-1", "../../devices/pci0000:00/0000:00:02.0/drm/card0/card0-eDP-1")
link("/sys/class/drm/card0-HDMI-A-1", "../../devices/pci0000:00/0000:00:02.0/drm/card0/card0-HDMI-A-1")
link("/sys/class/drm/renderD128", "../../devices/pci0000:00/0000:00:02.0/drm/renderD128")
w(GPU + "/graphics/fb0/virtual_size", "1920,1080\n")
w(GPU + "/graphics/fb0/bits_per_pixel", "32\n")
link(GPU + "/graphics/fb0/device", "../../../0000:00:02.0")
link("/sys/class/graphics/fb0", "../../devices/pci0000:00/0000:00:02.0/graphics/fb0")
w("/usr/share/misc/pci.ids", """#
# List of PCI ID's (excerpt in the published format)
#
8086  Intel Corporation
\t1903  Xeon E3-1200 v5/E3-1500 v5/6th Gen Core Processor Thermal Subsystem
\t5917  UHD Graphics 620
\t\t17aa 2258  ThinkPad T480s
\t9d2f  Sunrise Point-LP USB 3.0 xHCI Controller
\t9d71  Sunrise Point-LP HD Audio
\t9df0  Cannon Point-LP CNVi [Wireless-AC]
144d  Samsung Electronics Co Ltd
\ta808  NVMe SSD Controller SM981/PM981/PM983
8087  Intel Corp.
\t0a2b  Bluetooth wireless interface
C 00  Unclassified device
""")

# ---- input, resources, sound ----
w("/proc/bus/input/devices", """I: Bus=0011 Vendor=0001 Product=0001 Version=ab54
N: Name="AT Translated Set 2 keyboard"
P: Phys=isa0060/serio0/input0
S: Sysfs=/devices/platform/i8042/serio0/input/input3
U: Uniq=
H: Handlers=sysrq kbd leds event3
B: PROP=0
B: EV=120013
B: KEY=402000000 3803078f800d001 feffffdfffefffff fffffffffffffffe
B: MSC=10
B: LED=7

I: Bus=0019 Vendor=0000 Product=0001 Version=0000
N: Name="Power Button"
P: Phys=LNXPWRBN/button/input0
S: Sysfs=/devices/LNXSYSTM:00/LNXPWRBN:00/input/input0
H: Handlers=kbd event0
B: EV=3
B: KEY=10000000000000 0

I: Bus=0018 Vendor=06cb Product=ce0e Version=0100
N: Name="SYNA8004:00 06CB:CE0E Touchpad"
P: Phys=i2c-SYNA8004:00
S: Sysfs=/devices/pci0000:00/0000:00:15.1/i2c_designware.1/i2c-1/i2c-SYNA8004:00/0018:06CB:CE0E.0002/input/input14
H: Handlers=mouse0 event7
B: EV=1b
B: KEY=e520 10000 0 0 0 0
B: ABS=2e0800000000003

I: Bus=0003 Vendor=046d Product=c077 Version=0111
N: Name="Logitech USB Optical Mouse"
P: Phys=usb-0000:00:14.0-1/input0
S: Sysfs=/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/0003:046D:C077.0003/input/input20
H: Handlers=mouse1 event8
B: EV=17
B: KEY=70000 0 0 0 0
B: REL=903
B: MSC=10
""")
w("/proc/interrupts", """            CPU0       CPU1       CPU2       CPU3
   0:          9          0          0          0  IR-IO-APIC    2-edge      timer
   1:          0          0        312          0  IR-IO-APIC    1-edge      i8042
   9:          0         53          0          0  IR-IO-APIC    9-fasteoi   acpi
  16:          0          0          0         44  IR-IO-APIC   16-fasteoi   i801_smbus, rtsx_pci
 125:          0          0       3310          0  IR-PCI-MSI 327680-edge      xhci_hcd
 NMI:          3          3          3          3   Non-maskable interrupts
 LOC:     918233     876120     901022     865734   Local timer interrupts
""")
w("/proc/dma", " 4: cascade\n")
w("/proc/ioports", """0000-0cf7 : PCI Bus 0000:00
  0000-001f : dma1
  0020-0021 : pic1
  0060-0060 : keyboard
0cf8-0cff : PCI conf1
""")
w("/proc/iomem", """00000000-00000fff : Reserved
00001000-0009efff : System RAM
000a0000-000fffff : Reserved
00100000-3fffffff : System RAM
  01000000-01e03fff : Kernel code
""")
w("/proc/asound/cards", """ 0 [PCH            ]: HDA-Intel - HDA Intel PCH
                      HDA Intel PCH at 0xec228000 irq 133
""")
w(PCI + "/0000:00:1f.3/vendor", "0x8086\n")
w(PCI + "/0000:00:1f.3/device", "0x9d71\n")
link("/sys/class/sound/card0", "../../devices/pci0000:00/0000:00:1f.3/sound/card0")
link(PCI + "/0000:00:1f.3/sound/card0/device", "../../../0000:00:1f.3")

# ---- PCI and USB buses ----
for addr, vendor, device, cls, sub, drv in [
        ("0000:00:02.0", "0x8086", "0x5917", "0x030000", ("0x17aa", "0x2258"), "i915"),
        ("0000:00:14.0", "0x8086", "0x9d2f", "0x0c0330", ("0x17aa", "0x2258"), "xhci_hcd"),
        ("0000:00:1f.3", "0x8086", "0x9d71", "0x040380", ("0x17aa", "0x2258"), "snd_hda_intel"),
        ("0000:3c:00.0", "0x144d", "0xa808", "0x010802", ("0x144d", "0xa801"), "nvme")]:
    nested = addr == "0000:3c:00.0"  # behind the PCIe root port 1d.0
    b = PCI + ("/0000:00:1d.0/" if nested else "/") + addr
    w(b + "/vendor", vendor + "\n")
    w(b + "/device", device + "\n")
    w(b + "/class", cls + "\n")
    w(b + "/subsystem_vendor", sub[0] + "\n")
    w(b + "/subsystem_device", sub[1] + "\n")
    w(b + "/revision", "0x21\n")
    if not os.path.lexists(os.path.join(OUT, (b + "/driver").lstrip("/"))):
        link(b + "/driver", ("../" if nested else "") + "../../../bus/pci/drivers/" + drv)
    link("/sys/bus/pci/devices/" + addr, "../../../devices/pci0000:00/" + ("0000:00:1d.0/" if addr == "0000:3c:00.0" else "") + addr)
os.makedirs(os.path.join(OUT, "sys/devices/pci0000:00/0000:00:1d.0/0000:3c:00.0"), exist_ok=True)
U = PCI + "/0000:00:14.0/usb1/1-1"
w(U + "/idVendor", "046d\n")
w(U + "/idProduct", "c077\n")
w(U + "/bcdDevice", "7200\n")
w(U + "/product", "USB Optical Mouse\n")
w(U + "/manufacturer", "Logitech\n")
link("/sys/bus/usb/devices/1-1", "../../../devices/pci0000:00/0000:00:14.0/usb1/1-1")
link("/sys/bus/usb/devices/1-1:1.0", "../../../devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0")
with open(os.path.join(OUT, "usr/share/misc/pci.ids"), "a") as f:
    f.write("")
w("/usr/share/misc/usb.ids", "#\n# excerpt in the published format\n#\n046d  Logitech, Inc.\n\tc077  M105 Optical Mouse\n")

# ---- power ----
BAT = "/sys/devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0A:00/power_supply/BAT0"
for k, v in {"type": "Battery", "status": "Discharging", "present": "1", "technology": "Li-poly",
             "capacity": "87", "capacity_level": "Normal", "voltage_min_design": "11580000",
             "voltage_now": "12361000", "power_now": "6917000", "energy_full_design": "57020000",
             "energy_full": "51230000", "energy_now": "44570000", "model_name": "01AV478",
             "manufacturer": "SMP", "serial_number": "1234", "cycle_count": "212"}.items():
    w(BAT + "/" + k, v + "\n")
link("/sys/class/power_supply/BAT0", "../../devices/LNXSYSTM:00/LNXSYBUS:00/PNP0C0A:00/power_supply/BAT0")
AC = "/sys/devices/LNXSYSTM:00/LNXSYBUS:00/ACPI0003:00/power_supply/AC"
w(AC + "/type", "Mains\n")
w(AC + "/online", "0\n")
link("/sys/class/power_supply/AC", "../../devices/LNXSYSTM:00/LNXSYBUS:00/ACPI0003:00/power_supply/AC")
MOUSE_BAT = "/sys/devices/virtual/power_supply/hidpp_battery_0"
w(MOUSE_BAT + "/type", "Battery\n")
w(MOUSE_BAT + "/scope", "Device\n")
w(MOUSE_BAT + "/capacity", "40\n")
link("/sys/class/power_supply/hidpp_battery_0", "../../devices/virtual/power_supply/hidpp_battery_0")

HW = "/sys/devices/platform/coretemp.0/hwmon/hwmon2"
w(HW + "/name", "coretemp\n")
w(HW + "/temp1_input", "52000\n")
w(HW + "/temp1_label", "Package id 0\n")
w(HW + "/temp1_max", "100000\n")
w(HW + "/temp1_crit", "100000\n")
w(HW + "/temp2_input", "49000\n")
link("/sys/class/hwmon/hwmon2", "../../devices/platform/coretemp.0/hwmon/hwmon2")
TP = "/sys/devices/platform/thinkpad_hwmon/hwmon/hwmon4"
w(TP + "/name", "thinkpad\n")
w(TP + "/fan1_input", "2430\n")
w(TP + "/in0_input", "12361\n")
w(TP + "/in0_label", "battery\n")
w(TP + "/curr1_input", "560\n")
link("/sys/class/hwmon/hwmon4", "../../devices/platform/thinkpad_hwmon/hwmon/hwmon4")
# a sensor channel whose chip went away: the link dangles
link("/sys/class/hwmon/hwmon9", "../../devices/platform/gone/hwmon/hwmon9")

# ---- network ----
NET = PCI + "/0000:00:14.3"
w(NET + "/vendor", "0x8086\n")
w(NET + "/device", "0x9df0\n")
WL = NET + "/net/wlp0s20f3"
for k, v in {"address": "a4:c3:f0:12:34:56", "mtu": "1500", "operstate": "up", "type": "1",
             "ifindex": "3", "flags": "0x1003", "carrier": "1"}.items():
    w(WL + "/" + k, v + "\n")
link(WL + "/device", "../../../0000:00:14.3")
link("/sys/class/net/wlp0s20f3", "../../devices/pci0000:00/0000:00:14.3/net/wlp0s20f3")
LO = "/sys/devices/virtual/net/lo"
for k, v in {"address": "00:00:00:00:00:00", "mtu": "65536", "operstate": "unknown", "type": "772",
             "ifindex": "1", "flags": "0x9"}.items():
    w(LO + "/" + k, v + "\n")
link("/sys/class/net/lo", "../../devices/virtual/net/lo")
w("/proc/net/route", "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
  "wlp0s20f3\t00000000\t0100A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
  "wlp0s20f3\t0000A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n")

# ---- PnP devices of the firmware (the floppy controller of a docking station) ----
for node, ids in {"00:03": "PNP0700\n", "00:04": "PNP0303\n", "00:06": "PNP0c02\nPNP0700x\n"}.items():
    w(f"/sys/devices/pnp0/{node}/id", ids)
    link(f"/sys/bus/pnp/devices/{node}", f"../../../devices/pnp0/{node}")

# ---- an infrared receiver on USB (the remote-control core's view) ----
IR = PCI + "/0000:00:14.0/usb1/1-3"
for k, v in {"idVendor": "147a", "idProduct": "e03e", "bDeviceClass": "00", "product": "eHome Infrared Transceiver",
             "manufacturer": "Formosa21"}.items():
    w(IR + "/" + k, v + "\n")
w(IR + "/1-3:1.0/rc/rc0/uevent", "NAME=rc-rc6-mce\nDRV_NAME=mceusb\nDEV_NAME=Formosa21 eHome Infrared Transceiver\n")
w(IR + "/1-3:1.0/rc/rc0/protocols", "[rc-6]\n")
link(IR + "/1-3:1.0/rc/rc0/device", "../../../1-3:1.0")
link("/sys/bus/usb/devices/1-3", "../../../devices/pci0000:00/0000:00:14.0/usb1/1-3")
link("/sys/class/rc/rc0", "../../devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/rc/rc0")

# ---- a USB modem, and a board that claims AT commands but is no modem ----
for dev, tty, vid, pid, product, maker in (("1-4", "ttyACM0", "0572", "1329", "USB Modem", "Conexant"),
                                           ("1-5", "ttyACM1", "2341", "0043", "Arduino Uno", "Arduino (www.arduino.cc)")):
    D = PCI + "/0000:00:14.0/usb1/" + dev
    for k, v in {"idVendor": vid, "idProduct": pid, "bDeviceClass": "02", "product": product,
                 "manufacturer": maker}.items():
        w(D + "/" + k, v + "\n")
    I = D + "/" + dev + ":1.0"
    for k, v in {"bInterfaceClass": "02", "bInterfaceSubClass": "02", "bInterfaceProtocol": "01"}.items():
        w(I + "/" + k, v + "\n")
    w(I + f"/tty/{tty}/dev", f"166:{tty[-1]}\n")
    link(I + f"/tty/{tty}/device", "../../../" + dev + ":1.0")
    link(f"/sys/class/tty/{tty}", f"../../devices/pci0000:00/0000:00:14.0/usb1/{dev}/{dev}:1.0/tty/{tty}")
    link(f"/sys/bus/usb/devices/{dev}", f"../../../devices/pci0000:00/0000:00:14.0/usb1/{dev}")
# ModemManager's udev rules mark the board as no modem.
w("/run/udev/data/c166:1", "E:ID_MM_CANDIDATE=1\nE:ID_MM_DEVICE_IGNORE=1\n")

# ---- serial ports, hubs, buses ----
SER = "/sys/devices/pnp0/00:05/tty/ttyS0"
w(SER + "/type", "4\n")
w(SER + "/uartclk", "1843200\n")
link(SER + "/device", "../../../00:05")
link("/sys/class/tty/ttyS0", "../../devices/pnp0/00:05/tty/ttyS0")
S1 = "/sys/devices/platform/serial8250/tty/ttyS1"
w(S1 + "/type", "0\n")
link(S1 + "/device", "../../../serial8250")
link("/sys/class/tty/ttyS1", "../../devices/platform/serial8250/tty/ttyS1")
w("/sys/devices/virtual/tty/tty0/dev", "4:0\n")
link("/sys/class/tty/tty0", "../../devices/virtual/tty/tty0")
FT = PCI + "/0000:00:14.0/usb1/1-2"
for k, v in {"idVendor": "0403", "idProduct": "6001", "bDeviceClass": "00", "product": "FT232R USB UART",
             "manufacturer": "FTDI", "bcdDevice": "0600"}.items():
    w(FT + "/" + k, v + "\n")
link(FT + "/1-2:1.0/ttyUSB0/tty/ttyUSB0/device", "../../../ttyUSB0")
w(FT + "/1-2:1.0/ttyUSB0/tty/ttyUSB0/dev", "188:0\n")
link("/sys/class/tty/ttyUSB0", "../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0")
link("/sys/bus/usb/devices/1-2", "../../../devices/pci0000:00/0000:00:14.0/usb1/1-2")
ROOT = PCI + "/0000:00:14.0/usb1"
for k, v in {"idVendor": "1d6b", "idProduct": "0002", "bDeviceClass": "09", "bDeviceSubClass": "00",
             "bDeviceProtocol": "01", "bNumConfigurations": "1", "bConfigurationValue": "1",
             "product": "xHCI Host Controller", "version": " 2.00", "maxchild": "12"}.items():
    w(ROOT + "/" + k, v + "\n")
link("/sys/bus/usb/devices/usb1", "../../../devices/pci0000:00/0000:00:14.0/usb1")
for bus in ("0000:00", "0000:3c"):
    w(f"/sys/devices/pci0000:00/pci_bus/{bus}/cpuaffinity", "f\n")
    link(f"/sys/class/pci_bus/{bus}", f"../../devices/pci0000:00/pci_bus/{bus}")
