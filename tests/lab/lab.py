#!/usr/bin/env python3
"""The host's side of the lab: boots the guest in QEMU and does what its tests ask.

Usage: lab.py RUN_DIR KERNEL INITRD SENSOR ROOT WORK MODULES [--shell] [--append ARGS]
              [--share TAG=DIR]... [--accel kvm|tcg]

The guest has the console on ttyS0, a 16550A on ttyS1 and an FTDI adapter on USB, both fed from
Unix sockets in RUN_DIR by SENSOR (the simulated sensor), and a control line (virtio-serial
port "lab") on which its tests ask, one line at a time, for what only the host can do: feed a
line, pull the adapter out or plug it back in (QMP), send a break. Every request is answered
with a line that starts with "ok" or "error". ROOT is the guest's root (read-only, under a tmpfs
overlay), WORK the checkout with its build, MODULES the kernel's modules, all shared by 9p; the
guest writes its results into RUN_DIR/out. Each --share gives the guest DIR, read-only, at
/lab/TAG.

Plain emulation is used where KVM does not boot the guest (nothing on its console in 10 s, or
no hello in 30 s); --accel names the one to use. The accelerator that ran is written to
RUN_DIR/accel.
"""

import json
import re
import os
import select
import signal
import socket
import subprocess
import sys
import threading
import time

LINES = {"uart": "uart.sock", "usb": "usb.sock"}
ADAPTER = "driver=usb-serial,id=adapter,chardev=usb,always-plugged=on"
TRACED = ["serial_update_parameters", "usb_serial_set_baud", "usb_serial_set_data",
          "usb_serial_handle_control"]


class Qmp:
    """QEMU's machine protocol: one command at a time, events kept for whoever waits."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX)
        self.sock.connect(path)
        self.file = self.sock.makefile("rw")
        self.events = []
        json.loads(self.file.readline())  # the greeting
        self.command("qmp_capabilities")

    def _message(self):
        line = self.file.readline()
        if not line:
            raise RuntimeError("QMP closed")
        return json.loads(line)

    def command(self, name, **arguments):
        self.file.write(json.dumps({"execute": name, "arguments": arguments}) + "\n")
        self.file.flush()
        while True:
            message = self._message()
            if "event" in message:
                self.events.append(message)
            elif "error" in message:
                return "error " + message["error"].get("desc", "")
            else:
                return "ok"

    def wait_event(self, name, timeout):
        deadline = time.monotonic() + timeout
        while True:
            for event in self.events:
                if event["event"] == name:
                    self.events.remove(event)
                    return True
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.sock], [], [], left)[0]:
                return False
            self.events.append(self._message())


class Lab:
    def __init__(self, args):
        (self.run, self.kernel, self.initrd, self.sensor, self.root, self.work,
         self.modules) = args[:7]
        self.shell = "--shell" in args
        self.append = args[args.index("--append") + 1] if "--append" in args else ""
        self.shares = [args[i + 1].split("=", 1) for i, arg in enumerate(args) if arg == "--share"]
        if self.shares:
            self.append += " thermometer.lab.shares=" + ",".join(tag for tag, _ in self.shares)
        self.feeds = {}
        self.qemu = None
        self.qmp = None
        self.accel = None
        self.accels = [args[args.index("--accel") + 1]] if "--accel" in args else ["kvm", "tcg"]
        os.makedirs(os.path.join(self.run, "out"), exist_ok=True)

    def path(self, name):
        return os.path.join(self.run, name)

    def qemu_command(self, accel):
        def share(tag, path, readonly=True):
            return ["-virtfs", f"local,path={path},mount_tag={tag},security_model=none,"
                    f"multidevs=remap{',readonly=on' if readonly else ''}"]
        console = "mon:stdio" if self.shell else f"file:{self.path('console.log')}"
        command = [
            "qemu-system-x86_64", "-accel", accel, "-m", "3072", "-smp", "1",
            "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
            "-kernel", self.kernel, "-initrd", self.initrd,
            "-append", f"console=ttyS0 loglevel=5 panic=-1 thermometer.lab={accel} {self.append}",
            "-serial", console,
            # The sensor's lines: telnet, for its BREAK command.
            "-chardev", f"socket,id=uart,path={self.path('uart.sock')},server=on,wait=off,"
                        "telnet=on",
            "-serial", "chardev:uart",
            "-device", "qemu-xhci,id=xhci",
            "-chardev", f"socket,id=usb,path={self.path('usb.sock')},server=on,wait=off,"
                        "telnet=on",
            "-device", "usb-serial,id=adapter,chardev=usb,always-plugged=on",
            "-device", "virtio-serial-pci",
            "-chardev", f"socket,id=control,path={self.path('control.sock')},server=on,"
                        "wait=off",
            "-device", "virtserialport,chardev=control,name=lab",
            "-qmp", f"unix:{self.path('qmp.sock')},server=on,wait=off",
            "-D", self.path("qemu-trace.log"),
        ]
        for event in TRACED:
            command += ["-trace", event]
        command += share("root", self.root) + share("work", self.work)
        command += share("modules", self.modules) + share("out", self.path("out"), False)
        for tag, path in self.shares:
            command += share(tag, path)
        return command

    def start(self, accel):
        for name in ("qemu-trace.log", "console.log", "control.sock", "qmp.sock", "uart.sock",
                     "usb.sock"):
            if os.path.exists(self.path(name)):
                os.remove(self.path(name))
        stdio = {} if self.shell else {"stdin": subprocess.DEVNULL}
        self.qemu = subprocess.Popen(self.qemu_command(accel), **stdio)
        self.accel = accel
        for _ in range(100):
            if os.path.exists(self.path("control.sock")) and os.path.exists(self.path("qmp.sock")):
                break
            if self.qemu.poll() is not None:
                raise RuntimeError(f"QEMU ended with status {self.qemu.returncode}")
            time.sleep(0.1)
        self.qmp = Qmp(self.path("qmp.sock"))
        self.control = socket.socket(socket.AF_UNIX)
        self.control.connect(self.path("control.sock"))
        self.control_file = self.control.makefile("rw")

    def stop_qemu(self):
        if self.qemu and self.qemu.poll() is None:
            self.qemu.kill()
            self.qemu.wait()

    def boot(self):
        """KVM first; plain emulation where the guest does not say hello within a minute."""
        for accel, timeout in (("kvm", 30), ("tcg", 300)):
            if accel not in self.accels:
                continue
            started = time.monotonic()
            try:
                self.start(accel)
            except (OSError, RuntimeError) as error:
                log(f"QEMU with {accel} did not start ({error})")
                self.stop_qemu()
                continue
            if self.silent_console(accel):
                log(f"the guest wrote nothing to its console in 10 s with {accel}")
                self.stop_qemu()
                continue
            if select.select([self.control], [], [], timeout)[0]:
                line = self.control_file.readline().strip()
                if line.startswith("hello"):
                    self.reply("ok")
                    log(f"guest up with {accel} in {time.monotonic() - started:.1f} s: "
                        f"{line[6:]}")
                    with open(self.path("accel"), "w") as ran:
                        ran.write(accel + "\n")
                    return True
            log(f"guest did not come up with {accel} in {timeout} s; its console ended: "
                + tail(self.path("console.log")))
            self.stop_qemu()
        return False

    def silent_console(self, accel):
        """A KVM guest that hangs does so in the firmware, before the kernel writes a line."""
        if accel != "kvm" or self.shell:
            return False
        for _ in range(100):
            if os.path.exists(self.path("console.log")) and os.path.getsize(self.path("console.log")):
                return False
            time.sleep(0.1)
        return True

    def reply(self, text):
        self.control_file.write(text + "\n")
        self.control_file.flush()

    def feed(self, line, arguments):
        if line not in LINES:
            return f"error no line {line}"
        self.stop_feed(line)
        out = open(self.path(f"feed-{line}.log"), "w+")
        command = [self.sensor, "--socket", self.path(LINES[line]), "--telnet"] + arguments
        self.feeds[line] = (subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT), out)
        return "ok"

    def fed(self, line, timeout=600):
        if line not in self.feeds:
            return f"error no feed on {line}"
        process, out = self.feeds.pop(line)
        try:
            status = process.wait(timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            status = process.wait()
        out.seek(0)
        lines = out.read().strip().splitlines()
        out.close()
        return f"ok {status} {lines[-1] if lines else ''}"

    def stop_feed(self, line):
        if line in self.feeds:
            self.feeds[line][0].send_signal(signal.SIGTERM)
            return self.fed(line, 10)
        return "ok"

    def send_break(self, line):
        # The telnet BREAK command, which QEMU turns into a break on the emulated line.
        with socket.socket(socket.AF_UNIX) as sock:
            sock.connect(self.path(LINES[line]))
            sock.sendall(b"\xff\xf3")
            time.sleep(0.5)
        return "ok"

    def unplug(self):
        # QEMU 7.2's usb-serial takes bytes from its socket while the device is being pulled
        # out and then crashes (seen here: a segfault, once in a few streaming unplugs); later
        # QEMU takes none once the device is detached. So a sensor feeding the adapter pauses
        # for a moment, long enough for the guest to take what QEMU holds, and goes on after.
        feed = self.feeds.get("usb")
        if feed:
            feed[0].send_signal(signal.SIGSTOP)
            time.sleep(0.2)
        try:
            answer = self.qmp.command("device_del", id="adapter")
            if answer != "ok":
                return answer
            return "ok" if self.qmp.wait_event("DEVICE_DELETED", 30) else "error not deleted"
        finally:
            if feed:
                feed[0].send_signal(signal.SIGCONT)

    def plug(self):
        return self.qmp.command("device_add", driver="usb-serial", id="adapter", chardev="usb",
                                **{"always-plugged": True})

    def trace(self, event):
        # The last line QEMU logged for a trace event: what its device was told.
        found = ""
        with open(self.path("qemu-trace.log"), errors="replace") as trace:
            for text in trace:
                if event in text:
                    found = text.strip()
        return "ok " + found

    def modem(self):
        # The FTDI's modem-control requests as QEMU received them: request 0x4001 sets DTR
        # (bit 0) where bit 8 of the value says so, RTS (bit 1) where bit 9 does.
        dtr = rts = 0
        with open(self.path("qemu-trace.log"), errors="replace") as trace:
            for text in trace:
                match = re.search(r"usb_serial_handle_control.*control 0x4001, value 0x([0-9a-f]+)",
                                  text)
                if match:
                    value = int(match.group(1), 16)
                    dtr = value & 1 if value & 0x100 else dtr
                    rts = value >> 1 & 1 if value & 0x200 else rts
        return f"ok dtr={dtr} rts={rts}"

    def handle(self, request):
        words = request.split()
        if not words:
            return "error empty request"
        verb, rest = words[0], words[1:]
        if verb == "say":
            log(request[4:])
            return "ok"
        if verb == "feed":
            return self.feed(rest[0], rest[1:])
        if verb == "fed":
            return self.fed(rest[0])
        if verb == "stop":
            return self.stop_feed(rest[0])
        if verb == "break":
            return self.send_break(rest[0])
        if verb == "unplug":
            return self.unplug()
        if verb == "plug":
            return self.plug()
        if verb == "modem":
            return self.modem()
        if verb == "trace":
            return self.trace(rest[0])
        return f"error unknown request {verb}"

    def serve(self, timeout):
        """Answers the guest until it says done; returns its status."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not select.select([self.control], [], [], 1)[0]:
                if self.qemu.poll() is not None:
                    log(f"the guest ended without saying done (QEMU's status "
                        f"{self.qemu.returncode})")
                    return 3
                continue
            request = self.control_file.readline()
            if not request:
                log("the guest closed its control line")
                return 3
            request = request.strip()
            if request.startswith("done"):
                self.reply("ok")
                return int(request.split()[1]) if len(request.split()) > 1 else 0
            try:
                answer = self.handle(request)
            except Exception as error:  # a fault of ours is the guest's answer, not a hang
                answer = f"error {error}"
            if self.qemu.poll() is not None:
                log(f"QEMU ended (status {self.qemu.returncode}) during: {request}")
                return 3
            self.reply(answer)
        log(f"the guest did not finish within {timeout} s")
        return 3


def tail(path):
    try:
        with open(path, errors="replace") as text:
            return " | ".join(text.read().strip().splitlines()[-3:])
    except OSError:
        return "(nothing)"


def log(text):
    print(f"lab: {text}", flush=True)


def main():
    if len(sys.argv) < 8:
        print(__doc__, file=sys.stderr)
        return 2
    # Ended from outside, it still takes QEMU and the sensors down with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
    lab = Lab(sys.argv[1:])
    started = time.monotonic()
    try:
        if not lab.boot():
            return 3
        if lab.shell:
            for line in LINES:
                lab.feed(line, ["--rate", "10"])
        status = lab.serve(24 * 3600 if lab.shell else 2400)
        try:
            lab.qemu.wait(30)
        except subprocess.TimeoutExpired:
            pass
        return status
    finally:
        for line in list(lab.feeds):
            lab.stop_feed(line)
        lab.stop_qemu()
        log(f"QEMU ({lab.accel}) ran {time.monotonic() - started:.0f} s")


if __name__ == "__main__":
    sys.exit(main())
