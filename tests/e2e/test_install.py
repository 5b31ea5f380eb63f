"""The installed program: its tree, its run-time bound echo provider, and the
privileges it keeps (none) once its ICMP socket is open."""

import os
import shutil
import signal
import stat
import subprocess
import tempfile
import unittest

import netlab

BUILD_DIR = os.environ.get("VESPERIX_BUILD_DIR", "")
SOURCE_DIR = os.environ.get("VESPERIX_SOURCE_DIR", "")
PROVIDER = os.path.join("lib", "vesperix", "libvesperix-icmp.so")
CAPABILITY_FIELDS = ("CapInh", "CapPrm", "CapEff")


def install(test, build_dir):
    """`cmake --install` of `build_dir` into a fresh prefix any user may enter."""
    prefix = tempfile.mkdtemp(prefix="vesperix-prefix-")
    test.addCleanup(shutil.rmtree, prefix, True)
    os.chmod(prefix, 0o755)
    netlab.run(["cmake", "--install", build_dir, "--prefix", prefix])
    return prefix


def capabilities(pid):
    """{task id: {field: value}} of the capability sets of every thread of `pid`."""
    found = {}
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/status" % (pid, task)) as status:
            fields = dict(line.split(":\t", 1) for line in status if ":\t" in line)
        found[task] = {name: fields[name].strip() for name in CAPABILITY_FIELDS}
    return found


def assert_holds_no_capability(test, pid):
    """Fails `test` unless every thread of `pid` has empty capability sets."""
    for task, sets in capabilities(pid).items():
        for name in CAPABILITY_FIELDS:
            test.assertEqual(int(sets[name], 16), 0, "%s of thread %s" % (name, task))


class Installed(netlab.NamespaceTest):
    def setUp(self):
        super().setUp()
        if not os.path.isfile(os.path.join(BUILD_DIR, "CMakeCache.txt")):
            self.fail("VESPERIX_BUILD_DIR does not name the build folder")
        self.prefix = install(self, BUILD_DIR)
        self.program = os.path.join(self.prefix, "bin", "vesperix")

    def probe_briefly(self, ns, **kwargs):
        monitor = netlab.Monitor(self, ns, ["127.0.0.1"], terminal=True, program=self.program, **kwargs)
        self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= 1, 10), monitor.lines)
        return monitor

    def test_the_tree_holds_program_provider_man_page_and_readme(self):
        for part in ("bin/vesperix", PROVIDER, "share/man/man1/vesperix.1", "share/doc/vesperix/README.md"):
            self.assertTrue(os.path.isfile(os.path.join(self.prefix, part)), part)
        mode = os.stat(self.program).st_mode
        self.assertFalse(mode & (stat.S_ISUID | stat.S_ISGID))
        page = netlab.run(["man", "--warnings", "-l", os.path.join(self.prefix, "share/man/man1/vesperix.1")],
                          env=dict(os.environ, MANWIDTH="80"))
        self.assertEqual(page.stderr, "")
        for heading in ("SYNOPSIS", "OUTPUT", "LOG FILES", "EXIT STATUS", "PRIVILEGES"):
            self.assertIn(heading, page.stdout)

    def test_the_program_does_not_link_the_provider(self):
        symbols = netlab.run(["nm", "-D", "--undefined-only", self.program]).stdout
        self.assertNotIn("Icmp", symbols)
        needed = netlab.run(["readelf", "-d", self.program]).stdout
        self.assertNotIn("vesperix-icmp", needed)

    def test_the_installed_program_probes(self):
        ns = netlab.Namespace(self)
        monitor = self.probe_briefly(ns)
        monitor.signal(signal.SIGINT)
        status, out, err = monitor.wait()
        self.assertEqual((status, err), (0, ""))
        self.assertRegex(out, r"^(\d+ms\n)+Ctrl\+C\n(\d+ms\n)?$")

    def test_without_its_provider_it_says_which_and_exits_2(self):
        os.remove(os.path.join(self.prefix, PROVIDER))
        ns = netlab.Namespace(self)
        status, out, err = netlab.Monitor(self, ns, ["127.0.0.1"], program=self.program).wait()
        self.assertEqual((status, out), (2, ""))
        self.assertEqual(len(err.splitlines()), 1, err)
        self.assertIn(os.path.join(self.prefix, PROVIDER), err)

    def test_a_provider_lacking_a_function_is_not_bound(self):
        provider = os.path.join(self.prefix, PROVIDER)
        os.remove(provider)
        # A test library that has IcmpCreateFile and IcmpSendEcho only.
        shutil.copy(os.path.join(BUILD_DIR, "tests", "echo_library", "lacks-close.so"), provider)
        ns = netlab.Namespace(self)
        status, out, err = netlab.Monitor(self, ns, ["127.0.0.1"], program=self.program).wait()
        self.assertEqual((status, out), (2, ""))
        self.assertIn("IcmpCloseHandle", err)

    def test_root_gives_up_every_capability_once_its_socket_is_open(self):
        ns = netlab.Namespace(self)
        monitor = self.probe_briefly(ns)
        self.assertEqual(len(ns.sockets("raw")), 1)
        assert_holds_no_capability(self, monitor.process.pid)
        monitor.signal(signal.SIGINT)
        status, out, _ = monitor.wait()
        self.assertEqual(status, 0)
        self.assertGreaterEqual(out.count("ms\n"), 1)


class SetcapInstall(netlab.NamespaceTest):
    """The opt-in install that grants cap_net_raw, from a build of its own."""

    def test_nobody_probes_over_a_raw_socket_and_then_holds_no_capability(self):
        if not os.path.isfile(os.path.join(SOURCE_DIR, "CMakeLists.txt")):
            self.fail("VESPERIX_SOURCE_DIR does not name the source folder")
        build = tempfile.mkdtemp(prefix="vesperix-setcap-build-")
        self.addCleanup(shutil.rmtree, build, True)
        subprocess.run(["cmake", "-S", SOURCE_DIR, "-B", build, "-G", "Ninja", "-DBUILD_TESTING=OFF",
                        "-DVESPERIX_SETCAP=ON"], check=True, capture_output=True, timeout=300)
        subprocess.run(["cmake", "--build", build], check=True, capture_output=True, timeout=600)
        prefix = install(self, build)
        program = os.path.join(prefix, "bin", "vesperix")
        self.assertIn("cap_net_raw=ep", netlab.run(["getcap", program]).stdout)
        self.assertFalse(os.stat(program).st_mode & stat.S_ISUID)

        ns = netlab.Namespace(self)  # ping_group_range "1 0": only the capability helps
        monitor = netlab.Monitor(self, ns, ["127.0.0.1"], terminal=True, user="nobody", program=program)
        self.assertTrue(monitor.read_lines(lambda lines: len(lines) >= 2, 10), monitor.lines)
        self.assertEqual(len(ns.sockets("raw")), 1)
        assert_holds_no_capability(self, monitor.process.pid)
        monitor.signal(signal.SIGINT)
        status, out, err = monitor.wait()
        self.assertEqual((status, err), (0, ""))
        self.assertRegex(out, r"^(\d+ms\n)+Ctrl\+C\n(\d+ms\n)?$")


if __name__ == "__main__":
    unittest.main()
