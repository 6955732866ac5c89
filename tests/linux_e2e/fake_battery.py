"""The real upowerd over a made-up power supply: umockdev's sysfs with a mains supply and a
battery, on the system bus of the environment. Run under LD_PRELOAD=libumockdev-preload.so.0.

It says "ready" once UPower is on the bus, then takes one command a line: "mains", or
"battery N" (on battery at N %), and answers each with "done" once UPower tells the change.
"""
import os
import subprocess
import sys
import time

import dbus
import gi

gi.require_version("UMockdev", "1.0")
from gi.repository import UMockdev  # noqa: E402

testbed = UMockdev.Testbed.new()
mains = testbed.add_device("power_supply", "AC", None, ["type", "Mains", "online", "1"], [])
battery = testbed.add_device("power_supply", "BAT0", None, [
    "type", "Battery", "present", "1", "status", "Charging", "energy_full", "60000000",
    "energy_full_design", "60000000", "energy_now", "48000000", "voltage_now", "12000000",
    "capacity", "80"], [])
upowerd = subprocess.Popen(["/usr/libexec/upowerd"],
                           env=dict(os.environ, UMOCKDEV_DIR=testbed.get_root_dir()),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
bus = dbus.SystemBus()


def wait(condition):
    for _ in range(600):
        if condition():
            return True
        time.sleep(0.05)
    return False


def on_battery():
    return bool(bus.get_object("org.freedesktop.UPower", "/org/freedesktop/UPower").Get(
        "org.freedesktop.UPower", "OnBattery", dbus_interface=dbus.PROPERTIES_IFACE))


def percentage():
    return float(bus.get_object("org.freedesktop.UPower",
                                "/org/freedesktop/UPower/devices/DisplayDevice").Get(
        "org.freedesktop.UPower.Device", "Percentage", dbus_interface=dbus.PROPERTIES_IFACE))


if not wait(lambda: bus.name_has_owner("org.freedesktop.UPower")):
    sys.exit("upowerd did not start")
print("ready", flush=True)
for line in sys.stdin:
    words = line.split()
    unplugged = words[0] == "battery"
    charge = int(words[1]) if unplugged else 80
    testbed.set_attribute(mains, "online", "0" if unplugged else "1")
    testbed.set_attribute(battery, "status", "Discharging" if unplugged else "Charging")
    testbed.set_attribute(battery, "energy_now", str(600000 * charge))
    testbed.set_attribute(battery, "capacity", str(charge))
    testbed.uevent(mains, "change")
    testbed.uevent(battery, "change")
    told = wait(lambda: on_battery() == unplugged and round(percentage()) == charge)
    print("done" if told else f"UPower says {on_battery()} {percentage()}", flush=True)
upowerd.terminate()
upowerd.wait()
