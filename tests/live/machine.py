"""A qemu machine for the rescue USB tests: its serial console read and
written by the test, its screen and keyboard through QMP. Nothing it boots
has a network."""
import json
import os
import re
import socket
import subprocess
import threading
import time

# Terminal control sequences, dropped before the text is matched: menus and
# whiptail draw with them.
_CONTROL = re.compile(rb"\x1b(\[[0-?]*[ -/]*[@-~]|[()][0-9A-Za-z]|[=>78DEHMc])|[\x00-\x08\x0b-\x1f\x7f]")


class Failure(Exception):
    pass


def accelerator():
    """KVM where it opens, else software emulation (said by the caller)."""
    try:
        fd = os.open("/dev/kvm", os.O_RDWR)
        os.close(fd)
        return ["-accel", "kvm", "-accel", "tcg,thread=multi"], "KVM"
    except OSError:
        return ["-accel", "tcg,thread=multi"], "software emulation (TCG)"


class Machine:
    def __init__(self, name, work, args, memory="1536M"):
        self.name = name
        self.work = work
        self.qmp_path = os.path.join(work, name + ".qmp")
        self.serial_path = os.path.join(work, name + ".serial")
        accel, self.accel_name = accelerator()
        command = (["qemu-system-x86_64", "-m", memory, "-smp", str(min(2, os.cpu_count() or 1)), "-cpu", "max"]
                   + accel
                   + ["-display", "none", "-nic", "none", "-monitor", "none", "-serial", "stdio",
                      "-qmp", "unix:%s,server=on,wait=off" % self.qmp_path] + args)
        self.command = command
        self.started = time.monotonic()
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=open(os.path.join(work, name + ".qemu-err"), "wb"))
        self.raw = bytearray()
        self.lock = threading.Lock()
        self.log = open(self.serial_path, "wb")
        self.mark = 0  # matching starts here, in the text without control sequences
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.qmp = None

    def _read(self):
        while True:
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                return
            with self.lock:
                self.raw += chunk
            self.log.write(chunk)
            self.log.flush()

    def text(self):
        with self.lock:
            raw = bytes(self.raw)
        return _CONTROL.sub(b"", raw).decode("utf-8", "replace")

    def elapsed(self):
        return time.monotonic() - self.started

    def expect(self, pattern, timeout, what=None):
        """Waits until pattern (a regular expression) shows after the mark;
        moves the mark past it and returns the match."""
        deadline = time.monotonic() + timeout
        regex = re.compile(pattern)
        while True:
            text = self.text()
            found = regex.search(text, self.mark)
            if found:
                self.mark = found.end()
                return found
            if self.process.poll() is not None:
                raise Failure("%s: the machine stopped (qemu status %s) before %s; its last output:\n%s"
                              % (self.name, self.process.returncode, what or pattern, text[-3000:]))
            if time.monotonic() > deadline:
                raise Failure("%s: no %s within %d s; its last output:\n%s"
                              % (self.name, what or repr(pattern), timeout, text[-3000:]))
            time.sleep(0.2)

    def send(self, data, pause=0.05):
        """Types on the serial console, a character at a time as a person would
        (firmware and boot loaders drop characters sent faster)."""
        for byte in data.encode() if isinstance(data, str) else data:
            self.process.stdin.write(bytes([byte]))
            self.process.stdin.flush()
            time.sleep(pause)

    def wait_off(self, timeout):
        """Waits until the machine powers itself off."""
        try:
            self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("%s: still running %d s later; its last output:\n%s"
                          % (self.name, timeout, self.text()[-3000:]))
        return self.process.returncode

    def qmp_command(self, command, **arguments):
        if self.qmp is None:
            for _ in range(100):
                try:
                    sock = socket.socket(socket.AF_UNIX)
                    sock.connect(self.qmp_path)
                    break
                except OSError:
                    time.sleep(0.1)
            self.qmp = sock.makefile("rw")
            self.qmp.readline()  # the greeting
            self.qmp_command("qmp_capabilities")
        self.qmp.write(json.dumps({"execute": command, "arguments": arguments}) + "\n")
        self.qmp.flush()
        while True:
            reply = json.loads(self.qmp.readline())
            if "return" in reply:
                return reply["return"]
            if "error" in reply:
                raise Failure("%s: QMP %s: %s" % (self.name, command, reply["error"]))

    def screendump(self, png):
        self.qmp_command("screendump", filename=png, format="png")

    def key(self, *qcodes):
        """Presses keys on the machine's keyboard together (e.g. "ret", "tab")."""
        self.qmp_command("send-key", keys=[{"type": "qcode", "data": code} for code in qcodes])

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
