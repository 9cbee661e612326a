#!/usr/bin/env bash
# Copies the files the Linux provider reads from this computer into a fixture
# tree, keeping symbolic links as links so sysfs paths resolve as they do here.
#
#   scripts/capture-fixture.sh OUT_DIR
#
# Only small files are copied (at most CAP bytes each, default 256 KiB); the
# id databases (pci.ids, usb.ids) are left out. Files an ordinary user cannot
# read are skipped, exactly as the provider would see them.
set -u
OUT=${1:?usage: capture-fixture.sh OUT_DIR}
CAP=${CAP:-262144}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

# Recreate path P under OUT: each symlink met on the way becomes a link with
# its original target, and the walk continues at the target.
mirror() {
    local p=$1 acc="" part rest tgt
    local -a parts
    IFS=/ read -ra parts <<< "${p#/}"
    local i
    for ((i = 0; i < ${#parts[@]}; i++)); do
        part=${parts[$i]}
        [ -z "$part" ] && continue
        acc="$acc/$part"
        if [ -L "$acc" ]; then
            tgt=$(readlink "$acc")
            mkdir -p "$OUT$(dirname "$acc")"
            [ -L "$OUT$acc" ] || [ -e "$OUT$acc" ] || ln -s "$tgt" "$OUT$acc"
            rest=""
            local j
            for ((j = i + 1; j < ${#parts[@]}; j++)); do rest="$rest/${parts[$j]}"; done
            case $tgt in
                /*) mirror "$tgt$rest" ;;
                *) mirror "$(realpath -m "$(dirname "$acc")/$tgt")$rest" ;;
            esac
            return
        fi
    done
    if [ -d "$p" ]; then
        mkdir -p "$OUT$p"
    elif [ -f "$p" ] && [ -r "$p" ]; then
        mkdir -p "$OUT$(dirname "$p")"
        timeout 2 head -c "$CAP" "$p" > "$OUT$p" 2>/dev/null || rm -f "$OUT$p"
    fi
}

grab() {
    local f
    for f in "$@"; do
        [ -e "$f" ] || [ -L "$f" ] || continue
        mirror "$f"
    done
}

# Only the link itself (device nodes are not copied).
grab_link() {
    local f
    for f in "$@"; do
        [ -L "$f" ] || continue
        mkdir -p "$OUT$(dirname "$f")"
        [ -L "$OUT$f" ] || ln -s "$(readlink "$f")" "$OUT$f"
    done
}

shopt -s nullglob

# Kernel and operating system
grab /proc/cpuinfo /proc/meminfo /proc/stat /proc/filesystems
# /proc/self is whoever reads it: store the mount table under a plain "self".
mkdir -p "$OUT/proc/self" && cat /proc/self/mountinfo > "$OUT/proc/self/mountinfo"
grab /proc/sys/kernel/{hostname,domainname,osrelease,version,arch,pid_max}
grab /proc/interrupts /proc/dma /proc/ioports /proc/iomem /proc/bus/input/devices
grab /proc/asound/cards /proc/net/dev /proc/net/route /proc/net/if_inet6
for p in /proc/[0-9]*; do grab "$p/comm"; done   # the process count, and names
grab /etc/os-release /usr/lib/os-release /etc/machine-id /etc/hostname /etc/resolv.conf
grab /etc/locale.conf /etc/default/locale /run/utmp
grab /sys/firmware/acpi/pm_profile /sys/firmware/dmi/tables/DMI /sys/firmware/dmi/tables/smbios_entry_point

# Processors
grab /sys/devices/system/cpu/online
for c in /sys/devices/system/cpu/cpu[0-9]*; do
    grab "$c"/topology/{physical_package_id,core_id} "$c"/cpufreq/{scaling_cur_freq,cpuinfo_max_freq}
    for i in "$c"/cache/index*; do
        grab "$i"/{level,type,size,shared_cpu_list,ways_of_associativity,coherency_line_size,write_policy}
    done
done

# DMI identification
for f in /sys/class/dmi/id/*; do [ -f "$f" ] && grab "$f"; done

# Block devices, mounts and volume links
for b in /sys/block/*; do
    grab "$b"/{dev,size,removable,hidden,ro,serial,queue/logical_block_size}
    grab "$b"/device/{model,vendor,serial,rev,firmware_rev,type,vpd_pg80}
    for part in "$b"/"$(basename "$b")"*; do grab "$part"/{partition,dev}; done
done
grab /sys/dev/block/*
grab_link /dev/disk/by-uuid/* /dev/disk/by-label/*

# Display
for d in /sys/class/drm/*; do
    grab "$d"/{status,dpms,enabled,edid,modes} "$d"/device/{vendor,device}
    [ -L "$d/device/driver" ] && grab_link "$(realpath "$d/device")/driver"
done
for f in /sys/class/graphics/fb*; do grab "$f"/{virtual_size,bits_per_pixel}; [ -L "$f/device" ] && grab "$f/device"; done
for m in /sys/module/*/version; do grab "$m"; done

# Power supplies and sensors
for s in /sys/class/power_supply/*; do
    for f in "$s"/*; do [ -f "$f" ] && grab "$f"; done
done
for h in /sys/class/hwmon/*; do
    grab "$h"/name "$h"/{temp,fan,in,curr}*_{input,label,max,min,crit,lcrit,emergency}
done

# Network
for n in /sys/class/net/*; do
    grab "$n"/{address,mtu,operstate,speed,type,ifindex,carrier,duplex,flags}
    [ -L "$n/device" ] && grab "$n"/device/{vendor,device} && [ -L "$n/device/driver" ] && grab_link "$(realpath "$n/device")/driver"
done

# PCI and USB devices
for d in /sys/bus/pci/devices/*; do
    grab "$d"/{vendor,device,class,subsystem_vendor,subsystem_device,revision}
    [ -L "$d/driver" ] && grab_link "$(realpath "$d")/driver"
done
for d in /sys/bus/usb/devices/*; do
    grab "$d"/{idVendor,idProduct,bcdDevice,product,manufacturer,bDeviceClass,bDeviceSubClass,bDeviceProtocol}
    grab "$d"/{bNumConfigurations,bConfigurationValue,version,maxchild}
done
for c in /sys/class/sound/card*; do grab "$c"/device/{vendor,device}; done
for b in /sys/class/pci_bus/*; do grab "$b"; done

# Serial ports and tape drives
for t in /sys/class/tty/ttyS* /sys/class/tty/ttyUSB* /sys/class/tty/ttyACM* /sys/class/tty/ttyAMA*; do
    grab "$t"/{type,uartclk}
    [ -L "$t/device" ] && grab "$t/device"
done
for t in /sys/class/scsi_tape/st*; do grab "$t"/device/{vendor,model}; done

du -sh "$OUT"
