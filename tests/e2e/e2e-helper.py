#!/usr/bin/python3
"""The end-to-end scripts' helpers, one subcommand each.

boxes SHOT.ppm OX OY NAME=LEFT,TOP,W,H...  "NAME red=N colours=N" a box (relative
    to OX,OY): red counts pixels of exactly (255,0,0), so anti-aliased edges
    (blends) do not count; one colour means nothing is drawn there.
pixels SHOT.ppm X,Y...        "R,G,B" of each point
layout-boxes TABLE FORM       "NAME=LEFT,TOP,W,H" in pixels of each control of FORM in the
                              design's table (tests/data/layout.txt)
wm-state WIN add|remove ATOM  asks the window manager for a _NET_WM_STATE change
clients                       "PID ROLE" of each window the window manager keeps (ROLE - for none)
lnk FILE.lnk                  "target=PATH" and "workdir=PATH" of a Windows shortcut
panel WIDTH                   a dock along the right edge of the screen, WIDTH wide, that keeps
                              that strip from other windows (a panel); stays until killed
serve DIR PORTFILE            HTTP on a free loopback port, written to PORTFILE
free-port                     a loopback port nobody listens on
"""
import ctypes as c
import functools
import http.server
import os
import re
import signal
import socket
import struct
import sys


def read_ppm(path):  # 8-bit binary PPM, as ImageMagick writes it
    data = open(path, "rb").read()
    m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    width, height = (int(m[1]), int(m[2])) if m else (0, 0)
    if not m or len(data) - m.end() < width * height * 3:
        sys.exit(f"{path}: not a whole 8-bit binary PPM")
    return width, height, data[m.end():]


def boxes(shot, ox, oy, *boxes):
    width, height, px = read_ppm(shot)
    for box in boxes:
        name, rect = box.split("=")
        left, top, w, h = map(int, rect.split(","))
        x0, y0 = int(ox) + left, int(oy) + top
        if x0 < 0 or y0 < 0 or x0 + w > width or y0 + h > height:
            sys.exit(f"box {name} lies outside the {width}x{height} screenshot")
        colours, red = set(), 0
        for y in range(y0, y0 + h):
            row = px[(y * width + x0) * 3:(y * width + x0 + w) * 3]
            cells = [row[i:i + 3] for i in range(0, len(row), 3)]
            colours.update(cells)
            red += cells.count(b"\xff\x00\x00")
        print(f"{name} red={red} colours={len(colours)}")


def pixels(shot, *points):
    width, _, px = read_ppm(shot)
    for point in points:
        x, y = map(int, point.split(","))
        print("%d,%d,%d" % tuple(px[3 * (y * width + x):][:3]))


def layout_boxes(table, form):  # form control left top width height ...
    for line in open(table, encoding="utf-8"):
        fields = line.split()
        if fields and fields[0] == form:
            print(fields[1] + "=" + ",".join(fields[2:6]))


def xlib():
    x = c.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = c.c_void_p
    x.XOpenDisplay.argtypes = [c.c_char_p]
    x.XInternAtom.restype = c.c_ulong
    x.XInternAtom.argtypes = [c.c_void_p, c.c_char_p, c.c_int]
    x.XDefaultRootWindow.restype = c.c_ulong
    x.XDefaultRootWindow.argtypes = [c.c_void_p]
    display = x.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the display")
    return x, display


class ClientMessage(c.Structure):
    _fields_ = [("type", c.c_int), ("serial", c.c_ulong), ("send_event", c.c_int),
                ("display", c.c_void_p), ("window", c.c_ulong),
                ("message_type", c.c_ulong), ("format", c.c_int), ("data", c.c_long * 5)]


class XEvent(c.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", c.c_long * 24)]


def wm_state(window, change, atom):  # the EWMH client message a pager sends
    x, display = xlib()
    event = XEvent()
    m = event.xclient
    m.type, m.window, m.format = 33, int(window), 32  # ClientMessage
    m.message_type = x.XInternAtom(display, b"_NET_WM_STATE", 0)
    m.data[0] = {"remove": 0, "add": 1}[change]
    m.data[1] = x.XInternAtom(display, atom.encode(), 0)
    m.data[3] = 2  # from a pager: the window manager obeys at once
    x.XSendEvent.argtypes = [c.c_void_p, c.c_ulong, c.c_int, c.c_long, c.POINTER(XEvent)]
    x.XSync.argtypes = [c.c_void_p, c.c_int]
    # SubstructureNotify | SubstructureRedirect on the root window
    x.XSendEvent(display, x.XDefaultRootWindow(display), 0, 3 << 19, c.byref(event))
    x.XSync(display, 0)


def clients():  # one X connection for what would take an xprop per window
    x, display = xlib()
    x.XGetWindowProperty.argtypes = [c.c_void_p, c.c_ulong, c.c_ulong, c.c_long, c.c_long, c.c_int,
                                     c.c_ulong, c.POINTER(c.c_ulong), c.POINTER(c.c_int),
                                     c.POINTER(c.c_ulong), c.POINTER(c.c_ulong),
                                     c.POINTER(c.c_void_p)]
    x.XFree.argtypes = [c.c_void_p]

    def get(window, name, kind):
        actual, fmt, count, left, data = c.c_ulong(), c.c_int(), c.c_ulong(), c.c_ulong(), c.c_void_p()
        atom = x.XInternAtom(display, name, 0)
        if x.XGetWindowProperty(display, window, atom, 0, 4096, 0, kind, c.byref(actual), c.byref(fmt),
                                c.byref(count), c.byref(left), c.byref(data)) != 0 or not data.value:
            return None
        if fmt.value == 32:
            value = list(c.cast(data, c.POINTER(c.c_ulong))[:count.value])
        else:
            value = c.string_at(data, count.value).decode(errors="replace")
        x.XFree(data)
        return value

    for window in get(x.XDefaultRootWindow(display), b"_NET_CLIENT_LIST", 33) or []:  # XA_WINDOW
        pid = (get(window, b"_NET_WM_PID", 6) or [0])[0]  # XA_CARDINAL
        print(pid, get(window, b"WM_WINDOW_ROLE", 31) or "-")  # XA_STRING


def lnk(path):  # the Shell Link format ([MS-SHLLINK]): header, ID list, link info, strings
    data = open(path, "rb").read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    target = ""
    if flags & 0x2:  # HasLinkInfo
        size, header = struct.unpack_from("<II", data, at)
        base = struct.unpack_from("<I", data, at + 16)[0]
        if header >= 0x24:  # the Unicode base path
            unicode_base = struct.unpack_from("<I", data, at + 28)[0]
            target = data[at + unicode_base:at + size].decode("utf-16-le", "replace").split("\0")[0]
        elif base:
            target = data[at + base:data.index(b"\0", at + base)].decode("mbcs" if os.name == "nt" else "latin-1")
        at += size
    strings = {}
    for bit, name in ((0x4, "name"), (0x8, "relative"), (0x10, "workdir"), (0x20, "arguments"), (0x40, "icon")):
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            width = 2 if flags & 0x80 else 1
            text = data[at + 2:at + 2 + count * width].decode("utf-16-le" if width == 2 else "latin-1")
            strings[name] = text.split("\0")[0]
            at += 2 + count * width
    print("target=" + target)
    print("workdir=" + strings.get("workdir", ""))


def panel(width):
    x, display = xlib()
    width = int(width)
    x.XDisplayWidth.argtypes = x.XDisplayHeight.argtypes = [c.c_void_p, c.c_int]
    screen_w, screen_h = x.XDisplayWidth(display, 0), x.XDisplayHeight(display, 0)
    x.XCreateSimpleWindow.restype = c.c_ulong
    x.XCreateSimpleWindow.argtypes = [c.c_void_p, c.c_ulong, c.c_int, c.c_int, c.c_uint, c.c_uint,
                                      c.c_uint, c.c_ulong, c.c_ulong]
    window = x.XCreateSimpleWindow(display, x.XDefaultRootWindow(display), screen_w - width, 0,
                                   width, screen_h, 0, 0, 0x336699)
    x.XChangeProperty.argtypes = [c.c_void_p, c.c_ulong, c.c_ulong, c.c_ulong, c.c_int, c.c_int,
                                  c.c_void_p, c.c_int]
    atom = lambda name: x.XInternAtom(display, name, 0)
    dock = (c.c_ulong * 1)(atom(b"_NET_WM_WINDOW_TYPE_DOCK"))
    x.XChangeProperty(display, window, atom(b"_NET_WM_WINDOW_TYPE"), 4, 32, 0, dock, 1)  # XA_ATOM
    # left, right, top, bottom, then the start and end of each strip
    strut = (c.c_ulong * 12)(0, width, 0, 0, 0, 0, 0, screen_h - 1, 0, 0, 0, 0)
    x.XChangeProperty(display, window, atom(b"_NET_WM_STRUT_PARTIAL"), 6, 32, 0, strut, 12)
    x.XChangeProperty(display, window, atom(b"_NET_WM_STRUT"), 6, 32, 0, strut, 4)  # XA_CARDINAL
    x.XMapWindow.argtypes = [c.c_void_p, c.c_ulong]
    x.XMapWindow(display, window)
    x.XFlush.argtypes = [c.c_void_p]
    x.XFlush(display)
    signal.pause()


def serve(directory, portfile):
    handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=directory)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    with open(portfile + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(portfile + ".tmp", portfile)
    server.serve_forever()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        print(s.getsockname()[1])


COMMANDS = {"boxes": boxes, "pixels": pixels, "layout-boxes": layout_boxes, "wm-state": wm_state,
            "clients": clients, "lnk": lnk, "panel": panel, "serve": serve, "free-port": free_port}
if __name__ == "__main__":
    if len(sys.argv) < 2 or sys.argv[1] not in COMMANDS:
        sys.exit(__doc__)
    COMMANDS[sys.argv[1]](*sys.argv[2:])
