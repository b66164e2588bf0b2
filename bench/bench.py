#!/usr/bin/env python3
"""Benchmark of the removal on machines with large device registries.

Called by tools/bench with the test build directory. For each size it seeds
one Wine prefix with an earlier installation of the phone among a device
population in all three control sets, keeps a copy of its registry, and then,
each time on a fresh copy of that registry:
  - counts the registry calls of the program's removal (bench_count program)
    and of the reference (bench_count reference), in process;
  - times Quellin9.exe /R (Windows XP as Wine reports it) and the reference
    program (bench_reference remove) as whole processes, alternating, after
    one untimed warm-up run of each (the first run after seeding reads a cold
    registry and files and is no measure of the program);
  - times a start-up probe (bench_reference noop) in every session: Wine's
    process start-up, subtracted from both;
  - checks that the program and the reference leave the same registry and
    files.
Then it measures the waiting wizard (bench_wizard), reads the exe's size and
writes build/bench/results.json, table.md and removal-time.png.
It prints figures and never fails on time: the exit code is 1 only when
something could not be measured or the two removals disagree.
"""
import argparse
import hashlib
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE = os.environ["WINE"]
WINESERVER = os.path.join(os.path.dirname(WINE), "wineserver")

# The machine the removal suite seeds (tests/machine.py) is the benchmark's
# too; the population of other devices is added around it.
sys.path.insert(0, os.path.join(ROOT, "tests"))
import machine  # noqa: E402
from machine import (CONTROL_SETS, IF_COMPORT, IF_MODEM, IF_USB, LASTGOOD_KEY,  # noqa: E402
                     MODEM_CLASS, PORTS_CLASS, PORTS_KEY, USB_CLASS)
EXPORTED = machine.EXPORTED
# Keys Wine writes anew in every session (the display adapter's), whatever ran.
SESSION_NOISE = ["K SYSTEM\\CurrentControlSet\\Control\\Video\\", "V SYSTEM\\CurrentControlSet\\Control\\Video\\"]
# The service manager's start counter changes with every run, whatever ran.
SESSION_NOISE_VALUES = ["\tDriverDateData\t", "\tServiceCurrent\t"]
# COM numbers the machine already holds; the population takes others.
PHONE_PORTS = sorted(set(machine.ports("ControlSet001") + machine.ports("ControlSet002") + machine.OTHER_PORTS))

# Setup classes of the population's driver keys (the three above first).
SETUP_CLASSES = [(USB_CLASS, "USB"), (MODEM_CLASS, "Modem"), (PORTS_CLASS, "Ports")] + [
    ("{%08X-E325-11CE-BFC1-08002BE10318}" % (0x4D36E900 + i), "Class%02d" % i) for i in range(17)]


def interface_classes(count):
    """The phone's three interface classes and count - 3 others."""
    return [IF_USB, IF_MODEM, IF_COMPORT] + [
        "{%08X-%04X-11D2-8F4A-00C04F79%04X}" % (0x6BDD1FC0 + i * 7919, 0x1000 + i, i) for i in range(count - 3)]


def population(size, classes):
    """Seed lines of `size` device interface keys per control set over
    `classes` interface classes: size/4 USB device instances (four
    interfaces each, a driver key each), size/50 of them serial ports with a
    Ports value, size/100 last-known-good entries."""
    lines = []
    add = lines.append
    devices = size // 4
    port_count = size // 50
    iface_classes = interface_classes(classes)
    free_ports = [n for n in range(1, port_count + len(PHONE_PORTS) + 1) if n not in PHONE_PORTS]
    ports = {}
    records = []
    for d in range(devices):
        vid = 0x0400 + (d // 2) % 3000
        device_id = "VID_%04X&PID_%04X" % (vid, 0x1000 + d // 2)
        instance = "%d&%08X&0&%d" % (5 + d % 3, 0x1F2E3D4C ^ (d * 2654435761 & 0xFFFFFFFF), d % 8)
        setup_class, class_name = SETUP_CLASSES[d % len(SETUP_CLASSES)]
        number = "%04d" % (100 + d // len(SETUP_CLASSES))  # none of the machine's driver keys
        port = None
        if class_name == "Ports" and len(ports) < len(free_ports):
            port = "COM%d" % free_ports[len(ports)]
            ports[port] = d
        records.append((device_id, instance, setup_class, class_name, number, port, d))
    for cs in CONTROL_SETS:
        control = rf"SYSTEM\{cs}\Control"
        for setup_class, class_name in SETUP_CLASSES:
            add(f"sz\t{control}\\Class\\{setup_class}\tClass\t{class_name}")
        for device_id, instance, setup_class, class_name, number, port, d in records:
            key = rf"SYSTEM\{cs}\Enum\USB\{device_id}\{instance}"
            description = "%s device %d" % (class_name, d)
            add(f"sz\t{key}\tDriver\t{setup_class}\\{number}")
            add(f"sz\t{key}\tDeviceDesc\t{description}")
            add(f"multi_sz\t{key}\tHardwareID\tUSB\\{device_id}&REV_0100\tUSB\\{device_id}")
            add(f"sz\t{key}\tClass\t{class_name}")
            add(f"sz\t{key}\tClassGUID\t{setup_class}")
            add(f"sz\t{key}\tMfg\tMaker {d % 97}")
            if port:
                add(f"sz\t{key}\\Device Parameters\tPortName\t{port}")
            driver = rf"{control}\Class\{setup_class}\{number}"
            add(f"sz\t{driver}\tInfPath\toem{100 + d % 300}.inf")
            add(f"sz\t{driver}\tDriverDesc\t{description}")
            add(f"sz\t{driver}\tProviderName\tMaker {d % 97}")
            add(f"sz\t{driver}\tDriverVersion\t1.{d % 10}.0.0")
            for k in range(4):
                iface = iface_classes[(4 * d + k) % classes]
                name = "##?#USB#%s#%s#%s" % (device_id, instance, iface)
                add(f"sz\t{control}\\DeviceClasses\\{iface}\\{name}\tDeviceInstance\tUSB\\{device_id}\\{instance}")
        all_ports = sorted([int(p[3:]) for p in ports] + machine.ports(cs) + machine.OTHER_PORTS)
        data = bytearray(max(32, (all_ports[-1] + 7) // 8))
        for n in all_ports:
            data[(n - 1) // 8] |= 1 << ((n - 1) % 8)
        add(f"binary\t{control}\\COM Name Arbiter\tComDB\t{data.hex()}")
    for port in ports:
        add(f"sz\t{PORTS_KEY}\t{port}:\t9600,n,8,1")
    for i in range(size // 100):
        add(f"dword\t{LASTGOOD_KEY}\tINF\\oem{100 + i}.inf\t1")
    return lines


def phone_lines():
    """The machine's registry, devices and services (its files: seed_files)."""
    return [line for line in machine.seed_lines() if not line.startswith("file\t")]


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_hex(data):
    return ",".join("%02x" % b for b in data)


def append_to_system_reg(path, lines):
    """Writes seed lines (the helper's format) straight into the prefix's
    system.reg while no server runs: the server loads the file as it would
    have saved it, far faster than setting every value through the API."""
    keys = {}
    for line in lines:
        f = line.split("\t")
        values = keys.setdefault(f[1], [])
        if f[0] == "key":
            continue
        op, name = f[0], f[2]
        if op == "sz":
            data = reg_string(f[3])
        elif op == "dword":
            data = "dword:%08x" % int(f[3], 0)
        elif op == "multi_sz":
            data = "hex(7):" + reg_hex(("\0".join(f[3:]) + "\0\0").encode("utf-16-le"))
        elif op == "binary":
            data = "hex:" + reg_hex(bytes.fromhex(f[3]))
        else:
            raise ValueError("cannot write %s into system.reg" % op)
        values.append("%s=%s" % (reg_string(name), data))
    stamp = int(time.time())
    with open(path, "a", encoding="ascii", newline="\n") as out:
        for key, values in keys.items():
            out.write("\n[%s] %d\n" % (key.replace("\\", "\\\\"), stamp))
            for value in values:
                out.write(value + "\n")


def seed_files(drive_c, size):
    """The machine's INF copies and driver files, and size/200 other OEM INFs."""
    for line in machine.seed_lines():
        f = line.split("\t")
        if f[0] != "file":
            continue
        path = os.path.join(drive_c, *f[1][3:].split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if os.path.exists(path):
            os.chmod(path, 0o644)
        with open(path, "wb") as out:
            out.write(bytes.fromhex(f[2]))
        if f[3:] == ["readonly"]:
            os.chmod(path, 0o444)
    for i in range(size // 200):
        write(os.path.join(drive_c, "windows", "inf", "oem%d.inf" % (100 + i)),
              machine.inf_text(r"USB\VID_%04X&PID_1000" % (0x400 + i)))


def write(path, text):
    with open(path, "w", newline="") as f:
        f.write(text)


# ---------------------------------------------------------------- Wine

class Prefix:
    """One prefix per size; its registry files are kept after seeding and put
    back before every session, so each run starts from the same machine."""

    def __init__(self, out, name):
        self.dir = os.path.join(out, name)
        self.path = os.path.join(self.dir, "prefix")
        self.saved = os.path.join(self.dir, "registry")
        self.drive_c = os.path.join(self.path, "drive_c")
        self.env = dict(os.environ, WINEPREFIX=self.path)

    def wine(self, *args, timeout=900):
        result = subprocess.run([WINE] + list(args), env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                stdin=subprocess.DEVNULL, timeout=timeout)
        return result.returncode, result.stdout.decode("gbk", "replace"), result.stderr.decode("gbk", "replace")

    def start(self):
        subprocess.run([WINESERVER, "-p"], env=self.env, check=True)
        # The first process after a server start hands its output to the
        # services it starts: warm the server with nowhere to write.
        subprocess.run([WINE, "wineboot"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL)

    def stop(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=self.env, stderr=subprocess.DEVNULL)

    def save_registry(self):
        os.makedirs(self.saved, exist_ok=True)
        for name in ["system.reg", "user.reg", "userdef.reg"]:
            shutil.copy2(os.path.join(self.path, name), os.path.join(self.saved, name))

    def restore_registry(self):
        for name in ["system.reg", "user.reg", "userdef.reg"]:
            shutil.copy2(os.path.join(self.saved, name), os.path.join(self.path, name))


def ensure_pristine(out):
    pristine = os.path.join(out, "pristine")
    if os.path.exists(os.path.join(pristine, ".ready")):
        return pristine
    shutil.rmtree(pristine, ignore_errors=True)
    os.makedirs(out, exist_ok=True)
    env = dict(os.environ, WINEPREFIX=pristine)
    subprocess.run([WINE, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINE, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-k"], env=env, stderr=subprocess.DEVNULL)
    subprocess.run([WINESERVER, "-w"], env=env, stderr=subprocess.DEVNULL)
    open(os.path.join(pristine, ".ready"), "w").close()
    return pristine


def install_programs(prefix, build):
    bench = os.path.join(prefix.drive_c, "bench")
    os.makedirs(os.path.join(bench, "Setup"), exist_ok=True)
    for name in ["bench_reference.exe", "bench_count.exe", "bench_timer.exe", "bench_wizard.exe"]:
        shutil.copy(os.path.join(build, "bench", name), os.path.join(bench, name))
    shutil.copy(os.path.join(build, "tests", "robot.exe"), os.path.join(bench, "helper.exe"))
    shutil.copy(os.path.join(build, "dist", "Setup", "Quellin9.exe"), os.path.join(bench, "Setup", "Quellin9.exe"))
    drivers = os.path.join(bench, "Drivers")
    shutil.rmtree(drivers, ignore_errors=True)
    shutil.copytree(os.path.join(build, "dist", "Drivers"), drivers)


def seed_prefix(out, pristine, build, size, classes, log):
    prefix = Prefix(out, "size-%d" % size)
    # A seeded prefix is kept between runs for as long as its seed is the same.
    with open(os.path.abspath(__file__), "rb") as f:
        recipe = hashlib.sha256(f.read()).hexdigest()[:12]
    marker = os.path.join(prefix.dir, ".seeded-%d-%s" % (classes, recipe))
    if os.path.exists(marker):
        install_programs(prefix, build)
        log("size %d: seeded prefix kept from an earlier run" % size)
        return prefix
    shutil.rmtree(prefix.dir, ignore_errors=True)
    os.makedirs(prefix.dir)
    subprocess.run(["cp", "-a", pristine, prefix.path], check=True)
    install_programs(prefix, build)
    started = time.time()
    prefix.start()
    try:
        # The phone through the API (devices and services need it), the
        # population straight into the registry file below.
        seed = os.path.join(prefix.drive_c, "bench", "seed.txt")
        write(seed, "\n".join(phone_lines()) + "\n")
        code, _, err = prefix.wine(r"C:\bench\helper.exe", "seed", r"C:\bench\seed.txt")
        if code != 0:
            raise RuntimeError("seeding failed: " + err[:2000])
        prefix.wine("reg", "add", r"HKCU\Software\Wine\AppDefaults\Quellin9.exe", "/v", "Version", "/d", "winxp",
                    "/f")
        os.remove(seed)
    finally:
        prefix.stop()
    append_to_system_reg(os.path.join(prefix.path, "system.reg"), population(size, classes))
    prefix.save_registry()
    open(marker, "w").close()
    log("size %d: seeded in %.0f s (system.reg %.1f MB)" % (
        size, time.time() - started, os.path.getsize(os.path.join(prefix.path, "system.reg")) / 1e6))
    return prefix


def parse(text):
    facts = {}
    boxes = []
    for line in text.splitlines():
        if line.startswith("box "):
            boxes.append(line[4:])
            continue
        parts = line.split(" ", 1)
        if len(parts) == 2:
            facts.setdefault(parts[0], []).append(parts[1].strip())
    return facts, boxes


class Session:
    """A running server on a freshly restored copy of the seeded machine."""

    def __init__(self, prefix, size):
        self.prefix = prefix
        self.size = size

    def __enter__(self):
        self.prefix.restore_registry()
        seed_files(self.prefix.drive_c, self.size)
        self.prefix.start()
        return self

    def __exit__(self, *exc):
        self.prefix.stop()

    def timed(self, *command, attempts=2):
        """Wall time of the command's process (measured inside Wine) and the
        CPU it and the Wine server used (read from /proc while it runs). Wine
        now and then fails to start a process (error 1359): once more then."""
        server = unix_process(self.prefix.path, "wineserver")
        server_before = cpu_ticks(server)
        process = subprocess.Popen([WINE, r"C:\bench\bench_timer.exe", "900"] + list(command), env=self.prefix.env,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        exe = command[0].rsplit("\\", 1)[-1].lower()
        measured = None
        client_ticks = 0
        while process.poll() is None:
            if measured is None:
                measured = unix_process(self.prefix.path, exe, first_argument=True)
            if measured is not None:
                try:
                    client_ticks = cpu_ticks(measured)
                except (OSError, IndexError):
                    pass
            time.sleep(0.02)
        out, err = process.communicate()
        server_after = cpu_ticks(server)
        out = out.decode("gbk", "replace")
        facts, boxes = parse(out)
        if (process.returncode != 0 or "elapsed_ms" not in facts) and "cannot_start" in out and attempts > 1:
            return self.timed(*command, attempts=attempts - 1)
        if process.returncode != 0 or "elapsed_ms" not in facts:
            raise RuntimeError("timing %s failed: %s %s" % (" ".join(command), out, err.decode("gbk", "replace")[:2000]))
        tick = 1000.0 / os.sysconf("SC_CLK_TCK")
        return float(facts["elapsed_ms"][0]), (client_ticks + server_after - server_before) * tick, boxes

    def startup_probes(self, count):
        return [self.timed(r"C:\bench\bench_reference.exe", "noop")[:2] for _ in range(count)]

    def count(self, mode):
        code, out, err = self.prefix.wine(r"C:\bench\bench_count.exe", mode)
        facts, boxes = parse(out)
        if "calls_total" not in facts:
            raise RuntimeError("counting %s failed: %s %s" % (mode, out, err[:2000]))
        return facts, boxes

    def export(self, name):
        out = "C:\\bench\\" + name
        code, _, err = self.prefix.wine(r"C:\bench\helper.exe", "export", out, *EXPORTED)
        if code != 0:  # Wine's occasional failure to start a process: once more
            code, _, err = self.prefix.wine(r"C:\bench\helper.exe", "export", out, *EXPORTED)
        if code != 0:
            raise RuntimeError("export failed: " + err[:2000])
        path = os.path.join(self.prefix.drive_c, "bench", name)
        with open(path, encoding="latin-1") as f:
            lines = [line for line in f.read().splitlines()
                     if not line.startswith(tuple(SESSION_NOISE)) and not any(v in line for v in SESSION_NOISE_VALUES)]
        os.remove(path)
        return lines

    def files(self):
        found = {}
        windows = os.path.join(self.prefix.drive_c, "windows")
        for folder in ["inf", "LastGood", os.path.join("system32", "drivers")]:
            for base, _, names in os.walk(os.path.join(windows, folder)):
                for n in names:
                    full = os.path.join(base, n)
                    with open(full, "rb") as f:
                        found[os.path.relpath(full, windows).lower()] = hashlib.sha256(f.read()).hexdigest()
        return found


# ---------------------------------------------------------------- measuring

def measure_size(prefix, size, runs, log):
    result = {"size": size, "program_ms": [], "reference_ms": [], "startup_ms": [], "boxes": [],
              "program_cpu_ms": [], "reference_cpu_ms": [], "startup_cpu_ms": []}
    # In-process counts: the program, the reference (with its phases).
    for mode in ["program", "reference"]:
        with Session(prefix, size) as s:
            facts, boxes = s.count(mode)
        for key in "calls_total", "time_ms", "devices_listed", "listing_ms":
            result[mode + "_" + key] = float(facts[key][0])
        result[mode + "_calls_by_function"] = {v.split()[0]: int(v.split()[1]) for v in facts.get("calls", [])}
        result[mode + "_steps"] = [{"name": v.split()[0], "ms": float(v.split()[1]), "calls": int(v.split()[2])}
                                   for v in facts.get("step", [])]
        result["boxes"] += ["count %s: %s" % (mode, b) for b in boxes]
        log("size %d: %s: %d registry calls, %.0f ms in process, %.0f ms of it listing %d devices" % (
            size, mode, result[mode + "_calls_total"], result[mode + "_time_ms"], result[mode + "_listing_ms"],
            result[mode + "_devices_listed"]))
    # Whole processes, alternating after one warm-up run of each; the first
    # timed run of each is also exported. Below 5,000 a run takes well under
    # a second and one run's noise is of its size: five runs at least there.
    after = {}
    for run in range(-1, runs if size >= 5000 else max(runs, 5)):
        for who, command in [("program", [r"C:\bench\Setup\Quellin9.exe", "/R"]),
                             ("reference", [r"C:\bench\bench_reference.exe", "remove"])]:
            with Session(prefix, size) as s:
                if run < 0:
                    s.timed(*command)
                    continue
                for ms, cpu in s.startup_probes(2):
                    result["startup_ms"].append(ms)
                    result["startup_cpu_ms"].append(cpu)
                ms, cpu, boxes = s.timed(*command)
                result[who + "_ms"].append(ms)
                result[who + "_cpu_ms"].append(cpu)
                result["boxes"] += ["%s: %s" % (who, b) for b in boxes]
                if run == 0:
                    after[who] = (s.export("after.txt"), s.files())
            log("size %d: %s run %d: %.0f ms, %.0f ms CPU" % (size, who, run + 1, ms, cpu))
    with Session(prefix, size) as s:
        before = s.export("before.txt")
    program_reg, program_files = after["program"]
    reference_reg, reference_files = after["reference"]
    result["same_registry"] = program_reg == reference_reg
    result["same_files"] = program_files == reference_files
    result["registry_lines_before"] = len(before)
    result["seeded_interfaces"] = sum(1 for line in before if line.startswith(
        "V SYSTEM\\ControlSet001\\Control\\DeviceClasses\\") and "\tDeviceInstance\t" in line)
    result["registry_lines_removed"] = len(set(before) - set(program_reg))
    if not result["same_registry"]:
        only_program = sorted(set(program_reg) - set(reference_reg))
        only_reference = sorted(set(reference_reg) - set(program_reg))
        result["registry_difference"] = {"only_after_program": only_program[:20],
                                         "only_after_reference": only_reference[:20]}
    return result


def unix_process(prefix_path, needle, first_argument=False):
    """Linux pid of the Wine process of this prefix whose command line (or,
    with first_argument, its program name) holds needle."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read().decode("latin-1")
            with open("/proc/%s/environ" % pid, "rb") as f:
                environ = f.read().decode("latin-1").split("\0")
        except OSError:
            continue
        if first_argument:
            cmdline = cmdline.split("\0", 1)[0]
        if needle.lower() in cmdline.lower() and "WINEPREFIX=" + prefix_path in environ:
            return int(pid)
    return None


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def context_switches(pid):
    """Context switches of each thread of the process: {tid: (name, count)}."""
    threads = {}
    for task in os.listdir("/proc/%d/task" % pid):
        count = 0
        with open("/proc/%d/task/%s/status" % (pid, task)) as f:
            for line in f:
                if line.startswith("Name:"):
                    name = line.split(None, 1)[1].strip() if len(line.split()) > 1 else "?"
                if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                    count += int(line.split()[1])
        threads[task] = (name, count)
    return threads


def measure_wizard(prefix, log):
    tick = os.sysconf("SC_CLK_TCK")
    result = {}
    with Session(prefix, 0):
        process = subprocess.Popen([WINE, r"C:\bench\bench_wizard.exe", r"C:\bench\Setup\Quellin9.exe"],
                                   env=prefix.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                   stdin=subprocess.DEVNULL)
        pid = server = None
        marks = {}
        try:
            for raw in process.stdout:
                line = raw.decode("latin-1").strip()
                key, _, value = line.partition(" ")
                if key == "wizard_ready":
                    pid = unix_process(prefix.path, "Quellin9.exe")
                    server = unix_process(prefix.path, "wineserver")
                elif key in ("idle_start", "idle_end") and pid:
                    marks[key] = (time.time(), cpu_ticks(pid), context_switches(pid),
                                  cpu_ticks(server) if server else 0)
                elif key == "error":
                    raise RuntimeError("wizard: " + value)
                else:
                    result[key] = value
            process.wait(timeout=120)
        finally:
            if process.poll() is None:
                process.kill()
    if pid is None or "idle_end" not in marks:
        raise RuntimeError("the waiting wizard could not be observed")
    (t0, c0, s0, w0), (t1, c1, s1, w1) = marks["idle_start"], marks["idle_end"]
    result["idle_seconds"] = round(t1 - t0, 2)
    result["idle_cpu_ms"] = (c1 - c0) * 1000.0 / tick
    result["idle_context_switches"] = sum(n for _, n in s1.values()) - sum(n for _, n in s0.values())
    # Which threads woke up: the window thread, or Wine's own helpers.
    result["idle_switches_by_thread"] = {"%s (%s)" % (name, tid): n - s0.get(tid, (name, 0))[1]
                                         for tid, (name, n) in s1.items() if n - s0.get(tid, (name, 0))[1]}
    result["idle_wineserver_cpu_ms"] = (w1 - w0) * 1000.0 / tick
    result["clock_tick_ms"] = 1000.0 / tick
    log("wizard: %.0f ms CPU over %.1f s waiting, %d context switches; latencies %s ms" % (
        result["idle_cpu_ms"], result["idle_seconds"], result["idle_context_switches"],
        ", ".join(result.get("latency_ms_%d" % k, "?") for k in range(1, 5))))
    return result


# ---------------------------------------------------------------- report

def summarise(sizes):
    """Per size: medians less the start-up probe's, ratios to the reference, growth from the size before."""
    startup = statistics.median([ms for r in sizes for ms in r["startup_ms"]])
    startup_cpu = statistics.median([ms for r in sizes for ms in r["startup_cpu_ms"]])
    rows = []
    for r in sizes:
        row = {"size": r["size"]}
        for who in "program", "reference":
            row[who + "_ms"] = statistics.median(r[who + "_ms"]) - startup
            row[who + "_cpu_ms"] = statistics.median(r[who + "_cpu_ms"]) - startup_cpu
            row[who + "_inprocess_ms"] = r[who + "_time_ms"]
            row[who + "_calls"] = r[who + "_calls_total"]
        for key, name in [("ms", "ratio"), ("cpu_ms", "cpu_ratio"), ("inprocess_ms", "inprocess_ratio"),
                          ("calls", "call_ratio")]:
            row[name] = row["program_" + key] / row["reference_" + key] if row["reference_" + key] > 0 else None
        if rows and rows[-1]["size"] > 0:
            for key in [k for k in row if k.startswith(("program_", "reference_"))]:
                row["growth_" + key] = row[key] / rows[-1][key] if rows[-1][key] > 0 else None
        rows.append(row)
    return startup, startup_cpu, rows


def fmt(value, pattern="%.2f"):
    return "-" if value is None else pattern % value


def table(rows):
    columns = [("Interface keys per control set", "size", "%d"), ("Quellin9.exe /R (ms)", "program_ms", "%.0f"),
               ("Reference (ms)", "reference_ms", "%.0f"), ("Ratio", "ratio", "%.2f"),
               ("Registry calls, program", "program_calls", "%d"), ("Registry calls, reference", "reference_calls", "%d"),
               ("Call ratio", "call_ratio", "%.2f"), ("Growth, program", "growth_program_ms", "%.2f"),
               ("Growth, reference", "growth_reference_ms", "%.2f"),
               ("Growth of calls, program", "growth_program_calls", "%.2f")]
    second = [columns[0], ("CPU, program (ms)", "program_cpu_ms", "%.0f"), ("CPU, reference (ms)", "reference_cpu_ms",
              "%.0f"), ("CPU ratio", "cpu_ratio", "%.2f"), ("Growth of CPU, program", "growth_program_cpu_ms", "%.2f"),
              ("In process, program (ms)", "program_inprocess_ms", "%.0f"),
              ("In process, reference (ms)", "reference_inprocess_ms", "%.0f"),
              ("In-process ratio", "inprocess_ratio", "%.2f"),
              ("Growth in process, program", "growth_program_inprocess_ms", "%.2f")]
    out = []
    for cols in columns, second:
        out += ["| " + " | ".join(c[0] for c in cols) + " |", "|" + "---:|" * len(cols)]
        out += ["| " + " | ".join(fmt(r.get(key), pattern) for _, key, pattern in cols) + " |" for r in rows] + [""]
    return "\n".join(out[:-1])


def plot(rows, path, arch):
    data = path + ".dat"
    with open(data, "w") as f:
        for r in rows:
            f.write("%d %.1f %.1f %.1f %.1f\n" % (r["size"], r["program_ms"], r["reference_ms"], r["program_cpu_ms"],
                                                 r["reference_cpu_ms"]))
    cairo = b"pngcairo" in subprocess.run(["gnuplot", "-e", "set terminal"], stdout=subprocess.PIPE,
                                          stderr=subprocess.STDOUT).stdout
    line = "'%s' using 1:%d with linespoints lw %d %s pt %d lc rgb '%s' title '%s'"
    script = "\n".join([
        "set terminal pngcairo size 900,560 font 'DejaVu Sans,10'" if cairo else "set terminal png size 900,560",
        "set output '%s'" % path,
        "set title 'Removal on a large device registry (%s Wine, Windows XP road, process start-up subtracted)'" % arch,
        "set xlabel 'device interface keys per control set (three control sets)'", "set ylabel 'milliseconds'",
        "set key top left", "set grid", "set xrange [0:*]", "set yrange [0:*]",
        "plot " + ", ".join(line % (data, column, width, dash, point, colour, title) for column, width, dash, point,
                            colour, title in [(2, 2, "", 7, "#c0392b", "Quellin9.exe /R, elapsed"),
                                              (3, 2, "", 5, "#2471a3", "reference, elapsed"),
                                              (4, 1, "dt 2", 6, "#c0392b", "Quellin9.exe /R, CPU (process + wineserver)"),
                                              (5, 1, "dt 2", 4, "#2471a3", "reference, CPU (process + wineserver)")]),
    ])
    subprocess.run(["gnuplot"], input=script.encode(), check=True)
    os.remove(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build", help="the test build directory (build/tests-i686 or build/tests-x86_64)")
    parser.add_argument("--sizes", default="0,5000,10000,20000",
                        help="device interface keys per control set, comma-separated")
    parser.add_argument("--classes", type=int, default=200, help="interface classes")
    parser.add_argument("--runs", type=int, default=1,
                        help="timed whole-process runs of each removal per size (at least 5 below 5000), after one "
                        "warm-up run of each")
    parser.add_argument("--shipped", help="the shipped 32-bit exe, for its size")
    parser.add_argument("--no-wizard", action="store_true")
    parser.add_argument("--arch", help="the architecture of the test build and of Wine (i686 or x86_64); "
                        "by default the build directory's suffix")
    args = parser.parse_args()
    arch = args.arch or os.path.basename(os.path.normpath(args.build)).rsplit("-", 1)[-1]
    build = os.path.abspath(args.build)
    out = os.path.join(ROOT, "build", "bench")
    os.makedirs(out, exist_ok=True)
    began = time.time()

    def log(text):
        print("[%4.0f s] %s" % (time.time() - began, text), flush=True)

    pristine = ensure_pristine(out)
    sizes, failures, wizard = [], [], None
    for size in [int(s) for s in args.sizes.split(",")]:
        prefix = seed_prefix(out, pristine, build, size, args.classes, log)
        result = measure_size(prefix, size, args.runs, log)
        if result["seeded_interfaces"] < size:
            failures.append("size %d: only %d interface keys were seeded" % (size, result["seeded_interfaces"]))
        if not result["same_registry"] or not result["same_files"]:
            failures.append("size %d: the program and the reference left different machines" % size)
        sizes.append(result)
        if wizard is None and not args.no_wizard:
            wizard = measure_wizard(prefix, log)

    startup, startup_cpu, rows = summarise(sizes)
    exe = {label: os.path.getsize(path) for label, path in [
        ("shipped_i686", args.shipped), ("test_build_" + arch, os.path.join(build, "dist", "Setup", "Quellin9.exe"))]
        if path and os.path.exists(path)}
    wine = subprocess.run([WINE, "--version"], stdout=subprocess.PIPE, text=True).stdout.strip()
    text = "Measured with the %s test build in %s Wine (%s).\n\n" % (arch, arch, wine) + table(rows)
    png = os.path.join(out, "removal-time.png")
    plot(rows, png, arch)
    results = {"arch": arch, "wine": wine, "startup_ms": startup, "startup_cpu_ms": startup_cpu, "rows": rows,
               "sizes": sizes, "wizard": wizard, "exe_bytes": exe, "classes": args.classes, "runs": args.runs,
               "seconds": round(time.time() - began)}
    with open(os.path.join(out, "results.json"), "w") as f:
        json.dump(results, f, indent=1)
    with open(os.path.join(out, "table.md"), "w") as f:
        f.write(text + "\n")

    print("\nWine process start-up (probe loading the same DLLs), median of %d: %.1f ms wall, %.1f ms CPU; "
          "subtracted below" % (sum(len(r["startup_ms"]) for r in sizes), startup, startup_cpu))
    print(text + "\n")
    for r, row in zip(sizes, rows):
        print("size %d: same registry and files after both removals: %s; %d of %d registry lines removed; "
              "devices listed: program %d in %.0f ms, reference %d in %.0f ms; within 1.5 times the reference's "
              "calls and 2 times its time: %s" % (
                  r["size"], "yes" if r["same_registry"] and r["same_files"] else "NO", r["registry_lines_removed"],
                  r["registry_lines_before"], r["program_devices_listed"], r["program_listing_ms"],
                  r["reference_devices_listed"], r["reference_listing_ms"],
                  "yes" if row["call_ratio"] <= 1.5 and (row["ratio"] or 0) <= 2 else "NO"))
        if r["boxes"]:
            print("    boxes: " + "; ".join(r["boxes"][:10]))
    last = sizes[-1]
    print("phases of the reference at size %d (ms/registry calls): %s" % (
        last["size"], ", ".join("%s %.0f/%d" % (s["name"], s["ms"], s["calls"]) for s in last["reference_steps"])))
    if wizard:
        print("waiting wizard: %.0f ms CPU in %.1f s (clock tick %.0f ms), %d context switches, wineserver %.0f ms; "
              "WM_DEVICECHANGE to new bar position: %s ms; round trip of a check: median %s ms" % (
                  wizard["idle_cpu_ms"], wizard["idle_seconds"], wizard["clock_tick_ms"],
                  wizard["idle_context_switches"], wizard["idle_wineserver_cpu_ms"],
                  ", ".join(wizard.get("latency_ms_%d" % k, "?") for k in range(1, 5)),
                  wizard.get("roundtrip_median_ms", "?")))
    for label, size in exe.items():
        print("exe size (%s): %d bytes (%.1f KB)" % (label, size, size / 1024.0))
    print("plot: %s; figures: %s" % (png, os.path.join(out, "results.json")))
    print("benchmark took %.0f s" % (time.time() - began))
    for f in failures:
        print("PROBLEM: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
