"""The WPS client end to end: the real ostrel on the real libshared.so, with
the scripted wireless driver preloaded beneath the library, in a private
sandbox per test. The driver's log shows every private request exactly as
the driver received it, and whether platform lock 1 was held at that moment."""

import fcntl
import os
import stat

import pytest

from harness import build_path, emulator_prefix
from wl_survey import record, table

OSTREL = build_path("wps_client/ostrel")
DRIVER = build_path("tests/stubs/wl_driver_stub.so")

TRIGGER, STATUS, SURVEY = 0x8BE2, 0x8BE1, 0x8BED
CLIENT_SETTINGS = ["ApCliEnable=1", "WscConfMode=1", "WscMode=2", "WscGetConf=1",
                   "WscStatus=1", "ApCliEnable=1"]


class Driver:
    """Scenario, survey tables and log of the driver stand-in for one client."""

    def __init__(self, sandbox, name="wl"):
        self.sb = sandbox
        self.name = name
        self.lines = []
        self.replies = 0
        self.log = sandbox.ctl / f"{name}.log"

    def reply(self, data, length=None):
        self.replies += 1
        path = self.sb.ctl / f"{self.name}.reply{self.replies}"
        path.write_bytes(data)
        inside = self.sb.inside(path)
        self.lines.append(f"reply {inside}" + ("" if length is None else f" {length}"))
        return self

    def say(self, line):
        self.lines.append(line)
        return self

    def env(self):
        scenario = self.sb.ctl / f"{self.name}.scenario"
        scenario.write_text("\n".join(self.lines) + "\n")
        env = {"WL_DRIVER_SCENARIO": self.sb.inside(scenario),
               "WL_DRIVER_LOG": self.sb.inside(self.log)}
        # Under an emulator the driver belongs in the emulated program, not
        # in the emulator or the sandbox's host shell.
        env["QEMU_SET_ENV" if emulator_prefix() else "LD_PRELOAD"] = (
            f"LD_PRELOAD={DRIVER}" if emulator_prefix() else DRIVER)
        return env

    def entries(self):
        """The log as dicts, one per line (tabs inside data arrive escaped)."""
        if not self.log.exists():
            return []
        out = []
        for line in self.log.read_text().splitlines():
            kind, *fields = line.split("\t")
            entry = {"kind": kind}
            for field in fields:
                key, _, value = field.partition("=")
                entry[key] = value
            if kind == "ioctl":
                entry["req"] = int(entry["req"], 16)
                entry["len"] = int(entry["len"])
                entry["flags"] = int(entry["flags"], 16)
            out.append(entry)
        return out

    def requests(self, req=None):
        return [e for e in self.entries()
                if e["kind"] == "ioctl" and (req is None or e["req"] == req)]


def start(sandbox, driver, ap_if="ra0", client_if="apcli0", channel="6"):
    return sandbox.spawn([OSTREL, ap_if, client_if, channel], env=driver.env(), linger=True)


def settle(proc, timeout=20):
    """Waits for the starter and the detached client; the starter's status."""
    return proc.wait(timeout)


def lock_is_free(sandbox):
    path = sandbox.run / "spinlock.1.lock"
    if not path.exists():
        return True
    with open(path) as f:
        try:
            fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            return False
        fcntl.flock(f, fcntl.LOCK_UN)
        return True


def sets(entries):
    return [(e["if"], e["data"]) for e in entries if e["kind"] == "ioctl" and e["req"] == TRIGGER]


# --- start-up and refusals ---------------------------------------------------

def test_refused_command_lines_exit_255_and_leave_nothing(sandbox):
    drv = Driver(sandbox)
    short = sandbox.run_program([OSTREL, "ra0", "apcli0"], env=drv.env())
    assert short.returncode == 255
    assert short.stderr == ""

    # One character more than a Linux interface name can have, and one more
    # than "/tmp/wsc.%s" holds in its 32 bytes.
    for long_name in ("c" * 16, "c" * 23):
        refused = sandbox.run_program([OSTREL, "ra0", long_name, "6"], env=drv.env())
        assert refused.returncode == 255
        assert long_name in refused.stderr and "too long" in refused.stderr

    assert os.listdir(sandbox.tmp) == []
    assert os.listdir(sandbox.run) == []
    assert drv.entries() == []


@pytest.mark.parametrize("ap_if,pid_name,other", [
    ("ra0", "ostrel0.pid", "ostrel1.pid"),
    ("ra01", "ostrel1.pid", "ostrel0.pid"),
])
def test_start_up_files_and_a_failing_trigger(sandbox, ap_if, pid_name, other):
    drv = Driver(sandbox).say(f"fail {TRIGGER:#x} 1").say("sleep fast")
    # A link planted where the status file goes, at a set-uid file: the
    # file must neither change nor lend its mode to the status file.
    victim = sandbox.tmp / "victim"
    victim.write_bytes(b"binary")
    victim.chmod(0o4755)
    (sandbox.tmp / ("wsc." + "c" * 15)).symlink_to("/tmp/victim")
    proc = start(sandbox, drv, ap_if=ap_if, client_if="c" * 15)
    assert settle(proc) == 0

    requests = drv.requests()
    assert len(requests) == 1, requests
    trigger = requests[0]
    assert (trigger["if"], trigger["req"], trigger["len"], trigger["flags"]) == (ap_if, TRIGGER, 13, 0)
    assert trigger["data"] == "SiteSurvey=1\\0"
    assert trigger["lock1"] == "held"
    assert trigger["sock"] == "inet-dgram"
    assert trigger["rc"] == "-1"

    assert proc.stderr == "Site Survey fails\n"
    assert (sandbox.run / pid_name).read_text() == trigger["pid"]
    assert not (sandbox.run / other).exists()
    # The longest client name that fits, and no newline after the 3.
    status = sandbox.tmp / ("wsc." + "c" * 15)
    assert status.read_bytes() == b"3"
    assert stat.S_ISREG(status.lstat().st_mode)
    assert stat.S_IMODE(status.lstat().st_mode) == 0o644
    assert victim.read_bytes() == b"binary"
    assert stat.S_IMODE(victim.stat().st_mode) == 0o4755
    assert lock_is_free(sandbox)


def test_status_file_holds_3_while_surveying_and_sleeps_are_real(sandbox):
    drv = Driver(sandbox).reply(table(record("Nobody", pbc="   ")))
    proc = start(sandbox, drv)
    assert sandbox.wait_for(lambda: len(drv.requests(SURVEY)) >= 1, timeout=10)
    assert (sandbox.tmp / "wsc.apcli0").read_bytes() == b"3"
    assert proc.running()
    trigger, result = drv.requests()[:2]
    assert (result["if"], result["req"], result["len"], result["flags"]) == ("ra0", SURVEY, 8192, 0)
    assert result["lock1"] == "free"
    # Three one-second pauses between the trigger and the table.
    waited = int(result["t"]) - int(trigger["t"])
    assert 2900 <= waited < 6000, waited
    sleeps = [e for e in drv.entries() if e["kind"] == "sleep"]
    assert [e["secs"] for e in sleeps[:3]] == ["1", "1", "1"]
    proc.kill()


def test_pid_file_that_cannot_be_written_ends_the_client(sandbox):
    (sandbox.run / "ostrel0.pid").mkdir()
    drv = Driver(sandbox)
    proc = start(sandbox, drv)
    assert settle(proc) == 0
    assert proc.stderr.startswith("/var/run/ostrel0.pid: ")
    assert os.listdir(sandbox.run) == ["ostrel0.pid"]  # no temporary file left behind
    assert not (sandbox.tmp / "wsc.apcli0").exists()
    assert drv.requests() == []


def test_a_symlink_at_the_pid_file_is_replaced_not_followed(sandbox):
    victim = sandbox.tmp / "victim"
    victim.write_text("keep")
    os.symlink("/tmp/victim", sandbox.run / "ostrel1.pid")
    drv = Driver(sandbox).say(f"fail {TRIGGER:#x} 1")
    assert settle(start(sandbox, drv, ap_if="rai0")) == 0
    assert victim.read_text() == "keep"
    assert not (sandbox.run / "ostrel1.pid").is_symlink()
    assert (sandbox.run / "ostrel1.pid").read_text() == drv.requests()[0]["pid"]


def test_failing_result_request_ends_the_client(sandbox):
    drv = Driver(sandbox).say(f"fail {SURVEY:#x} 2").say("sleep fast")
    drv.reply(table(record("One", pbc="   ")))
    proc = start(sandbox, drv)
    assert settle(proc) == 0
    assert proc.stderr == ("WPS site survey~\n" * 2) + "errors in getting site survey result\n"
    assert [r["req"] for r in drv.requests()] == [TRIGGER, SURVEY, TRIGGER, SURVEY]
    assert (sandbox.tmp / "wsc.apcli0").read_bytes() == b"3"


# --- the whole enrolment -----------------------------------------------------

def test_enrolment_on_another_channel_in_the_exact_request_order(sandbox):
    drv = Driver(sandbox).say("sleep fast").say("status 3 5 5 34")
    drv.say("observe /tmp/wsc.apcli0")
    plain = record("Other", channel="  1", yes="NO", pbc="   ")
    drv.reply(table(record("Upstream AP"), plain), length=0)          # no table: again
    drv.reply(table(record("Twin", " 11"), record("Twin", " 11")))    # two PBC APs: again
    drv.reply(table())                                                # header only: again
    drv.reply(table(plain, record("Upstream AP", " 11"), plain))
    proc = start(sandbox, drv, channel="6")
    assert settle(proc) == 0

    requests = drv.requests()
    cycles = [(r["req"], r["len"], r["flags"], r["lock1"], r["if"]) for r in requests[:8]]
    assert cycles == [(TRIGGER, 13, 0, "held", "ra0"), (SURVEY, 8192, 0, "free", "ra0")] * 4
    survey_sleeps = [e["secs"] for e in drv.entries() if e["kind"] == "sleep"]
    assert survey_sleeps == ["1"] * 12

    settings = [(r["if"], r["data"], r["len"], r["flags"], r["lock1"]) for r in requests[8:16]]
    expected = [("ra0", "Channel=11")] + [("apcli0", s) for s in CLIENT_SETTINGS]
    expected += [("apcli0", "ApCliSsid=Upstream AP")]
    assert [(i, d) for i, d, *_ in settings] == [(i, d + "\\0") for i, d in expected]
    for (_, data, length, flags, lock), (_, text) in zip(settings, expected):
        assert (length, flags, lock) == (len(text) + 1, 0, "free")
    assert all(r["req"] == TRIGGER for r in requests[8:16])

    queries = requests[16:]
    assert [(q["if"], q["req"], q["len"], q["flags"]) for q in queries] == \
        [("apcli0", STATUS, 4, 0x0751)] * 4
    assert [q["status"] for q in queries] == ["3", "5", "5", "34"]
    # What the file held as each query went out: rewritten only on a change.
    assert [q["seen"] for q in queries] == ["3", "3", "5", "5"]
    inodes = [q["ino"] for q in queries]
    assert inodes[0] == inodes[1] != inodes[2] == inodes[3]
    assert (sandbox.tmp / "wsc.apcli0").read_bytes() == b"34"

    assert proc.stderr == ("WPS site survey~\n" * 4
                           + "Got PBC AP, SSID:[Upstream AP],channel[11]\n")
    assert all(r["sock"] == "inet-dgram" for r in requests)
    # Surveys, settings and status queries run on fixed storage alone.
    assert len({e["allocs"] for e in drv.entries()}) == 1


def test_same_channel_sends_no_channel_and_a_first_34_ends_at_once(sandbox):
    drv = Driver(sandbox).say("sleep fast").say("status 34")
    drv.reply(table(record("Home  Net", channel="  6")))
    proc = start(sandbox, drv, channel="6")
    assert settle(proc) == 0
    assert proc.stderr == ("WPS site survey~\n"
                           "Got PBC AP, SSID:[Home  Net],channel[6]\n"
                           "Org CH is the same[6]\n")
    assert [d for _, d in sets(drv.entries())][1:] == \
        [s + "\\0" for s in CLIENT_SETTINGS + ["ApCliSsid=Home  Net"]]
    assert [q["status"] for q in drv.requests(STATUS)] == ["34"]
    assert (sandbox.tmp / "wsc.apcli0").read_bytes() == b"34"


def test_unchanging_status_leaves_the_file_alone(sandbox):
    drv = Driver(sandbox).say("sleep fast").say("status 3")
    drv.say("observe /tmp/wsc.apcli0").reply(table(record("AP", "  6")))
    proc = start(sandbox, drv)
    assert sandbox.wait_for(lambda: len(drv.requests(STATUS)) >= 40, timeout=10)
    inode = os.stat(sandbox.tmp / "wsc.apcli0").st_ino
    queries = drv.requests(STATUS)
    assert {q["seen"] for q in queries} == {"3"}
    assert {q["ino"] for q in queries} == {str(inode)}
    assert proc.running()
    proc.kill()
    assert (sandbox.tmp / "wsc.apcli0").read_bytes() == b"3"


def test_failed_query_is_reported_once_and_recorded_as_0(sandbox):
    drv = Driver(sandbox).say("sleep fast").say("status 5 fail 5 34")
    drv.say("observe /tmp/wsc.apcli0").reply(table(record("AP", "  6")))
    proc = start(sandbox, drv)
    assert settle(proc) == 0
    queries = drv.requests(STATUS)
    assert [q["seen"] for q in queries] == ["3", "5", "0", "5"]
    assert [q["rc"] for q in queries] == ["0", "-1", "0", "0"]
    assert proc.stderr.count("errors in getting WSC status\n") == 1
    assert (sandbox.tmp / "wsc.apcli0").read_bytes() == b"34"


def test_two_clients_side_by_side_keep_their_own_files(sandbox):
    first = Driver(sandbox, "first").say("status 7 34").reply(table(record("A", "  6")))
    second = Driver(sandbox, "second").say("status 9 34").reply(table(record("B", " 11")))
    one = start(sandbox, first, ap_if="ra0", client_if="apcli0")
    two = start(sandbox, second, ap_if="rai0", client_if="apclii0")
    # Both are inside their three-second survey pause at the same time.
    assert sandbox.wait_for(
        lambda: (sandbox.run / "ostrel0.pid").exists() and (sandbox.run / "ostrel1.pid").exists()
        and first.requests(TRIGGER) and second.requests(TRIGGER), timeout=10)
    assert one.running() and two.running()
    assert not first.requests(SURVEY) or not second.requests(SURVEY)
    assert settle(one) == 0 and settle(two) == 0

    assert (sandbox.tmp / "wsc.apcli0").read_bytes() == b"34"
    assert (sandbox.tmp / "wsc.apclii0").read_bytes() == b"34"
    assert (sandbox.run / "ostrel0.pid").read_text() == first.requests()[0]["pid"]
    assert (sandbox.run / "ostrel1.pid").read_text() == second.requests()[0]["pid"]
    assert {r["if"] for r in first.requests()} == {"ra0", "apcli0"}
    assert {r["if"] for r in second.requests()} == {"rai0", "apclii0"}
    assert not [d for _, d in sets(first.entries()) if d.startswith("Channel=")]
    assert ("rai0", "Channel=11\\0") in sets(second.entries())


# --- the platform library's driver requests ----------------------------------

PROBE = r"""
import ctypes, sys

class IwReq(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char * 16), ("pointer", ctypes.c_void_p),
                ("length", ctypes.c_uint16), ("flags", ctypes.c_uint16),
                ("pad", ctypes.c_char * 16)]

lib = ctypes.CDLL(sys.argv[1])
lib.wl_ioctl.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(IwReq)]
lib.ap_set.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
word = ctypes.c_int32(0)
req = IwReq(name=b"stale-name", pointer=ctypes.cast(ctypes.byref(word), ctypes.c_void_p),
            length=4, flags=0x0751)
print("status", lib.wl_ioctl(b"apcli0", 0x8BE1, ctypes.byref(req)), word.value, req.name.decode())
print("set", lib.ap_set(b"ra0", b"WscMode=2"))
print("set-failing", lib.ap_set(b"ra0", b"WscMode=2") < 0)
print("longest", lib.ap_set(b"i" * 15, b"K=V"))
print("too-long", lib.ap_set(b"i" * 16, b"K=V") < 0,
      lib.wl_ioctl(b"w" * 16, 0x8BE1, ctypes.byref(req)) < 0)
print("empty-setting", lib.ap_set(b"ra0", b""))
"""


@pytest.mark.skipif(bool(emulator_prefix()), reason="loads the library into the host's python")
def test_wl_ioctl_and_ap_set_reach_the_driver_exactly(sandbox):
    drv = Driver(sandbox).say("status 21").say(f"fail {TRIGGER:#x} 2")
    probe = sandbox.run_program(["/usr/bin/python3", "-c", PROBE, build_path("platform/libshared.so")],
                                env=drv.env())
    assert probe.returncode == 0, probe.stderr
    assert probe.stdout.splitlines() == [
        "status 0 21 apcli0", "set 0", "set-failing True", "longest 0", "too-long True True",
        "empty-setting 0"]

    got = [(r["if"], r["req"], r["len"], r["flags"], r.get("data"), r["sock"])
           for r in drv.requests()]
    assert got == [
        ("apcli0", STATUS, 4, 0x0751, None, "inet-dgram"),
        ("ra0", TRIGGER, 10, 0, "WscMode=2\\0", "inet-dgram"),
        ("ra0", TRIGGER, 10, 0, "WscMode=2\\0", "inet-dgram"),
        ("i" * 15, TRIGGER, 4, 0, "K=V\\0", "inet-dgram"),
        ("ra0", TRIGGER, 1, 0, "\\0", "inet-dgram"),
    ]
