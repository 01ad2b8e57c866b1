"""A private X display for programs with windows: Xvfb on a free display number, optionally openbox
(minimise, maximise and full screen need a window manager), and the few looks at the display that
the GUI tests and the demo share (xdotool for windows, imagemagick for pixels)."""

import os
import shutil
import subprocess
import time


class VirtualDisplay:
    """start() sets DISPLAY in os.environ and returns the display name; stop() ends both programs."""

    def __init__(self, size="1280x800x24", window_manager=True):
        self.size, self.window_manager = size, window_manager
        self.procs = []

    def start(self):
        if not shutil.which("Xvfb"):
            raise RuntimeError("Xvfb is not installed")
        r, w = os.pipe()
        # -displayfd: Xvfb picks a free number and writes it once it accepts clients.
        x = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", self.size, "-nolisten", "tcp"],
                             pass_fds=(w,), stderr=subprocess.DEVNULL)
        os.close(w)
        # The number and its newline come in two writes: closing the pipe after the first would
        # kill Xvfb with SIGPIPE on the second, moments after it said it was ready.
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(r, 16)
            if not chunk:
                break
            number += chunk
        os.close(r)
        number = number.decode().strip()
        self.procs.append(x)
        if not number:
            self.stop()
            raise RuntimeError("Xvfb did not start")
        os.environ["DISPLAY"] = ":" + number
        if self.window_manager and shutil.which("openbox"):
            self.procs.append(subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            time.sleep(0.5)
        return os.environ["DISPLAY"]

    def stop(self):
        for p in reversed(self.procs):
            p.terminate()
            p.wait(10)
        self.procs = []


def wait_for(predicate, timeout, step=0.2):
    """predicate's first true value within timeout seconds, else its last value."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def visible_windows(name):
    """Ids of the mapped windows whose title matches name."""
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name], capture_output=True, text=True)
    return r.stdout.split()


def window_geometry(window):
    """(x, y, width, height) of a window, frame not included."""
    out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], capture_output=True,
                         text=True).stdout
    g = dict(line.split("=", 1) for line in out.split())
    return tuple(int(g[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))


def screenshot(path):
    """The whole screen into path (PNG); False if imagemagick could not take it."""
    r = subprocess.run(["import", "-window", "root", path], capture_output=True, timeout=30)
    return r.returncode == 0


def pixel(image, x, y):
    """(r, g, b) of one pixel of an image file, 8 bits each."""
    ppm = subprocess.run(["convert", image, "-crop", "1x1+%d+%d" % (x, y), "-depth", "8", "ppm:-"],
                         capture_output=True, check=True).stdout
    return tuple(ppm[-3:])


def dark_share(image, x, y, width, height):
    """The share (0 to 1) of the pixels in a rectangle of an image that are darker than mid-grey."""
    out = subprocess.run(["convert", image, "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage",
                          "-colorspace", "gray", "-threshold", "50%", "-format", "%[fx:mean]", "info:"],
                         capture_output=True, text=True, check=True).stdout
    return 1.0 - float(out)
