#!/usr/bin/env python3
"""What FeedMarquee costs the shell's process, measured under Wine with the stand-in shell: memory
with the demo feed and with a 10 MB feed, the libraries its load adds, wake-ups while the pointer
rests over the window, and how long a 10 MB saved copy delays the shell's ready signal. The shell
alone and the shell with the plug-in run alternately, so that drift of the machine falls on both
sides. Run through scripts/bench-footprint.sh, which builds and starts the Wine session."""
import argparse
import functools
import http.server
import os
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time

HEALTH_ITEMS = re.compile(r"(\d+) items")


def log(text):
    print(text, flush=True)


# ---- the process seen from Linux -------------------------------------------------------------

def status_fields(pid):
    fields = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return fields


def kilobytes(fields, key):
    return int(fields.get(key, "0 kB").split()[0])


def memory(pid):
    """Resident and anonymous resident (status) and private (smaps), in kB."""
    fields = status_fields(pid)
    private = 0
    with open(f"/proc/{pid}/smaps") as smaps:
        for line in smaps:
            if line.startswith(("Private_Clean:", "Private_Dirty:")):
                private += int(line.split()[1])
    return {"rss": kilobytes(fields, "VmRSS"), "anon": kilobytes(fields, "RssAnon"),
            "private": private}


def mapped_files(pid):
    """Resident kB of each mapped library, by file name."""
    files = {}
    current = None
    with open(f"/proc/{pid}/smaps") as smaps:
        for line in smaps:
            parts = line.split()
            if re.match(r"^[0-9a-f]+-[0-9a-f]+ ", line):
                path = parts[5] if len(parts) > 5 else ""
                name = os.path.basename(path).lower()
                current = name if re.search(r"\.(dll|drv|so[.0-9]*|exe|ocx|cpl)$", name) else None
                if current is not None:
                    files.setdefault(current, 0)
            elif current is not None and parts and parts[0] == "Rss:":
                files[current] += int(parts[1])
    return files


def context_switches(pid):
    """Voluntary and involuntary switches of each thread, by thread id."""
    counts = {}
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            fields = status_fields(f"{pid}/task/{task}")
        except OSError:
            continue  # the thread ended meanwhile
        counts[task] = (int(fields.get("voluntary_ctxt_switches", 0)) +
                        int(fields.get("nonvoluntary_ctxt_switches", 0)))
    return counts


# ---- the stand-in shell ----------------------------------------------------------------------

class Shell:
    """blackbox.exe in folder, driven through its control channel."""

    def __init__(self, folder, plugin):
        self.folder = folder
        self.sequence = 0
        self.lines = []
        self.arrived = threading.Condition()
        arguments = ["wine", "blackbox.exe", "--control", "--exec-log", "execute.log"]
        if plugin:
            arguments.append("FeedMarquee.dll")
        self.started = time.monotonic()
        self.process = subprocess.Popen(arguments, cwd=folder, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.pid = self.process.pid  # wine becomes the Windows process in place
        threading.Thread(target=self._read, daemon=True).start()
        self.ready_after = None
        self._wait(lambda: "ready" in self.lines, 60)
        self.ready_after = time.monotonic() - self.started

    def _read(self):
        for raw in self.process.stdout:
            with self.arrived:
                self.lines.append(raw.decode("utf-8", "replace").rstrip("\r\n"))
                self.arrived.notify_all()
        with self.arrived:
            self.lines.append("(closed)")
            self.arrived.notify_all()

    def _wait(self, predicate, seconds):
        with self.arrived:
            if not self.arrived.wait_for(lambda: predicate() or "(closed)" in self.lines,
                                         seconds) or not predicate():
                raise RuntimeError("the shell did not answer: " + " | ".join(self.lines[-5:]))

    def ask(self, line, seconds=30):
        """Sends one control line; returns its data lines."""
        self.sequence += 1
        number = self.sequence
        start = len(self.lines)
        self.process.stdin.write((line + "\n").encode())
        self.process.stdin.flush()
        pattern = re.compile(rf"^(ok|error) {number}( |$)")
        self._wait(lambda: any(pattern.match(x) for x in self.lines[start:]), seconds)
        data = []
        for x in self.lines[start:]:
            if pattern.match(x):
                break
            if x.startswith("- "):
                data.append(x[2:])
        return data

    def health(self):
        self.ask("record-clear")
        self.ask("broadcast @FeedMarqueeHealth")
        for line in self.ask("record"):
            at = line.find("@FeedMarqueeHealthReport ")
            if line.startswith("broadcast") and at >= 0:
                return line[at + len("@FeedMarqueeHealthReport "):]
        return ""

    def wait_for_items(self, seconds):
        """Waits until the health line reports a pass that brought items; returns their count."""
        deadline = time.monotonic() + seconds
        line = ""
        while time.monotonic() < deadline:
            line = self.health()
            found = HEALTH_ITEMS.search(line)
            if line.startswith(("Updated", "Not modified")) and found:
                return int(found.group(1))
            time.sleep(0.25)
        raise RuntimeError("no headlines in time; health: " + line)

    def quit(self):
        try:
            self.ask("quit", 60)
        except (RuntimeError, BrokenPipeError):
            pass
        try:
            self.process.stdin.close()
        except BrokenPipeError:
            pass
        self.process.wait(60)


# ---- feeds -------------------------------------------------------------------------------------

def write_large_feed(path, target_bytes):
    """An RSS document of about target_bytes whose items look like a news site's (about 850 bytes:
    categories, an author, and a description in CDATA that is half markup); returns the count."""
    words = ("harbour council river market tram ferry school museum festival library bakery "
             "storm winter football hospital square archive lantern station garden").split()
    head = ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<rss version="2.0" xmlns:dc="http://purl.org/dc/elements/1.1/"><channel>\n'
            "<title>Large Feed</title><link>http://127.0.0.1/</link>\n"
            "<description>A feed of many items</description>\n")
    parts = [head]
    size = len(head)
    n = 0
    while size < target_bytes:
        n += 1
        title = " ".join(words[(n * k) % len(words)] for k in range(1, 9)).capitalize()
        text = " ".join(words[(n + k * 7) % len(words)] for k in range(30))
        item = (f"<item><title>{title} {n}</title>\n"
                f"<link>http://127.0.0.1/news/2026/12/{n}/{words[n % 20]}-{words[n % 7]}</link>\n"
                f'<guid isPermaLink="false">tag:large.example,2026:{n}</guid>\n'
                f"<pubDate>Tue, 08 Dec 2026 {n % 24:02d}:{n % 60:02d}:00 GMT</pubDate>\n"
                f"<dc:creator>Desk {n % 13}</dc:creator>"
                f"<category>{words[n % 20]}</category><category>local</category>\n"
                f'<description><![CDATA[<p class="lead"><strong>Story {n}.</strong> {text}</p>'
                f'<p><a href="http://127.0.0.1/news/{n}">Read more</a></p>'
                f'<img src="http://127.0.0.1/img/{n}.jpg" width="640" height="360" alt="">]]>'
                "</description></item>\n")
        parts.append(item)
        size += len(item)
    parts.append("</channel></rss>\n")
    with open(path, "w") as out:
        out.write("".join(parts))
    return n


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class QuietServer(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # a shell that quits during a download resets the connection; that is expected


def serve_folder(folder):
    handler = functools.partial(QuietHandler, directory=folder)
    server = QuietServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def start_demo_server(root, out):
    port_file = os.path.join(out, "demo-server.port")
    with open(port_file, "w") as port_out:
        server = subprocess.Popen([sys.executable, os.path.join(root, "tools/demo-feed-server.py"),
                                   "--lifetime", "1800"], stdout=port_out,
                                  stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.getsize(port_file) > 0:
            break
        time.sleep(0.1)
    with open(port_file) as port_in:
        port = int(port_in.readline())
    return server, f"http://127.0.0.1:{port}/harbour-town.xml"


# ---- the runs ----------------------------------------------------------------------------------

def write_settings(folder, url):
    with open(os.path.join(folder, "feedmarquee.rc"), "w") as rc:
        rc.write("feedmarquee.x: 40\nfeedmarquee.y: 40\nfeedmarquee.width: 380\n"
                 "feedmarquee.height: 330\nfeedmarquee.highlight: 1\n"
                 "feedmarquee.showDesc: true\nfeedmarquee.wordWrap: true\n"
                 "feedmarquee.updateInterval(min): 60\n"
                 f"feedmarquee.feedUrl: {url}\n")


def remove(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def median_of(samples, key):
    return statistics.median(sample[key] for sample in samples)


def megabytes(kb):
    return kb / 1024.0


def settle(shell, seconds=1.5):
    time.sleep(seconds)
    shell.ask("ping")


def measure_memory(folder, demo_url, large_url, rounds):
    cache = os.path.join(folder, "feedmarquee.cache")
    alone, demo, large = [], [], []
    alone_files, demo_files = {}, {}
    demo_items = large_items = 0
    for round_number in range(rounds):
        shell = Shell(folder, plugin=False)
        settle(shell)
        alone.append(memory(shell.pid))
        alone_files = mapped_files(shell.pid)
        shell.quit()

        write_settings(folder, demo_url)
        remove(cache)
        shell = Shell(folder, plugin=True)
        demo_items = shell.wait_for_items(60)
        settle(shell)
        demo.append(memory(shell.pid))
        demo_files = mapped_files(shell.pid)
        shell.quit()

        write_settings(folder, large_url)
        remove(cache)
        shell = Shell(folder, plugin=True)
        large_items = shell.wait_for_items(120)
        settle(shell, 3)
        large.append(memory(shell.pid))
        shell.quit()
        log(f"  round {round_number + 1}: alone {megabytes(alone[-1]['rss']):.1f} MB, "
            f"demo {megabytes(demo[-1]['rss']):.1f} MB ({demo_items} items), "
            f"10 MB feed {megabytes(large[-1]['rss']):.1f} MB ({large_items} items)")
    return alone, demo, large, alone_files, demo_files, demo_items, large_items


def hover_wakeups(folder, demo_url, seconds):
    """Context switches a second of the shell's threads with the pointer resting over the window
    (or, alone, at the same place on the desktop)."""
    results = {}
    for plugin in (False, True):
        write_settings(folder, demo_url)
        shell = Shell(folder, plugin=plugin)
        if plugin:
            shell.wait_for_items(60)
            shell.ask("mouse move 120 90")
        else:
            shell.ask("cursor 160 130")
        settle(shell, 2)
        before = context_switches(shell.pid)
        time.sleep(seconds)
        after = context_switches(shell.pid)
        switches = sum(count - before.get(task, 0) for task, count in after.items())
        results[plugin] = switches / seconds
        if plugin:
            shell.ask("mouse leave")
        shell.quit()
    return results


def watched_folder_wakeups(folder, demo_url, seconds):
    """Context switches a second, while nothing changes, of the threads that wake when the settings
    file's folder changes (the watch; the window's own thread excepted): found by touching the
    folder after the idle span."""
    write_settings(folder, demo_url)
    remove(os.path.join(folder, "feedmarquee.cache"))
    shell = Shell(folder, plugin=True)
    shell.wait_for_items(60)
    shell.ask("cursor 5 5")
    settle(shell, 2)
    before = context_switches(shell.pid)
    time.sleep(seconds)
    idle = context_switches(shell.pid)
    with open(os.path.join(folder, "feedmarquee.rc"), "a") as rc:
        rc.write("# touched by the benchmark\n")
    time.sleep(1.5)
    touched = context_switches(shell.pid)
    shell.quit()
    woken = [task for task, count in touched.items()
             if count > idle.get(task, count) and task != str(shell.pid)]
    switches = sum(idle.get(task, 0) - before.get(task, 0) for task in woken)
    return switches / seconds, len(woken)


def start_delay(folder, large_url, rounds):
    """The plug-in's start (LoadLibrary and begin, as the shell times them) and the shell's
    ready signal, without and with a 10 MB saved copy, alternating."""
    cache = os.path.join(folder, "feedmarquee.cache")
    saved = os.path.join(folder, "saved-copy")
    write_settings(folder, large_url)
    remove(cache)
    shell = Shell(folder, plugin=True)
    shell.wait_for_items(120)
    shell.quit()
    if not os.path.exists(cache):
        raise RuntimeError("the plug-in wrote no saved copy")
    shutil.copyfile(cache, saved)
    copy_megabytes = os.path.getsize(saved) / 1048576.0
    without, with_copy = [], []
    for _ in range(rounds):
        for present, samples in ((False, without), (True, with_copy)):
            remove(cache)
            if present:
                shutil.copyfile(saved, cache)
            shell = Shell(folder, plugin=True)
            timing = shell.ask("start-time")[0].split()
            samples.append({"start": float(timing[1]) + float(timing[4]),
                            "ready": shell.ready_after * 1000.0})
            shell.quit()
    remove(cache)
    return without, with_copy, copy_megabytes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--shell", required=True, help="blackbox.exe")
    parser.add_argument("--dll", required=True, help="FeedMarquee.dll")
    parser.add_argument("--out", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--hover-seconds", type=float, default=20)
    arguments = parser.parse_args()

    folder = os.path.abspath(arguments.out)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(arguments.shell, folder)
    shutil.copy(arguments.dll, os.path.join(folder, "FeedMarquee.dll"))
    open(os.path.join(folder, "plugins.rc"), "w").close()  # the shell alone starts nothing
    feeds = os.path.join(folder, "feeds")
    os.makedirs(feeds)
    large_count = write_large_feed(os.path.join(feeds, "large.xml"), 10 * 1000 * 1000)
    static_server = serve_folder(feeds)
    large_url = f"http://127.0.0.1:{static_server.server_address[1]}/large.xml"
    demo_server, demo_url = start_demo_server(arguments.root, folder)
    try:
        log(f"plug-in: {arguments.dll} ({os.path.getsize(arguments.dll)} bytes)")
        log(f"10 MB feed: {large_count} items")
        log("memory (the shell alone, with the demo feed, with the 10 MB feed; alternating):")
        (alone, demo, large, alone_files, demo_files, demo_items,
         large_items) = measure_memory(folder, demo_url, large_url, arguments.rounds)
        for name, samples in (("shell alone", alone), ("with demo feed", demo),
                              ("with 10 MB feed", large)):
            log(f"  {name:16s} resident {megabytes(median_of(samples, 'rss')):6.1f} MB, "
                f"anonymous {megabytes(median_of(samples, 'anon')):6.1f} MB, "
                f"private {megabytes(median_of(samples, 'private')):6.1f} MB")
        demo_added = median_of(demo, "rss") - median_of(alone, "rss")
        demo_private = median_of(demo, "private") - median_of(alone, "private")
        log(f"  the plug-in adds {megabytes(demo_added):.1f} MB resident "
            f"({megabytes(demo_private):.1f} MB private) with the demo feed")
        per_item = ((median_of(large, "rss") - median_of(demo, "rss")) * 1024.0 /
                    max(large_items - demo_items, 1))
        per_item_anon = ((median_of(large, "anon") - median_of(demo, "anon")) * 1024.0 /
                         max(large_items - demo_items, 1))
        log(f"  10 MB feed: {per_item:.0f} bytes/item resident ({per_item_anon:.0f} anonymous)")

        added = {name: kb for name, kb in demo_files.items() if name not in alone_files}
        log(f"libraries the plug-in's load adds ({len(added)}, "
            f"{megabytes(sum(added.values())):.1f} MB resident):")
        for name, kb in sorted(added.items(), key=lambda item: -item[1]):
            log(f"  {name:28s} {kb:6d} kB")

        log(f"wake-ups with the pointer resting ({arguments.hover_seconds:.0f} s each):")
        wakeups = hover_wakeups(folder, demo_url, arguments.hover_seconds)
        log(f"  shell alone: {wakeups[False]:.1f} context switches/s")
        log(f"  with the plug-in, over its window: {wakeups[True]:.1f} context switches/s")

        watch_wakeups, watch_threads = watched_folder_wakeups(folder, demo_url,
                                                              arguments.hover_seconds)
        log(f"  the settings folder's watch ({watch_threads} thread(s) woken by a change): "
            f"{watch_wakeups:.1f} context switches/s while nothing changes")

        log("start with a 10 MB saved copy (alternating, medians):")
        without, with_copy, copy_megabytes = start_delay(folder, large_url,
                                                         max(arguments.rounds * 3, 9))
        log(f"  saved copy {copy_megabytes:.1f} MB")
        log(f"  without it: plug-in start {median_of(without, 'start'):.1f} ms, "
            f"ready after {median_of(without, 'ready'):.0f} ms")
        log(f"  with it:    plug-in start {median_of(with_copy, 'start'):.1f} ms, "
            f"ready after {median_of(with_copy, 'ready'):.0f} ms")
        delay = median_of(with_copy, "start") - median_of(without, "start")
        log(f"idle wakeups: {watch_wakeups:.0f}/s with the settings folder watched")
        log(f"load: {open('/proc/loadavg').read().strip()}")
        log(f"footprint: +{megabytes(demo_added):.1f} MB demo, {per_item:.0f} bytes/item, "
            f"{wakeups[True]:.0f} wakeups/s hovering, {delay:.1f} ms start delay")
    finally:
        demo_server.terminate()
        static_server.shutdown()


if __name__ == "__main__":
    main()
