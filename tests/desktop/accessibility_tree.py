#!/usr/bin/python3
"""The real player as a screen reader and a keyboard user meet it.

Runs inside a private session bus (dbus-run-session), which starts the
accessibility bus on demand. Starts Xvfb, the demo station on free ports and
the player on them, then reads the player's AT-SPI tree: the Play button must
be a named push button, the volume slider must expose its value, the station
and song labels must read as text. Then it works the window as a listener
without a mouse would: Enter on Play starts the station (the song label gets
the demo track's title), Tab reaches the slider, the arrow, End and Page Down
keys move the volume (the volume label follows), the slider's value set over
AT-SPI moves it too, and Shift+F10 opens the menu.

Usage: accessibility_tree.py PROGRAM_DIR
Exit status 77 (skipped) only when a program it needs is not installed.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77


def skip(why):
    print(f"SKIP: {why}")
    sys.exit(SKIP)


try:
    import pyatspi
except ImportError:
    skip("python3-pyatspi is not installed")

for tool in ("Xvfb", "xdotool"):
    if shutil.which(tool) is None:
        skip(f"{tool} is not installed")
if not os.path.exists("/usr/libexec/at-spi-bus-launcher"):
    skip("at-spi2-core is not installed")
if "DBUS_SESSION_BUS_ADDRESS" not in os.environ:
    sys.exit("run me under dbus-run-session")

program_dir = sys.argv[1]
children = []


def start(args, **kwargs):
    process = subprocess.Popen(args, **kwargs)
    children.append(process)
    return process


def wait_for(what, predicate, seconds=20.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError(f"timed out waiting for {what}")


def descendants(node, depth=0):
    yield node, depth
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from descendants(child, depth + 1)


def find(root, role, name=None):
    for node, _ in descendants(root):
        if node.getRole() == role and (name is None or node.name == name):
            return node
    return None


def value_of(node):
    return node.queryValue().currentValue


def focused(node):
    return node.getState().contains(pyatspi.STATE_FOCUSED)


def main():
    runtime = tempfile.mkdtemp(prefix="kirasol-a11y-")
    os.chmod(runtime, 0o700)
    env = dict(os.environ)
    # The sound server of the test run stays reachable; the player's own
    # single-instance lock and settings go to folders of this test.
    pulse = os.environ.get("PULSE_RUNTIME_PATH") or os.path.join(os.environ.get("XDG_RUNTIME_DIR", ""), "pulse")
    if "PULSE_SERVER" not in env and os.path.exists(os.path.join(pulse, "native")):
        env["PULSE_SERVER"] = "unix:" + os.path.join(pulse, "native")
    env.update(XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(runtime, "config"), HOME=runtime,
               QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")

    # A display number nobody holds (other Xvfb servers may run beside us).
    display = next(n for n in range(200 + os.getpid() % 500, 1000)
                   if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{n}"))
    xvfb = start(["Xvfb", f":{display}", "-screen", "0", "800x600x24", "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
    wait_for("Xvfb", lambda: xvfb.poll() is None and os.path.exists(f"/tmp/.X11-unix/X{display}"), 10)
    env["DISPLAY"] = f":{display}"

    station = start([os.path.join(program_dir, "kirasol-demo-station"), "--stream-port", "0", "--http-port", "0"],
                    stdout=subprocess.PIPE, text=True)
    ready = station.stdout.readline().split()  # ready stream=P http=P
    stream_port = ready[1].split("=")[1]
    http_port = ready[2].split("=")[1]

    player = start([os.path.join(program_dir, "kirasol-radio"), "--station", f"http://127.0.0.1:{stream_port}/",
                    "--update-url", f"http://127.0.0.1:{http_port}/update/"], env=env)

    desktop = pyatspi.Registry.getDesktop(0)

    def player_app():
        if player.poll() is not None:
            raise AssertionError(f"the player ended with status {player.returncode}")
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.get_process_id() == player.pid:
                return app
        return None

    # The splash counts down and fades before the main window appears.
    app = wait_for("the player on the accessibility bus", player_app, 30)
    def main_window():
        for i in range(app.childCount):
            window = app.getChildAtIndex(i)
            if window is not None and window.getRole() == pyatspi.ROLE_FRAME and window.name == "Kirasol Radio" and \
                    find(window, pyatspi.ROLE_PUSH_BUTTON, "เล่น") is not None:
                return window
        return None

    frame = wait_for("the main window", main_window, 30)

    print("AT-SPI tree of the main window:")
    for node, depth in descendants(frame):
        extra = ""
        if node.getRole() == pyatspi.ROLE_SLIDER:
            v = node.queryValue()
            extra = f" value={v.currentValue:g} range={v.minimumValue:g}..{v.maximumValue:g}"
        description = f" ({node.description})" if node.description else ""
        print(f"{'  ' * depth}[{node.getRoleName()}] {node.name!r}{description}{extra}")

    play = find(frame, pyatspi.ROLE_PUSH_BUTTON, "เล่น")
    assert play.description == "Play!", play.description
    assert "Press" in [play.queryAction().getName(i) for i in range(play.queryAction().nActions)]
    slider = find(frame, pyatspi.ROLE_SLIDER, "ระดับเสียง")
    assert slider is not None, "no slider named ระดับเสียง"
    assert (value_of(slider), slider.queryValue().minimumValue, slider.queryValue().maximumValue) == (50, 0, 100)
    labels = {node.description: node for node, _ in descendants(frame)
              if node.getRole() == pyatspi.ROLE_LABEL and node.description}
    song = labels["เพลงที่กำลังเล่น"]
    volume = labels["ระดับเสียง"]
    assert labels["ชื่อสถานี"].name, "the station label reads as empty"
    assert song.name == "Current Song ", song.name
    assert volume.name == "(50%)", volume.name
    for name in ("หยุด", "หยุดเสียง", "ขอเพลง", "ห้องแชท", "ย่อหน้าต่าง", "ออกจากโปรแกรม", "ปิดหน้าต่าง"):
        assert find(frame, pyatspi.ROLE_PUSH_BUTTON, name) is not None, f"no push button {name}"

    # The keyboard: the window gets the X input focus, and with it Play.
    window = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(player.pid), "--name", "^Kirasol Radio$"],
                            env=env, capture_output=True, text=True).stdout.split()[0]
    subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, check=True)

    def keys(*names):
        subprocess.run(["xdotool", "key", "--delay", "60", *names], env=env, check=True)

    wait_for("Play to have the focus", lambda: focused(play), 5)
    keys("Return")
    title = wait_for("a song title after Enter on Play",
                     lambda: song.name if song.name not in ("Current Song ", "") else None, 30)
    print(f"after Enter on Play the song label reads {title!r}")

    keys("Tab", "Tab", "Tab", "Tab", "Tab")
    wait_for("the slider to have the focus after five Tabs", lambda: focused(slider))
    for key, expected in (("Right", 51), ("Left", 50), ("End", 100), ("Page_Down", 90), ("Home", 0), ("Page_Up", 10)):
        keys(key)
        wait_for(f"volume {expected} after {key}", lambda: value_of(slider) == expected and
                 volume.name == f"({expected}%)", 5)
    slider.queryValue().currentValue = 30
    wait_for("volume 30 set over AT-SPI", lambda: volume.name == "(30%)", 5)
    print("keys Right, Left, End, Page Down, Home, Page Up and the AT-SPI value moved the volume as expected")

    # The menu is a window of its own (its AT-SPI object is not always
    # announced to a client that already read the tree): look for it on X.
    def visible_windows():
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(player.pid), "--name", ""],
                               env=env, capture_output=True, text=True).stdout.split()
        return set(found)

    before = visible_windows()
    keys("shift+F10")
    wait_for("the menu after Shift+F10", lambda: len(visible_windows() - before) == 1, 5)
    keys("Escape")
    wait_for("the menu to close after Escape", lambda: visible_windows() == before, 5)
    print("Shift+F10 opened the menu, Escape closed it")


try:
    main()
    print("PASS")
finally:
    for process in reversed(children):
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
