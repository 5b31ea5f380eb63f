"""vesperix-report --check as a monitoring plugin: the state each threshold
gives, the worst target's state and exit status, UNKNOWN for what can't be
judged, and a status line in the form of the Monitoring Plugins Development
Guidelines, whose performance data say the same as the state. Every build
runs these cases, a Windows one under Wine (see reportlab)."""

import os
import re
import unittest

import reportlab
from test_parts import PartsTest
from test_report import A_FOLDER, HERE, fixture

TIMED_OUT = "Request timed-out."
STATES = ["OK", "WARNING", "CRITICAL", "UNKNOWN"]  # by exit status

# The guidelines' performance data: 'label'=value[UOM];[warn];[crit];[min];[max],
# the label quoted where it holds a space (a quote in it doubled), no "="
# in it; a value that couldn't be determined is U; warn and crit are ranges.
NUMBER = r"-?[0-9]+(?:\.[0-9]+)?"
RANGE = r"@?(?:(?:%s|~):)?(?:%s)?" % (NUMBER, NUMBER)
PERF_ITEM = re.compile(r"(?P<label>'(?:[^'=]|'')+'|[^'= ]+)=(?:(?P<value>%s)(?P<uom>s|ms|us|%%|B|KB|MB|TB|c)?|U)"
                       r"(?:;(?P<warn>%s)(?:;(?P<crit>%s)(?:;(?P<min>%s)?(?:;(?P<max>%s)?)?)?)?)?(?: |$)"
                       % (NUMBER, RANGE, RANGE, NUMBER, NUMBER))
STATUS_LINE = re.compile(r"VESPERIX (OK|WARNING|CRITICAL|UNKNOWN) - ([^|\n]+)(?:\|([^|\n]+))?\n")


def row(second, target, rtt):
    """A row at `second` seconds after 10:00:00; `rtt` None for a timed-out probe."""
    clock = "%02d:%02d:%02d" % (10 + second // 3600, second // 60 % 60, second % 60)
    if rtt is None:
        return "%s\t%s\t-1\t%s\r\n" % (clock, target, TIMED_OUT)
    return "%s\t%s\t%d\t\r\n" % (clock, target, rtt)


def alerts(value, bounds):
    """True when `value` lies where the guidelines' range `bounds` alerts:
    outside start..end, or inside it after "@"; "~" is minus infinity."""
    inside_alerts = bounds.startswith("@")
    bounds = bounds.lstrip("@")
    start, end = bounds.split(":") if ":" in bounds else ("0", bounds)
    low = float("-inf") if start == "~" else float(start or 0)
    high = float(end) if end else float("inf")
    within = low <= value <= high
    return within if inside_alerts else not within


def parse_status(test, done):
    """(state, text, {label: item}) of a check's output, after asserting the
    guidelines' form: exactly one line on standard output, nothing on
    standard error, the state's word and its exit status agreeing."""
    out = done.stdout.decode()
    test.assertEqual(done.stderr, b"")
    match = STATUS_LINE.fullmatch(out)
    test.assertIsNotNone(match, out)
    state, text, performance = match.groups()
    test.assertEqual(STATES[done.returncode], state, out)
    items, at = {}, 0
    while performance is not None and at < len(performance):
        item = PERF_ITEM.match(performance, at)
        test.assertIsNotNone(item, "performance data %r at %d" % (performance, at))
        label = item.group("label")
        if label.startswith("'"):
            label = label[1:-1].replace("''", "'")
        test.assertNotIn(label, items)
        items[label] = item
        at = item.end()
    return state, text, items


def state_of_performance(items, prefix=""):
    """The state that the thresholds in the performance data give."""
    worst = "OK"
    for name in ("rta", "pl", "availability"):
        item = items[prefix + name]
        if item.group("value") is None:
            continue
        value = float(item.group("value"))
        if item.group("crit") and alerts(value, item.group("crit")):
            return "CRITICAL"
        if item.group("warn") and alerts(value, item.group("warn")):
            worst = "WARNING"
    return worst


def report(*args):
    return reportlab.run(args, cwd=HERE)


class CheckTest(PartsTest):
    def day(self, name, rows):
        """The log of 2026-12-01 in a folder `name` of its own."""
        return self.log(os.path.join(name, "2026-12-01.tsv"), rows)

    def check(self, *args):
        return report("--check", *args)


class Thresholds(CheckTest):
    def test_the_state_each_threshold_gives(self):
        # 100 probes a second apart answering in 10 ms. steady: every tenth
        # lost (loss 10%, no outage); outage: 10 in a row lost, then
        # answers (availability 89/99 s, 89.899%); open: the last 10 lost.
        logs = {"steady": self.day("steady", [row(s, "h", None if s % 10 == 5 else 10) for s in range(100)]),
                "outage": self.day("outage", [row(s, "h", None if 40 <= s < 50 else 10) for s in range(100)]),
                "open": self.day("open", [row(s, "h", None if s >= 90 else 10) for s in range(100)])}
        for log, args, state in (
                ("steady", [], "OK"),
                ("steady", ["-w", "10,10%", "-c", "20,20%"], "OK"),  # at a threshold is not above it
                ("steady", ["-w", "9.999,10%"], "WARNING"),
                ("steady", ["-w", "10,9.999%"], "WARNING"),
                ("steady", ["--warning=10,9.999"], "WARNING"),
                ("steady", ["-c", "9.999,50%"], "CRITICAL"),
                ("steady", ["-c", "100,9%"], "CRITICAL"),
                ("steady", ["-w", "1,1%", "-c", "9.999,50%"], "CRITICAL"),  # the worst wins
                ("steady", ["-w", "1,1%", "-c", "100,50%"], "WARNING"),
                ("steady", ["-w", "100,1%", "--since", "2026-12-01T10:01:36Z"], "OK"),  # 10:01:36 to 39 answered
                ("outage", [], "OK"),  # an outage that ended is no alert by itself
                ("outage", ["-w", "100,50%,90"], "WARNING"),
                ("outage", ["-w", "100,50%,89.899%"], "OK"),
                ("outage", ["-w", "100,50%,89.9"], "WARNING"),
                ("outage", ["-w", "100,50%,95", "-c", "100,50%,89.9"], "CRITICAL"),
                ("outage", ["-w", "100,50%,95", "-c", "100,50%,89.9", "--until", "2026-12-01T10:00:40Z"], "OK"),
                ("open", [], "CRITICAL"),  # an open outage always is
                ("open", ["-w", "100,100%", "-c", "100,100%"], "CRITICAL"),
                ("open", ["-m", "11"], "OK"),  # 10 failures are no outage of 11
                ("open", ["-u", "2026-12-01T10:01:30Z"], "OK"),
                ("open", ["-s", "2026-12-01T10:01:35Z"], "CRITICAL")):  # cut at the start, open
            with self.subTest(log=log, args=args):
                done = self.check(*(args + [logs[log]]))
                found, text, items = parse_status(self, done)
                self.assertEqual(found, state, text)
                self.assertEqual(set(items), {"rta", "pl", "availability"})
                if "outage open since" not in text:
                    self.assertEqual(state_of_performance(items), state)
                for name, unit in (("rta", "ms"), ("pl", "%"), ("availability", "%")):
                    if items[name].group("value") is not None:  # else U
                        self.assertEqual(items[name].group("uom"), unit)

    def test_the_line_of_one_target(self):
        done = self.check("-w", "100,20%,99", "-c", "500,60%,95", *fixture("outages"))
        self.assertEqual(done.returncode, 2)
        self.assertEqual(done.stdout.decode(),
                         "VESPERIX CRITICAL - 10.77.0.2: outage open since 2026-12-02 11:00:07 UTC, loss 60%, "
                         "rta 2.667 ms, availability 47.619%|rta=2.667ms;100;500;0 pl=60%;20;60;0;100 "
                         "availability=47.619%;99:;95:;0;100\n")
        parse_status(self, done)
        # Without thresholds their places stay empty.
        done = self.check("--until", "2026-12-02T10:59:52Z", *fixture("outages"))
        self.assertEqual(done.stdout.decode(),
                         "VESPERIX OK - 10.77.0.2: loss 0%, rta 2.5 ms, availability 100%|rta=2.5ms;;;0 "
                         "pl=0%;;;0;100 availability=100%;;;0;100\n")
        parse_status(self, done)

    def test_several_targets_each_judged_the_worst_one_wins(self):
        # 10.0.0.1 lost 1 of 6; 10.0.0.2 lost 3 of 4 in an outage that ended.
        done = self.check("-w", "100,20%", "-c", "500,60%", *fixture("two-targets"))
        state, text, items = parse_status(self, done)
        self.assertEqual(state, "CRITICAL")
        self.assertRegex(text, r"^10\.0\.0\.1 OK: loss 16\.667%, .*; 10\.0\.0\.2 CRITICAL: loss 75%, ")
        self.assertEqual(set(items), {"%s %s" % (t, name) for t in ("10.0.0.1", "10.0.0.2")
                                      for name in ("rta", "pl", "availability")})
        self.assertEqual(state_of_performance(items, "10.0.0.1 "), "OK")
        self.assertEqual(state_of_performance(items, "10.0.0.2 "), "CRITICAL")
        done = self.check("-w", "100,10%", "-c", "500,80%", *fixture("two-targets"))
        self.assertEqual(parse_status(self, done)[0], "WARNING")

    def test_figures_with_nothing_to_stand_on_are_U(self):
        # One failed probe: no answer, no time observed.
        log = self.day("lost", [row(0, "h", None)])
        done = self.check("-w", "100,100%", log)
        state, text, items = parse_status(self, done)
        self.assertEqual(state, "OK")
        self.assertEqual(text, "h: loss 100%, no answers, availability -")
        self.assertEqual(done.stdout.decode().split("|")[1],
                         "rta=U;100;;0 pl=100%;100;;0;100 availability=U;;;0;100\n")

    def test_a_target_is_made_fit_for_the_line(self):
        # "|" would start the performance data, "=" end a label, a quote
        # close it; bytes that are no UTF-8 stay out.
        rows = [row(s, target, 5) for s in range(3) for target in ("a|b", "it's=\xff")]
        path = os.path.join(self.folder, "2026-12-01.tsv")
        with open(path, "wb") as log:
            log.write("".join(rows).encode("latin-1"))
        done = self.check(path)
        state, text, items = parse_status(self, done)
        self.assertEqual(text, "a_b OK: loss 0%, rta 5 ms, availability 100%; "
                               "it's=? OK: loss 0%, rta 5 ms, availability 100%")
        self.assertIn("'it''s_? rta'=5ms;;;0", done.stdout.decode())
        self.assertEqual(set(items), {"%s %s" % (t, n) for t in ("a_b", "it's_?") for n in ("rta", "pl", "availability")})


class Unknown(CheckTest):
    def test_what_cant_be_judged_is_unknown(self):
        clean = fixture("clean")  # 2026-12-01, 09:59:55 to 10:00:04
        unreadable = os.path.join(self.folder, "2026-12-02.tsv")
        os.mkdir(unreadable)
        empty = os.path.join(self.folder, "empty", "2026-12-03.tsv")
        os.makedirs(os.path.dirname(empty))
        open(empty, "w").close()
        for args, text in (
                ([], "no daily log named"),
                (["--since", "2026-12-01T10:00:05Z"] + clean, "no rows in the window"),
                (["--since", "2026-12-02"] + clean, "no rows in the window"),
                ([empty], "no rows in the logs"),
                (clean + [unreadable], unreadable + ": cannot read it: " + A_FOLDER),
                (clean + ["notes.tsv"], "notes.tsv: not a daily log: its name is no date (YYYY-MM-DD.tsv)"),
                (["--colour"] + clean, "unknown option --colour"),
                (["-w", "100"] + clean, "--warning takes RTA,PL% or RTA,PL%,AV%: a round trip in ms, then per cents"),
                (["-c"], "--critical takes RTA,PL% or RTA,PL%,AV%: a round trip in ms, then per cents"),
                (["-w", "100,20%", "-c", "50,60%"] + clean, "--warning must not ask for more than --critical: "
                                                            "no larger round trip or loss, no smaller availability"),
                (["-w", "10,20%,95", "-c", "50,60%,99"] + clean, "--warning must not ask for more than --critical: "
                                                                 "no larger round trip or loss, no smaller availability"),
                (["-f", "json"] + clean, "--check writes one status line: it takes no --format, --output or --svg"),
                (["--svg", "x.svg"] + clean, "--check writes one status line: it takes no --format, --output or --svg"),
                (["-s", "2026-12-02", "-u", "2026-12-01"] + clean, "--since must lie before --until"),
                (["--check=yes"] + clean, "--check takes no value")):
            with self.subTest(args=args):
                done = self.check(*args)
                self.assertEqual(parse_status(self, done)[:2], ("UNKNOWN", text))
                self.assertEqual(done.returncode, 3)

    def test_any_start_of_check_answers_as_a_check(self):
        for args in (["--ch", "--colour"], ["--chec", "-m", "0"], ["--colour", "--check"]):
            with self.subTest(args=args):
                done = report(*(args + fixture("clean")))
                self.assertEqual(parse_status(self, done)[0], "UNKNOWN")
        # After "--" it is a file's name, and the report's own rules hold.
        done = report("--colour", "--", "--check")
        self.assertEqual((done.returncode, done.stdout), (1, b""))

    def test_thresholds_without_check_are_the_reports_mistake(self):
        done = report("-w", "100,20%", *fixture("clean"))
        self.assertEqual((done.returncode, done.stdout), (1, b""))
        self.assertTrue(done.stderr.decode().startswith(
            "vesperix-report: --warning and --critical go with --check\nUsage: "))

    def test_skipped_lines_are_told_nowhere_and_judged_by_the_rows(self):
        done = self.check(*fixture("malformed"))
        state, text, _ = parse_status(self, done)  # nothing on standard error
        self.assertEqual(state, "OK")
        self.assertTrue(text.startswith("10.0.0.1: loss 25%, rta "), text)


if __name__ == "__main__":
    unittest.main()
